#include "artwork/sheet_document.h"

#include "artwork/pdf_document.h"
// pdf_document.h has set up qpdf's headers.
#include <qpdf/Buffer.hh>
#include <qpdf/QPDFCryptoProvider.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

#include "artwork/band_deflate.h"
#include "artwork/printed_content.h"
#include "base/diagnostics.h"
#include "base/print_failure.h"

namespace vardelle::artwork {

namespace {

constexpr const char* kPreviewFailed = "Could not create a PDF preview.";

// Ten decimals keep a paper size read back from the file equal to the saved one in millimetres
// (qpdf's default of six changes A4's width by 1.6e-7 mm).
QPDFObjectHandle rectangleArray(const Rect& r) {
  auto number = [](double v) { return QPDFObjectHandle::newReal(v, 10, true); };
  return QPDFObjectHandle::newArray(
      {number(r.x), number(r.y), number(r.x + r.width), number(r.y + r.height)});
}

QPDFObjectHandle name(const char* text) { return QPDFObjectHandle::newName(text); }

/// Writes the samples `first` to `first + count - 1` of each of the `width` pixels of the row
/// `in` (of `channels` samples each) to `out`, in PDF order: 16-bit samples arrive in host order
/// and leave big-endian.
void planeRow(const unsigned char* in, uint32_t width, int channels, size_t bytesPerSample,
              int first, int count, unsigned char* out) {
  const bool whole = first == 0 && count == channels;
  if (bytesPerSample == 1) {
    if (whole) {
      std::memcpy(out, in, size_t(width) * channels);
      return;
    }
    for (uint32_t x = 0; x < width; ++x, in += channels) {
      for (int c = first; c < first + count; ++c) *out++ = in[c];
    }
    return;
  }
  auto put = [&out](const unsigned char* sample) {
    uint16_t v;
    std::memcpy(&v, sample, 2);
    *out++ = static_cast<unsigned char>(v >> 8);
    *out++ = static_cast<unsigned char>(v & 0xff);
  };
  if (whole) {
    for (size_t i = 0, n = size_t(width) * channels; i < n; ++i) put(in + 2 * i);
    return;
  }
  for (uint32_t x = 0; x < width; ++x, in += size_t(channels) * 2) {
    for (int c = first; c < first + count; ++c) put(in + 2 * c);
  }
}

/// Splits decoded rows into the colour plane and the alpha plane of a PDF image, written straight
/// into the buffers the streams will own.
class PlaneSplitter {
 public:
  PlaneSplitter(const Pixels& layout, int colorChannels, bool alpha)
      : width_(layout.width),
        channels_(layout.channels),
        bytesPerSample_(layout.bitDepth == 16 ? 2 : 1),
        colorChannels_(colorChannels) {
    const size_t samples = size_t(layout.width) * layout.height;
    color_ = std::make_shared<Buffer>(samples * colorChannels * bytesPerSample_);
    if (alpha) alpha_ = std::make_shared<Buffer>(samples * bytesPerSample_);
  }

  void row(uint32_t y, const unsigned char* in) {
    const size_t pixels = size_t(y) * width_ * bytesPerSample_;
    planeRow(in, width_, channels_, bytesPerSample_, 0, colorChannels_,
             color_->getBuffer() + pixels * colorChannels_);
    if (alpha_) {
      planeRow(in, width_, channels_, bytesPerSample_, colorChannels_, 1,
               alpha_->getBuffer() + pixels);
    }
  }

  std::shared_ptr<Buffer> color() const { return color_; }
  std::shared_ptr<Buffer> alpha() const { return alpha_; }

