#include "artwork/color_managed.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "artwork/page_drawing.h"
#include "artwork/rasterizer.h"
#include "artwork/sheet_document.h"
#include "base/diagnostics.h"
#include "base/files.h"
#include "base/print_failure.h"
#include "color/managed_conversion.h"

namespace vardelle::artwork {

namespace {

constexpr const char* kRasterFailed = "Could not allocate the 16-bit color-conversion image.";
constexpr const char* kImageFailed = "Could not create the converted printer-profile image.";

// Rows handed to the engine at a time: large enough to keep every core busy, small enough that
// the staging buffer stays a few megabytes beside the page.
constexpr std::size_t kBandBytes = 8u << 20;

std::uint32_t bandRows(std::uint32_t width, int components) {
  const std::size_t rowBytes = std::size_t(width) * components * 2;
  return static_cast<std::uint32_t>(
      std::max<std::size_t>(1, kBandBytes / std::max<std::size_t>(rowBytes, 1)));
}

/// The converted page's samples: width × height packed 16-bit RGB (every sample is written).
std::shared_ptr<Pixels> convertedBuffer(RasterSize size) {
  auto pixels = std::make_shared<Pixels>();
  pixels->width = size.width;
  pixels->height = size.height;
  pixels->bitDepth = 16;
  pixels->channels = 3;
  pixels->hasAlpha = false;
  try {
    pixels->bytes.resize(std::size_t(size.width) * size.height * 6);
  } catch (const std::bad_alloc&) {
    throw PrintFailure(kImageFailed);
  }
  return pixels;
}

/// Feeds source rows to the transform a band at a time, writing converted rows into `out`.
class BandConverter {
 public:
  BandConverter(const color::PageTransform& transform, Pixels& out)
      : transform_(transform),
        out_(out),
        components_(transform.sourceComponents()),
        rows_(bandRows(out.width, components_)) {
    try {
      band_.assign(std::size_t(rows_) * out.width * components_, 65535);
    } catch (const std::bad_alloc&) {
      throw PrintFailure(kRasterFailed);
    }
  }

  /// The staging row for source row `y` (rows must come in order from the top).
  std::uint16_t* row(std::uint32_t y) {
    if (y - first_ >= rows_) flush();
    filled_ = y - first_ + 1;
    return band_.data() + std::size_t(y - first_) * out_.width * components_;
  }

  /// Converts what is staged.
  void flush() {
    if (filled_ > 0) {
      auto* destination = reinterpret_cast<std::uint16_t*>(out_.bytes.data()) +
                          std::size_t(first_) * out_.width * 3;
      transform_.convert(band_.data(), std::size_t(out_.width) * components_, destination,
                         std::size_t(out_.width) * 3, out_.width, filled_);
    }
    first_ += filled_;
    filled_ = 0;
  }

