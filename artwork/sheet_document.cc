#include "artwork/sheet_document.h"

#include "artwork/pdf_document.h"
// pdf_document.h has set up qpdf's headers.
#include <qpdf/Buffer.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

#include "artwork/band_deflate.h"
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
// so the fastest level wins.
constexpr int kMadeRasterLevel = 1;

/// The colour or the alpha plane of a raster held in memory or made row by row, in PDF order,
/// compressed while the document is written: a converted page is never held a second time as a
/// plane, and a streamed one never whole. The stream is marked as already compressed, so the
/// writer copies what this gives.
class PlaneProvider : public QPDFObjectHandle::StreamDataProvider {
 public:
  PlaneProvider(PngPage page, int colorChannels, bool alphaPlane)
      : page_(std::move(page)), colorChannels_(colorChannels), alphaPlane_(alphaPlane) {}

  void provideStreamData(QPDFObjGen const&, Pipeline* pipeline) override {
    const Pixels p = page_.layout();
    const size_t bytesPerSample = p.bitDepth == 16 ? 2 : 1;
    const int first = alphaPlane_ ? colorChannels_ : 0;
    const int count = alphaPlane_ ? 1 : colorChannels_;
    const size_t rowBytes = size_t(p.width) * count * bytesPerSample;
    std::vector<unsigned char> row(rowBytes);
    BandDeflate deflate(kMadeRasterLevel, [pipeline](std::string_view bytes) {
      pipeline->write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    });
    page_.forEachRow([&](uint32_t, const unsigned char* in) {
      // Rows of 8-bit samples that are the whole plane are already in PDF order.
      if (bytesPerSample == 1 && first == 0 && count == p.channels) {
        deflate.write(in, rowBytes);
        return;
      }
      planeRow(in, p.width, p.channels, bytesPerSample, first, count, row.data());
      deflate.write(row.data(), rowBytes);
    });
    deflate.finish();
    pipeline->finish();
  }

 private:
  PngPage page_;
  int colorChannels_;
  bool alphaPlane_;
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
  bool deviceValueImages = false;
  int sheetRotation = 0;

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
      entry.first = "/Fx" + std::to_string(impl_->forms.size() + 1);
      impl_->forms.emplace(key, entry);
      impl_->versions.insert(page.document->qpdf().getPDFVersion());
    }
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
      image = QPDFObjectHandle::newStream(&pdf);
      image.replaceStreamData(std::make_shared<PlaneProvider>(page, colorChannels, false),
                              name("/FlateDecode"), QPDFObjectHandle::newNull());
      if (alpha) {
        mask = QPDFObjectHandle::newStream(&pdf);
        mask.replaceStreamData(std::make_shared<PlaneProvider>(page, colorChannels, true),
                               name("/FlateDecode"), QPDFObjectHandle::newNull());
      }
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

void SheetDocument::setInfo(const std::string& creator, const std::string& title) {
  QPDFObjectHandle info = impl_->pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
  info.replaceKey("/Creator", QPDFObjectHandle::newUnicodeString(creator));
  info.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(title));
  impl_->pdf.getTrailer().replaceKey("/Info", info);
}

namespace {

/// The end of qpdf's pipeline: hands the file to the caller's sink, remembering what the sink
/// threw so that a full disk is told as such rather than as a failed document.
class SinkPipeline : public Pipeline {
 public:
  explicit SinkPipeline(const std::function<void(std::string_view)>& sink)
      : Pipeline("sheet document", nullptr), sink_(sink) {}

  void write(unsigned char const* data, size_t length) override {
    try {
      sink_({reinterpret_cast<const char*>(data), length});
    } catch (...) {
      failure_ = std::current_exception();
      throw;
    }
  }
  void finish() override {}
  std::exception_ptr failure() const { return failure_; }

 private:
  const std::function<void(std::string_view)>& sink_;
  std::exception_ptr failure_;
};

}  // namespace

void SheetDocument::write(const std::function<void(std::string_view)>& sink) {
  SinkPipeline out(sink);
  try {
    QPDF& pdf = impl_->pdf;
    QPDFPageDocumentHelper pages(pdf);
    for (Sheet& sheet : impl_->sheets) {
      sheet.page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, sheet.content));
      pages.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(sheet.page)), false);
    }
    impl_->sheets.clear();
    QPDFWriter writer(pdf);
    writer.setOutputPipeline(&out);
    writer.setDeterministicID(true);
    writer.setObjectStreamMode(qpdf_o_generate);
    // Each call raises the minimum only if the version is higher.
    for (const auto& v : impl_->versions) writer.setMinimumPDFVersion(v);
    writer.write();
  } catch (const PrintFailure&) {
    throw;
  } catch (const std::exception& e) {
    if (out.failure()) std::rethrow_exception(out.failure());
    debugNote(std::string("qpdf could not write the document: ") + e.what());
    throw PrintFailure(kPreviewFailed);
  }
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