 private:
  uint32_t width_;
  int channels_;
  size_t bytesPerSample_;
  int colorChannels_;
  std::shared_ptr<Buffer> color_;
  std::shared_ptr<Buffer> alpha_;
};

// Rasters made here (converted pages, 16 bits per sample) are most of such a file. Measured on a
// 24-megapixel converted photograph: zlib's default level took 9.4 s and gave 55 MB, level 3
// 7.8 s and 59 MB, level 1 6.6 s and 62 MB; the file is read once, by the printer or the preview,
// so the fastest level wins. Each row then goes as its difference from the row above (PNG's Up
// predictor, which every PDF reader undoes), turning the high bytes of 16-bit samples into runs
// of near-zeros: at level 1, 19 MB instead of 62 MB, compressed about 2.5 times as fast; with
// zlib's run-length strategy, which looks for nothing else, 14 MB and faster again.
constexpr int kMadeRasterLevel = 1;
constexpr size_t kMadeRasterBandBytes = size_t(1) << 20;
constexpr bool kMadeRasterRunLength = true;

void upDifference(const unsigned char* __restrict row, const unsigned char* __restrict above,
                  unsigned char* __restrict out, size_t size) {
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(row[i] - above[i]);
}

/// The colour or the alpha plane of a raster held in memory or made row by row, in PDF order,
/// compressed as it is written: a converted page is never held a second time as a plane, and a
/// streamed one never whole. Bands are compressed on worker threads, which also take each band's
/// CRC-32, so that nothing but handing the bytes on is left to the writing thread.
struct MadeRaster {
  PngPage page;
  int colorChannels = 3;
  bool alphaPlane = false;
  QPDFObjectHandle stream;
  std::string placeholder;

  struct Written {
    std::uint64_t length = 0;
    std::uint32_t crc = 0;
  };

  Written write(const std::function<void(std::string_view)>& out, unsigned workers) const {
    const Pixels p = page.layout();
    const size_t bytesPerSample = p.bitDepth == 16 ? 2 : 1;
    const int first = alphaPlane ? colorChannels : 0;
    const int count = alphaPlane ? 1 : colorChannels;
    const size_t rowBytes = size_t(p.width) * count * bytesPerSample;
    // Each row leaves as PNG's "Up" difference from the one above it (its tag byte first), which
    // the stream's predictor undoes.
    std::vector<unsigned char> row(rowBytes), above(rowBytes, 0), filtered(rowBytes + 1);
    filtered[0] = 2;
    Written written;
    BandDeflate deflate(
        kMadeRasterLevel,
        [&](std::string_view bytes) {
          written.length += bytes.size();
          out(bytes);
        },
        kMadeRasterBandBytes, workers, kMadeRasterRunLength);
    page.forEachRow([&](uint32_t, const unsigned char* in) {
      // Rows of 8-bit samples that are the whole plane are already in PDF order.
      if (bytesPerSample == 1 && first == 0 && count == p.channels) {
        upDifference(in, above.data(), filtered.data() + 1, rowBytes);
        std::memcpy(above.data(), in, rowBytes);
      } else {
        planeRow(in, p.width, p.channels, bytesPerSample, first, count, row.data());
        upDifference(row.data(), above.data(), filtered.data() + 1, rowBytes);
        row.swap(above);
      }
      deflate.write(filtered.data(), filtered.size());
    });
    deflate.finish();
    written.crc = deflate.outputCrc32();
    return written;
  }
};

/// A new stream in `pdf` owning `data`, unfiltered (the writer compresses it).
QPDFObjectHandle streamOf(QPDF& pdf, std::shared_ptr<Buffer> data) {
  QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf);
  stream.replaceStreamData(std::move(data), QPDFObjectHandle::newNull(),
                           QPDFObjectHandle::newNull());
  return stream;
}

struct Sheet {
  QPDFObjectHandle page;
  QPDFObjectHandle xobjects;
  std::string content;
};

}  // namespace

struct SheetDocument::Impl {
  // Sources stay open until write(): qpdf reads copied stream data only then. Declared first, so
  // they also outlive the document that copied from them.
  std::vector<std::shared_ptr<PdfDocument>> sources;
  QPDF pdf;
  using FormKey = std::pair<const PdfDocument*, std::string>;
  std::map<FormKey, std::pair<std::string, QPDFObjectHandle>> forms;
  std::map<std::string, std::pair<std::string, QPDFObjectHandle>> images;
  std::vector<Sheet> sheets;
  std::set<std::string> versions{"1.7"};  // 16-bit images need 1.5
  // Written by SheetDocument itself, around what qpdf writes (see write()).
  std::vector<MadeRaster> rasters;
  unsigned compressionThreads = 0;
  bool deviceValueImages = false;
  int sheetRotation = 0;

  /// Hands on `structure`, the file qpdf wrote with placeholders, with the rasters written in.
  void writeSpliced(QPDFWriter& writer, const std::string& structure,
                    const std::function<void(std::string_view)>& out);