 private:
  const color::PageTransform& transform_;
  Pixels& out_;
  int components_;
  std::uint32_t rows_;
  std::uint32_t first_ = 0;
  std::uint32_t filled_ = 0;
  std::vector<std::uint16_t> band_;
};

std::string matrixOperator(const AffineTransform& m) {
  return pdfNumber(m.a, 10) + " " + pdfNumber(m.b, 10) + " " + pdfNumber(m.c, 10) + " " +
         pdfNumber(m.d, 10) + " " + pdfNumber(m.tx, 10) + " " + pdfNumber(m.ty, 10) + " cm";
}

/// Renders the page's visible box upright onto exactly width × height pixels of 16-bit RGB in
/// the working space, and converts it.
std::shared_ptr<Pixels> convertPdfPage(const ArtworkPage& page, const PdfPage& pdf, RasterSize size,
                                       const color::PageTransform& transform,
                                       const std::string& workingProfilePath) {
  // The one-page sheet is the page's own size in points, the visible box mapped onto all of it
  // the way the preview maps it onto its placed rectangle.
  const Size sheetSize = page.naturalSize();
  SheetDocument sheet;
  sheet.beginSheet(sheetSize);
  const std::string form = sheet.formXObjectFor(pdf);
  sheet.appendContent("q\n" +
                      matrixOperator(pdfTransform(pdf, {0, 0, sheetSize.width, sheetSize.height})) +
                      "\n" + form + " Do\nQ\n");
  // The converted page is allocated once Ghostscript has finished and its rows are read back, so
  // that its bands and the converted page never take memory at the same time.
  std::shared_ptr<Pixels> pixels;
  std::optional<BandConverter> bands;
  try {
    rasterizeFirstPageByRows(sheet.write(),
                             {int(size.width), int(size.height), sheetSize.width, sheetSize.height,
                              16, workingProfilePath},
                             [&](int y, const std::uint16_t* rgb) {
                               if (!bands) {
                                 pixels = convertedBuffer(size);
                                 bands.emplace(transform, *pixels);
                               }
                               std::uint16_t* row = bands->row(std::uint32_t(y));
                               for (std::uint32_t x = 0; x < size.width; ++x) {
                                 row[4 * x] = rgb[3 * x];
                                 row[4 * x + 1] = rgb[3 * x + 1];
                                 row[4 * x + 2] = rgb[3 * x + 2];
                               }
                             });
  } catch (const PlatformError& error) {
    debugNote(error.what());
    throw PrintFailure(kRasterFailed);
  }
  if (!bands) throw PrintFailure(kRasterFailed);
  bands->flush();
  return pixels;
}

/// Over white, in the samples' own encoding, as drawing onto a white bitmap composites.
inline std::uint16_t overWhite(std::uint32_t value, std::uint32_t alpha) {
  return static_cast<std::uint16_t>((value * alpha + 65535u * (65535u - alpha) + 32767u) / 65535u);
}

/// Decodes the PNG row by row to 16 bits (grey stays one component, a palette is already
/// expanded to RGB, alpha is composited over white) and converts it.
void convertPngPage(const PngPage& png, const color::PageTransform& transform, Pixels& out) {
  const Pixels layout = png.layout();
  const bool graySamples = layout.channels <= 2;
  if (graySamples != (transform.sourceComponents() == 1) || layout.width != out.width ||
      layout.height != out.height) {
    throw PrintFailure(color::kUnsupportedPngSource);
  }
  const int colorChannels = graySamples ? 1 : 3;
  const bool alpha = layout.hasAlpha && (layout.channels == 2 || layout.channels == 4);
  const bool wide = layout.bitDepth == 16;
  const int components = transform.sourceComponents();
  BandConverter bands(transform, out);
  png.forEachRow([&](std::uint32_t y, const unsigned char* in) {
    std::uint16_t* row = bands.row(y);
    for (std::uint32_t x = 0; x < layout.width; ++x) {
      auto sample = [&](int c) -> std::uint32_t {
        if (!wide) return std::uint32_t(in[c]) * 257u;
        std::uint16_t v;
        std::memcpy(&v, in + 2 * c, 2);
        return v;
      };
      const std::uint32_t a = alpha ? sample(colorChannels) : 65535u;
      for (int c = 0; c < colorChannels; ++c) {
        row[c] = a == 65535u ? std::uint16_t(sample(c)) : overWhite(sample(c), a);
      }
      in += std::size_t(layout.channels) * (wide ? 2 : 1);
      row += components;
    }
  });
  bands.flush();
}

ArtworkPage convertedPage(const ArtworkPage& page, std::shared_ptr<Pixels> pixels,
                          const color::ManagedConversion& conversion) {
  PngPage converted;
  converted.header.width = pixels->width;
  converted.header.height = pixels->height;
  converted.header.bitDepth = 16;
  converted.header.colorType = PngColorType::rgb;
  converted.dpiX = pixels->width * 72.0 / page.naturalSize().width;
  converted.dpiY = pixels->height * 72.0 / page.naturalSize().height;
  converted.colorSpace.model = color::ColorModel::rgb;
  converted.colorSpace.baseModel = color::ColorModel::rgb;
  const std::string& icc = conversion.outputIcc();
  converted.colorSpace.icc.assign(icc.begin(), icc.end());
  converted.colorSpace.name = conversion.outputSummary().name;
  converted.pixels = std::move(pixels);
  converted.deviceProfileId = conversion.outputId();
  return ArtworkPage{std::move(converted), page.naturalSize()};
}

}  // namespace

RasterSize managedRasterSize(const ArtworkPage& page, double scalePercent) {
  double width = 0;
  double height = 0;
  if (const PngPage* png = page.png()) {
    width = png->pixels ? png->pixels->width : png->header.width;
    height = png->pixels ? png->pixels->height : png->header.height;
  } else {
    const Size size = page.naturalSize();
    width = std::ceil(((size.width * scalePercent) / 100) * kManagedPdfDpi / 72);
    height = std::ceil(((size.height * scalePercent) / 100) * kManagedPdfDpi / 72);
  }
  if (!std::isfinite(width) || !std::isfinite(height) || !(width > 0) || !(height > 0) ||
      width > kManagedPagePixelLimit || height > kManagedPagePixelLimit ||
      width * height > kManagedPagePixelLimit) {
    throw PrintFailure(kManagedPageLimit);
  }
  return {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

Artwork Artwork::applyingColorManagement(const ColorManagement& settings, double scalePercent,
                                         bool convert) const {
  settings.validate();
  if (settings.mode != "application") return *this;

  color::ManagedConversion conversion = color::ManagedConversion::open(settings);

  // Every size and both limits are settled before any pixel memory is taken.
  std::vector<RasterSize> sizes;
  sizes.reserve(pages.size());
  double total = 0;
  for (const ArtworkPage& page : pages) {
    sizes.push_back(managedRasterSize(page, scalePercent));
    total += double(sizes.back().width) * sizes.back().height;
  }
  if (total > kManagedDocumentPixelLimit) throw PrintFailure(kManagedDocumentLimit);

  conversion.prepareWorkingSpace();
  std::optional<PrivateTempFile> workingFile;

  std::vector<ArtworkPage> converted;
  converted.reserve(pages.size());
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const ArtworkPage& page = pages[i];
    const PdfPage* pdf = page.pdf();
    const PngPage* png = page.png();
    // Built in every mode: inspecting proves that each page's source can be converted.
    color::PageTransform transform =
        pdf ? conversion.transformFromWorkingSpace() : conversion.transformFrom(png->colorSpace);
    if (!convert) {
      converted.push_back(page);
      continue;
    }
    std::shared_ptr<Pixels> pixels;
    if (pdf) {
      if (!workingFile) workingFile.emplace(conversion.workingIcc(), "the working color profile");
      pixels = convertPdfPage(page, *pdf, sizes[i], transform, workingFile->path());
    } else {
      pixels = convertedBuffer(sizes[i]);
      convertPngPage(*png, transform, *pixels);
    }
    converted.push_back(convertedPage(page, std::move(pixels), conversion));
  }

  Artwork result;
  result.format = format;
  result.dpiX = dpiX;
  result.dpiY = dpiY;
  result.pdfDocument = pdfDocument;
  result.sourceColorProfile = sourceColorProfile;
  result.pages = std::move(converted);
  for (const std::string& warning : warnings) {
    if (warning.find("no app ICC conversion") == std::string::npos) {
      result.warnings.push_back(warning);
    }
  }
  const std::string& name = conversion.outputSummary().name;
  result.warnings.push_back("Application-managed color uses " + name + ", " +
                            settings.renderingIntent + ", black point compensation " +
                            (settings.blackPointCompensation ? "on" : "off") + ".");
  if (format == "PDF") {
    result.warnings.push_back(
        "Application-managed PDFs are rasterized at 300 DPI at the final print scale; embedded "
        "colors are interpreted by Core Graphics through 16-bit ROMM RGB.");
  }
  result.warnings.push_back(
      "Preview shows layout and converted artwork, not a calibrated paper or ink soft proof. "
      "Driver color correction must be disabled and this printer/media route physically "
      "validated.");
  result.colorManagement = "Application-managed \xC2\xB7 " + name;
  return result;
}

}  // namespace vardelle::artwork
