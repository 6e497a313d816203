#include "printing/job/raster_job.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/paper_measurement.h"
#include "printing/cups/raster_page_header.h"
#include "printing/cups/same_sheet.h"

namespace vardelle::printing {
namespace {

constexpr const char* kDocumentFailed =
    "The print document could not be created. Nothing was submitted.";

struct RasterCloser {
  void operator()(cups_raster_t* raster) const noexcept { cupsRasterClose(raster); }
};
using RasterStream = std::unique_ptr<cups_raster_t, RasterCloser>;

// A CUPS raster (version 2, compressed) written into a sink. libcups writes the sync word and
// the page headers; the rows are packed here in the same encoding, because libcups' writer
// compares every row it is handed with the one before and every pixel with its neighbour: at
// 5760 × 2880 dpi an A4 sheet is 1.6 billion pixels, nearly all of them repeats that the drawing
// already knows about.
class RasterWriter {
 public:
  explicit RasterWriter(const ByteSink& sink) : sink_(sink) {
    stream_.reset(cupsRasterOpenIO(&RasterWriter::fromLibcups, this, CUPS_RASTER_WRITE_COMPRESSED));
    rethrow();
    if (!stream_) throw PrintFailure(kDocumentFailed);
  }

  off_t written() const { return written_; }

  void header(cups_page_header2_t header) {
    const unsigned ok = cupsRasterWriteHeader2(stream_.get(), &header);
    rethrow();
    if (!ok) throw PrintFailure(kDocumentFailed);
    width_ = header.cupsWidth;
  }

  // `count` rows like `row` (width × 3 samples): packed once, then written with a repeat count of
  // at most 256 rows per record.
  void rows(std::uint32_t count, const std::uint16_t* row) {
    pack(row);
    while (count > 0) {
      const std::uint32_t repeat = std::min<std::uint32_t>(count, 256);
      packed_[0] = static_cast<unsigned char>(repeat - 1);
      put({reinterpret_cast<const char*>(packed_.data()), packed_.size()});
      count -= repeat;
    }
  }

 private:
  static ssize_t fromLibcups(void* context, unsigned char* bytes, size_t length) noexcept {
    auto* self = static_cast<RasterWriter*>(context);
    // No exception may cross libcups' frames: kept here and thrown once it has returned.
    try {
      self->put({reinterpret_cast<const char*>(bytes), length});
      return static_cast<ssize_t>(length);
    } catch (...) {
      self->failure_ = std::current_exception();
      return -1;
    }
  }

  void put(std::string_view bytes) {
    sink_(bytes);
    written_ += static_cast<off_t>(bytes.size());
  }

  void rethrow() {
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }

  static std::uint64_t pixel(const std::uint16_t* row, std::uint32_t x) {
    std::uint64_t value = 0;
    std::memcpy(&value, row + std::size_t(x) * 3, 6);
    return value;
  }

  // CUPS raster's modified PackBits on whole pixels: a byte n below 128 repeats the next pixel
  // n + 1 times; 257 - n for n from 2 to 128 introduces n pixels as they are. The first byte is
  // the row's repeat count, set by the caller.
  void pack(const std::uint16_t* row) {
    packed_.assign(1, 0);
    auto append = [&](std::uint32_t x, std::uint32_t count) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(row + std::size_t(x) * 3);
      packed_.insert(packed_.end(), bytes, bytes + std::size_t(count) * 6);
    };
    for (std::uint32_t x = 0; x < width_;) {
      const std::uint64_t first = pixel(row, x);
      std::uint32_t run = 1;
      while (run < 128 && x + run < width_ && pixel(row, x + run) == first) ++run;
      if (run > 1 || x + 1 == width_) {
        packed_.push_back(static_cast<unsigned char>(run - 1));
        append(x, 1);
        x += run;
        continue;
      }
      // Pixels as they are, up to where two equal ones start a run.
      std::uint32_t count = 1;
      while (count < 128 && x + count < width_ &&
             (x + count + 1 == width_ || pixel(row, x + count) != pixel(row, x + count + 1))) {
        ++count;
      }
      packed_.push_back(static_cast<unsigned char>(count == 1 ? 0 : 257 - count));
      append(x, count);
      x += count;
    }
  }