  /// A stream that stands in for a made raster's plane while qpdf writes the document.
  QPDFObjectHandle madeRaster(const PngPage& page, int colorChannels, bool alphaPlane) {
    MadeRaster raster;
    raster.page = page;
    raster.colorChannels = colorChannels;
    raster.alphaPlane = alphaPlane;
    raster.placeholder = "raster " + std::to_string(rasters.size() + 1) + "\n";
    const Pixels layout = page.layout();
    QPDFObjectHandle parameters = QPDFObjectHandle::newDictionary();
    parameters.replaceKey("/Predictor", QPDFObjectHandle::newInteger(12));
    parameters.replaceKey("/Colors", QPDFObjectHandle::newInteger(alphaPlane ? 1 : colorChannels));
    parameters.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(layout.bitDepth));
    parameters.replaceKey("/Columns", QPDFObjectHandle::newInteger(layout.width));
    raster.stream = QPDFObjectHandle::newStream(&pdf);
    raster.stream.replaceStreamData(raster.placeholder, name("/FlateDecode"), parameters);
    rasters.push_back(raster);
    return raster.stream;
  }

  Sheet& current() {
    if (sheets.empty()) throw std::logic_error("no sheet has been begun");
    return sheets.back();
  }

  void use(const std::string& resourceName, QPDFObjectHandle object) {
    Sheet& sheet = current();
    if (!sheet.xobjects.hasKey(resourceName)) sheet.xobjects.replaceKey(resourceName, object);
  }
};

SheetDocument::SheetDocument() : impl_(std::make_unique<Impl>()) {
  silenceQpdf(impl_->pdf);
  impl_->pdf.emptyPDF();
}

SheetDocument::~SheetDocument() = default;

void SheetDocument::beginSheet(Size mediaSize) {
  Sheet sheet;
  sheet.xobjects = QPDFObjectHandle::newDictionary();
  QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
  resources.replaceKey("/XObject", sheet.xobjects);
  sheet.page = QPDFObjectHandle::newDictionary();
  sheet.page.replaceKey("/Type", name("/Page"));
  sheet.page.replaceKey("/MediaBox", rectangleArray({0, 0, mediaSize.width, mediaSize.height}));
  sheet.page.replaceKey("/Resources", resources);
  if (impl_->sheetRotation != 0) {
    sheet.page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(impl_->sheetRotation));
  }
  impl_->sheets.push_back(std::move(sheet));
}

void SheetDocument::setSheetRotation(int degrees) {
  if (degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270) {
    throw std::invalid_argument("a sheet turns by a multiple of 90 degrees");
  }
  impl_->sheetRotation = degrees;
}

size_t SheetDocument::sheetCount() const { return impl_->sheets.size(); }

void SheetDocument::appendContent(std::string_view operators) {
  impl_->current().content.append(operators);
}

namespace {

// Pages that show the same content stream with the same resources and box (a PDF repeating one
// page, as label sheets do) share one form, so the content is written once.
std::string sharedFormKey(const PdfPage& page, QPDFObjectHandle contents,
                          QPDFObjectHandle resources, QPDFObjectHandle group) {
  auto identity = [](QPDFObjectHandle object) -> std::optional<std::string> {
    if (object.isNull()) return "-";
    if (object.isIndirect()) return object.getObjGen().unparse();
    // A small direct dictionary (a transparency group, say) is compared by its text.
    if (object.isStream()) return std::nullopt;
    std::string text = object.unparse();
    if (text.size() > 4096) return std::nullopt;
    return text;
  };
  auto c = identity(contents), r = identity(resources), g = identity(group);
  if (contents.isNull() || !c || !r || !g) return {};
  const Rect& box = page.visibleBox;
  return *c + "|" + *r + "|" + *g + "|" + pdfNumber(box.x) + " " + pdfNumber(box.y) + " " +
         pdfNumber(box.width) + " " + pdfNumber(box.height);
}

}  // namespace

std::string SheetDocument::formXObjectFor(const PdfPage& page) {
  impl_->current();
  std::pair<std::string, QPDFObjectHandle> entry;
  try {
    QPDFObjectHandle pageObject = page.document->pageObject(page.index);
    QPDFPageObjectHelper source(pageObject);
    QPDFObjectHandle contents = pageObject.getKey("/Contents");
    QPDFObjectHandle resources = source.getAttribute("/Resources", false);
    QPDFObjectHandle group = source.getAttribute("/Group", false);
    // Layers are decided here, as the page prints, for every output drawn from this sheet.
    if (PrintedContent* printed = page.document->printedContent()) {
      const PrintedContent::Drawing drawing = printed->page(contents, resources);
      contents = drawing.contents;
      resources = drawing.resources;
    }
    std::string shared = sharedFormKey(page, contents, resources, group);
    Impl::FormKey key{page.document.get(),
                      shared.empty() ? "page " + std::to_string(page.index) : "content " + shared};
    auto found = impl_->forms.find(key);
    if (found != impl_->forms.end()) {
      entry = found->second;
    } else {
      QPDFObjectHandle form;
      if (contents.isStream()) {
        // The usual single content stream becomes the form as it is, still compressed: qpdf's
        // helper would decode it and the writer compress it again.
        form = contents.copyStream();
        QPDFObjectHandle dict = form.getDict();
        dict.replaceKey("/Type", name("/XObject"));
        dict.replaceKey("/Subtype", name("/Form"));
        if (!resources.isNull()) dict.replaceKey("/Resources", resources.shallowCopy());
        if (!group.isNull()) dict.replaceKey("/Group", group.shallowCopy());
      } else {
        // The matrix for rotation and UserUnit is built by the caller; qpdf's own handling
        // mishandles negative /Rotate.
        form = source.getFormXObjectForPage(false);
      }
      // qpdf's helper sets /BBox to the trim box, which would cut away content between trim and
      // crop box.
      form.getDict().replaceKey("/BBox", rectangleArray(page.visibleBox));
      entry.second = impl_->pdf.copyForeignObject(form);
      // Written as it is: qpdf's writer decodes and compresses again a stream whose /Filter is
      // an array, which for a few kilobytes of Flate of Flate is a gigabyte of drawing inflated
      // before any renderer and its deadline are reached.
      if (contents.isStream() && !contents.getDict().getKey("/Filter").isNull()) {
        entry.second.setFilterOnWrite(false);
      }
      entry.first = "/Fx" + std::to_string(impl_->forms.size() + 1);
      impl_->forms.emplace(key, entry);
      impl_->versions.insert(page.document->qpdf().getPDFVersion());
    }
  } catch (const PrintFailure&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;  // the memory sentence, not a failed preview
  } catch (const std::exception& e) {
    debugNote(std::string("qpdf could not copy a page: ") + e.what());
    throw PrintFailure(kPreviewFailed);
  }
  if (impl_->sources.empty() || impl_->sources.back() != page.document) {
    impl_->sources.push_back(page.document);
  }
  impl_->use(entry.first, entry.second);
  return entry.first;
}