  const ByteSink& sink_;
  RasterStream stream_;
  std::exception_ptr failure_;
  off_t written_ = 0;
  std::uint32_t width_ = 0;
  std::vector<unsigned char> packed_;
};

// The turn of orientedGeometry's sheet on the media in the grid's terms.
int turnDegrees(Orientation turn) {
  switch (turn) {
    case Orientation::reverseLandscape:
      return 90;
    case Orientation::landscape:
      return -90;
    case Orientation::portrait:
    case Orientation::reversePortrait:
      break;
  }
  return 0;
}

}  // namespace

RasterJob planRasterJob(const QueuePpd& ppd, const PrintSettings& settings,
                        const std::vector<PrintOption>& options,
                        const artwork::PaperGeometry& measured) {
  RasterJob job;
  job.header = sixteenBitPageHeader(ppd, options);
  const cups_page_header2_t& h = job.header;

  const Orientation turn = sheetTurn(ppd, settings.orientation().value_or(Orientation::portrait));
  job.grid.width = h.cupsWidth;
  job.grid.height = h.cupsHeight;
  job.grid.dpiX = h.HWResolution[0];
  job.grid.dpiY = h.HWResolution[1];
  job.grid.area = {h.cupsImagingBBox[0], h.cupsImagingBBox[1],
                   h.cupsImagingBBox[2] - h.cupsImagingBBox[0],
                   h.cupsImagingBBox[3] - h.cupsImagingBBox[1]};
  job.grid.media = {h.cupsPageSize[0], h.cupsPageSize[1]};
  job.grid.turn = turnDegrees(turn);

  // The raster is the sheet that was measured: the same PPD entry, the same size.
  const bool turned = job.grid.turn != 0;
  const double sheetWidth = turned ? measured.height : measured.width;
  const double sheetHeight = turned ? measured.width : measured.height;
  const std::optional<std::string> entry = settings.pageSize();
  const std::string_view name = h.cupsPageSizeName;
  const bool sameEntry =
      !entry || name == *entry || (entry->starts_with("Custom.") && name == "Custom");
  if (!sameEntry ||
      !(std::fabs(sheetWidth - job.grid.media.width) <= kRasterToMeasuredTolerancePt) ||
      !(std::fabs(sheetHeight - job.grid.media.height) <= kRasterToMeasuredTolerancePt)) {
    throw PrintFailure(kPaperChanged);
  }
  return job;
}

std::vector<FileSpan> writeRasterDocument(const RasterJob& job, const artwork::Artwork& artwork,
                                          const artwork::PaperGeometry& paper, double scalePercent,
                                          double offsetXmm, double offsetYmm,
                                          const std::vector<int>& sides, const ByteSink& sink) {
  RasterWriter writer(sink);
  const FileSpan sync{0, writer.written()};
  std::vector<FileSpan> sheets;
  for (const artwork::ArtworkPage& page : artwork.pages) {
    const off_t start = writer.written();
    writer.header(job.header);
    artwork::drawDeviceSheet(page, paper, scalePercent, offsetXmm, offsetYmm, job.grid,
                             [&](std::uint32_t, std::uint32_t count, const std::uint16_t* row) {
                               writer.rows(count, row);
                             });
    sheets.push_back({start, writer.written() - start});
  }
  std::optional<FileSpan> blank;
  if (std::any_of(sides.begin(), sides.end(), [](int side) { return side < 0; })) {
    const off_t start = writer.written();
    writer.header(job.header);
    const std::vector<std::uint16_t> white(size_t(job.grid.width) * 3, 0xFFFF);
    writer.rows(job.grid.height, white.data());
    blank = FileSpan{start, writer.written() - start};
  }

  std::vector<FileSpan> spans{sync};
  auto add = [&](const FileSpan& span) {
    if (spans.back().offset + spans.back().length == span.offset) {
      spans.back().length += span.length;
    } else {
      spans.push_back(span);
    }
  };
  if (sides.empty()) {
    for (const FileSpan& sheet : sheets) add(sheet);
  }
  for (int side : sides) {
    if (side < 0) {
      add(*blank);
    } else if (size_t(side) < sheets.size()) {
      add(sheets[size_t(side)]);
    }
  }
  return spans;
}

}  // namespace vardelle::printing