std::string SheetDocument::imageXObjectFor(const PngPage& page) {
  impl_->current();
  const std::string key =
      std::string(impl_->deviceValueImages ? "device " : "") +
      (page.pixels ? "memory:" + std::to_string(reinterpret_cast<uintptr_t>(page.pixels.get()))
       : page.rows ? "rows:" + std::to_string(reinterpret_cast<uintptr_t>(page.rows.get()))
                   : "file:" + page.path);
  auto found = impl_->images.find(key);
  if (found == impl_->images.end()) {
    const Pixels layout = page.layout();
    const bool gray = layout.channels <= 2;
    const int colorChannels = gray ? 1 : 3;
    const bool alpha = layout.hasAlpha && (layout.channels == 2 || layout.channels == 4);

    QPDF& pdf = impl_->pdf;
    QPDFObjectHandle colorSpace = name(gray ? "/DeviceGray" : "/DeviceRGB");
    const auto& icc = page.colorSpace.icc;
    // The profile describes the samples only when its model matches them (a palette is expanded
    // to RGB before it gets here).
    const color::ColorModel samplesModel = gray ? color::ColorModel::gray : color::ColorModel::rgb;
    if (!icc.empty() && page.colorSpace.baseModel != samplesModel) {
      throw PrintFailure(kPngUnreadable);
    }
    if (!icc.empty() && !impl_->deviceValueImages) {
      QPDFObjectHandle profile = QPDFObjectHandle::newStream(
          &pdf, std::string(reinterpret_cast<const char*>(icc.data()), icc.size()));
      profile.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(colorChannels));
      profile.getDict().replaceKey("/Alternate", colorSpace);
      colorSpace = QPDFObjectHandle::newArray({name("/ICCBased"), profile});
    }
    auto imageDictionary = [&](QPDFObjectHandle stream, QPDFObjectHandle space) {
      QPDFObjectHandle dict = stream.getDict();
      dict.replaceKey("/Type", name("/XObject"));
      dict.replaceKey("/Subtype", name("/Image"));
      dict.replaceKey("/Width", QPDFObjectHandle::newInteger(layout.width));
      dict.replaceKey("/Height", QPDFObjectHandle::newInteger(layout.height));
      dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(layout.bitDepth));
      dict.replaceKey("/ColorSpace", space);
      dict.replaceKey("/Interpolate", QPDFObjectHandle::newBool(true));
    };
    QPDFObjectHandle image;
    QPDFObjectHandle mask;
    if (page.pixels || page.rows) {
      image = impl_->madeRaster(page, colorChannels, false);
      if (alpha) mask = impl_->madeRaster(page, colorChannels, true);
    } else if (pngDataPassesThrough(page.header)) {
      // The file's compressed samples are what the image stream needs, PNG predictors and all:
      // copying them costs no decoding or compressing, and the preview is no larger than the
      // file.
      image = QPDFObjectHandle::newStream(&pdf);
      QPDFObjectHandle parameters = QPDFObjectHandle::newDictionary();
      parameters.replaceKey("/Predictor", QPDFObjectHandle::newInteger(15));
      parameters.replaceKey("/Colors", QPDFObjectHandle::newInteger(colorChannels));
      parameters.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(layout.bitDepth));
      parameters.replaceKey("/Columns", QPDFObjectHandle::newInteger(layout.width));
      image.replaceStreamData(readPngImageData(page.path, page.header), name("/FlateDecode"),
                              parameters);
    } else {
      // Row by row: a large PNG is never held decoded as a whole beside its planes.
      PlaneSplitter planes(layout, colorChannels, alpha);
      page.forEachRow([&](uint32_t y, const unsigned char* row) { planes.row(y, row); });
      image = streamOf(pdf, planes.color());
      if (alpha) mask = streamOf(pdf, planes.alpha());
    }
    imageDictionary(image, colorSpace);
    if (alpha) {
      imageDictionary(mask, name("/DeviceGray"));
      image.getDict().replaceKey("/SMask", mask);
    }
    std::string resourceName = "/Im" + std::to_string(impl_->images.size() + 1);
    found = impl_->images.emplace(key, std::make_pair(resourceName, image)).first;
  }
  impl_->use(found->second.first, found->second.second);
  return found->second.first;
}

void SheetDocument::setDeviceValueImages(bool on) { impl_->deviceValueImages = on; }

void SheetDocument::setCompressionThreads(unsigned threads) { impl_->compressionThreads = threads; }

void SheetDocument::setInfo(const std::string& creator, const std::string& title) {
  QPDFObjectHandle info = impl_->pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
  info.replaceKey("/Creator", QPDFObjectHandle::newUnicodeString(creator));
  info.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(title));
  impl_->pdf.getTrailer().replaceKey("/Info", info);
}

namespace {

/// The end of qpdf's pipeline: hands the file to the caller's sink.
class SinkPipeline : public Pipeline {
 public:
  explicit SinkPipeline(const std::function<void(std::string_view)>& sink)
      : Pipeline("sheet document", nullptr), sink_(sink) {}

  void write(unsigned char const* data, size_t length) override {
    sink_({reinterpret_cast<const char*>(data), length});
  }
  void finish() override {}

 private:
  const std::function<void(std::string_view)>& sink_;
};

// qpdf 11 holds each stream's data whole while it writes the stream, so made rasters are written
// here instead: qpdf writes the document with a short placeholder in each raster stream and a
// classic cross-reference table, and the file is then handed on with each placeholder object
// rewritten around its real data. The raster's /Length becomes an indirect object written after
// the data (as streaming PDF writers have always done), so the data goes to the sink as it is
// compressed, in one pass. Every object keeps qpdf's number; only offsets move, and the table
// and trailer are written anew.

struct WrittenObject {
  qpdf_offset_t offset = 0;
  int number = 0;
};

std::string xrefEntry(qpdf_offset_t offset) {
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(offset));
  return entry;
}

/// The offset after "startxref" at the end of a classic file qpdf wrote.
qpdf_offset_t startXref(const std::string& file) {
  const size_t at = file.rfind("startxref\n");
  if (at == std::string::npos) throw std::runtime_error("no startxref in the written document");
  return std::stoll(file.substr(at + 10, 24));
}

}  // namespace

void SheetDocument::write(const std::function<void(std::string_view)>& sink) {
  std::exception_ptr sinkFailure;
  const std::function<void(std::string_view)> out = [&](std::string_view bytes) {
    try {
      sink(bytes);
    } catch (...) {
      sinkFailure = std::current_exception();
      throw;
    }
  };
  try {
    QPDF& pdf = impl_->pdf;
    QPDFPageDocumentHelper pages(pdf);
    for (Sheet& sheet : impl_->sheets) {
      sheet.page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, sheet.content));
      pages.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(sheet.page)), false);
    }
    impl_->sheets.clear();
    const bool spliced = !impl_->rasters.empty();
    std::string structure;
    const std::function<void(std::string_view)> hold = [&](std::string_view bytes) {
      structure.append(bytes);
    };
    SinkPipeline pipeline(spliced ? hold : out);
    QPDFWriter writer(pdf);
    writer.setOutputPipeline(&pipeline);
    writer.setDeterministicID(true);
    // Rasters are spliced into a classic table; other documents get qpdf's object streams.
    writer.setObjectStreamMode(spliced ? qpdf_o_disable : qpdf_o_generate);
    // Each call raises the minimum only if the version is higher.
    for (const auto& v : impl_->versions) writer.setMinimumPDFVersion(v);
    writer.write();
    if (spliced) impl_->writeSpliced(writer, structure, out);
  } catch (const PrintFailure&) {
    throw;
  } catch (const std::bad_alloc&) {
    // Also what a compressing worker ran out of: said as memory, not as a failed preview.
    throw;
  } catch (const std::exception& e) {
    if (sinkFailure) std::rethrow_exception(sinkFailure);
    debugNote(std::string("qpdf could not write the document: ") + e.what());
    throw PrintFailure(kPreviewFailed);
  }
}

void SheetDocument::Impl::writeSpliced(QPDFWriter& writer, const std::string& structure,
                                       const std::function<void(std::string_view)>& out) {
  const qpdf_offset_t xrefAt = startXref(structure);
  std::vector<WrittenObject> objects;
  for (const auto& [objGen, entry] : writer.getWrittenXRefTable()) {
    if (entry.getType() != 1) throw std::runtime_error("an object was written compressed");
    objects.push_back({entry.getOffset(), objGen.getObj()});
  }
  std::sort(objects.begin(), objects.end(),
            [](const WrittenObject& a, const WrittenObject& b) { return a.offset < b.offset; });
  int written = 0;
  for (const WrittenObject& o : objects) written = std::max(written, o.number);
  if (size_t(written) != objects.size()) throw std::runtime_error("object numbers have gaps");

  // Where each raster object starts and ends in qpdf's file.
  struct Splice {
    const MadeRaster* raster;
    int number;
    qpdf_offset_t begin;
    qpdf_offset_t end;
  };
  std::vector<Splice> splices;
  for (const MadeRaster& raster : rasters) {
    const int number = writer.getRenumberedObjGen(raster.stream.getObjGen()).getObj();
    auto at = std::find_if(objects.begin(), objects.end(),
                           [&](const WrittenObject& o) { return o.number == number; });
    if (at == objects.end()) continue;  // drawn on no sheet
    const qpdf_offset_t end = at + 1 == objects.end() ? xrefAt : (at + 1)->offset;
    splices.push_back({&raster, number, at->offset, end});
  }
  std::sort(splices.begin(), splices.end(),
            [](const Splice& a, const Splice& b) { return a.begin < b.begin; });

  std::vector<qpdf_offset_t> offsets(size_t(written) + 1 + splices.size(), 0);
  qpdf_offset_t position = 0;
  // qpdf's own MD5, as for the identifier it makes.
  std::shared_ptr<QPDFCryptoImpl> identity = QPDFCryptoProvider::getImpl();
  identity->MD5_init();
  auto identify = [&](std::string_view bytes) {
    identity->MD5_update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  };
  auto emit = [&](std::string_view bytes, bool identifying) {
    out(bytes);
    if (identifying) identify(bytes);
    position += qpdf_offset_t(bytes.size());
  };
  // Copies qpdf's bytes [from, to), moving the offsets of the objects in them along.
  auto copy = [&](qpdf_offset_t from, qpdf_offset_t to) {
    for (const WrittenObject& o : objects) {
      if (o.offset >= from && o.offset < to) offsets[size_t(o.number)] = o.offset - from + position;
    }
    emit(std::string_view(structure).substr(size_t(from), size_t(to - from)), true);
  };
  qpdf_offset_t done = 0;
  int lengthNumber = written;
  for (const Splice& splice : splices) {
    copy(done, splice.begin);
    // "N 0 obj\n<< … /Length n … >>\nstream\n<placeholder>endstream\nendobj\n", as qpdf 11
    // writes every stream outside object streams.
    const std::string object =
        structure.substr(size_t(splice.begin), size_t(splice.end - splice.begin));
    const std::string head = std::to_string(splice.number) + " 0 obj\n";
    const std::string tail = "\nstream\n" + splice.raster->placeholder + "endstream\nendobj\n";
    const std::string length = " /Length " + std::to_string(splice.raster->placeholder.size());
    const size_t lengthAt = object.find(length + " ");
    if (object.compare(0, head.size(), head) != 0 || object.size() < head.size() + tail.size() ||
        object.compare(object.size() - tail.size(), tail.size(), tail) != 0 ||
        lengthAt == std::string::npos || object.find(length, lengthAt + 1) != std::string::npos) {
      throw std::runtime_error("qpdf wrote a raster stream in an unexpected form");
    }
    ++lengthNumber;
    std::string dictionary = object.substr(0, object.size() - tail.size());
    dictionary.replace(lengthAt, length.size(),
                       " /Length " + std::to_string(lengthNumber) + " 0 R");
    offsets[size_t(splice.number)] = position;
    emit(dictionary + "\nstream\n", true);
    const MadeRaster::Written data = splice.raster->write(
        [&](std::string_view bytes) { emit(bytes, false); }, compressionThreads);
    // The data is identified by its length and its CRC, taken on the compressing threads.
    const std::string summary = std::to_string(data.length) + " " + std::to_string(data.crc);
    identify(summary);
    emit("\nendstream\nendobj\n", true);
    offsets[size_t(lengthNumber)] = position;
    emit(std::to_string(lengthNumber) + " 0 obj\n" + std::to_string(data.length) + "\nendobj\n",
         true);
    done = splice.end;
  }
  copy(done, xrefAt);

  const qpdf_offset_t xref = position;
  const size_t size = offsets.size();
  std::string table = "xref\n0 " + std::to_string(size) + "\n0000000000 65535 f \n";
  for (size_t n = 1; n < size; ++n) table += xrefEntry(offsets[n]);
  emit(table, true);
  identity->MD5_finalize();
  QPDFCryptoImpl::MD5_Digest digest;
  identity->MD5_digest(digest);
  std::string id;
  for (unsigned char byte : digest) {
    id += "0123456789abcdef"[byte >> 4];
    id += "0123456789abcdef"[byte & 15];
  }
  auto reference = [&](QPDFObjectHandle object) {
    return std::to_string(writer.getRenumberedObjGen(object.getObjGen()).getObj()) + " 0 R";
  };
  std::string trailer = "trailer << /Root " + reference(pdf.getRoot());
  QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
  if (info.isIndirect()) trailer += " /Info " + reference(info);
  trailer += " /Size " + std::to_string(size) + " /ID [<" + id + "><" + id + ">] >>\nstartxref\n" +
             std::to_string(xref) + "\n%%EOF\n";
  emit(trailer, false);
}

std::string SheetDocument::write() {
  std::string out;
  write([&out](std::string_view bytes) { out.append(bytes); });
  return out;
}

std::string pdfNumber(double value, int decimals) {
  if (!std::isfinite(value)) return "0";
  char text[400];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s = text;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string pdfMatrixOperator(const AffineTransform& m) {
  return pdfNumber(m.a, 10) + " " + pdfNumber(m.b, 10) + " " + pdfNumber(m.c, 10) + " " +
         pdfNumber(m.d, 10) + " " + pdfNumber(m.tx) + " " + pdfNumber(m.ty) + " cm";
}

}  // namespace vardelle::artwork
