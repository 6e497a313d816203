#include "artwork/color_managed.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "artwork/band_converter.h"
#include "base/diagnostics.h"
#include "base/files.h"
#include "base/print_failure.h"
#include "color/managed_conversion.h"

namespace vardelle::artwork {

namespace {

/// Over white, in the samples' own encoding, as drawing onto a white bitmap composites.
inline std::uint16_t overWhite(std::uint32_t value, std::uint32_t alpha) {
  return static_cast<std::uint16_t>((value * alpha + 65535u * (65535u - alpha) + 32767u) / 65535u);
}

/// One decoded PNG row as 16-bit samples of `Components` words per pixel, alpha composited over
/// white. Specialised per layout: it runs for every sample of a large photograph.
template <bool Wide, bool Alpha, int ColorChannels, int Components>
void stageRow(const unsigned char* in, std::uint32_t width, std::uint16_t* row) {
  constexpr int channels = ColorChannels + (Alpha ? 1 : 0);
  for (std::uint32_t x = 0; x < width; ++x, in += channels * (Wide ? 2 : 1), row += Components) {
    std::uint32_t samples[channels];
    for (int c = 0; c < channels; ++c) {
      if constexpr (Wide) {
        std::uint16_t v;
        std::memcpy(&v, in + 2 * c, 2);
        samples[c] = v;
      } else {
        samples[c] = std::uint32_t(in[c]) * 257u;
      }
    }
    for (int c = 0; c < ColorChannels; ++c) {
      if constexpr (Alpha) {
        const std::uint32_t a = samples[ColorChannels];
        row[c] = a == 65535u ? std::uint16_t(samples[c]) : overWhite(samples[c], a);
      } else {
        row[c] = std::uint16_t(samples[c]);
      }
    }
  }
}

using StageRow = void (*)(const unsigned char*, std::uint32_t, std::uint16_t*);

template <int ColorChannels, int Components>
StageRow stagerFor(bool wide, bool alpha) {
  if (wide) {
    return alpha ? stageRow<true, true, ColorChannels, Components>
                 : stageRow<true, false, ColorChannels, Components>;
  }
  return alpha ? stageRow<false, true, ColorChannels, Components>
               : stageRow<false, false, ColorChannels, Components>;
}

/// Decodes the PNG row by row to 16 bits (grey stays one component, a palette is already
/// expanded to RGB, alpha is composited over white) and converts it into `bands`.
void convertPngRows(const PngPage& png, const color::PageTransform& transform, RasterSize size,
                    BandConverter& bands) {
  const Pixels layout = png.layout();
  const bool graySamples = layout.channels <= 2;
  if (graySamples != (transform.sourceComponents() == 1) || layout.width != size.width ||
      layout.height != size.height) {
    throw PrintFailure(color::kUnsupportedPngSource);
  }
  const bool alpha = layout.hasAlpha && (layout.channels == 2 || layout.channels == 4);
  const bool wide = layout.bitDepth == 16;
  const int components = transform.sourceComponents();
  if (layout.channels != (graySamples ? 1 : 3) + (alpha ? 1 : 0) ||
      (!graySamples && components != 3 && components != 4)) {
    throw PrintFailure(color::kUnsupportedPngSource);
  }
  const StageRow stage = graySamples       ? stagerFor<1, 1>(wide, alpha)
                         : components == 4 ? stagerFor<3, 4>(wide, alpha)
                                           : stagerFor<3, 3>(wide, alpha);
  png.forEachRow(
      [&](std::uint32_t y, const unsigned char* in) { stage(in, layout.width, bands.row(y)); });
  bands.flush();
}

void convertPngPage(const PngPage& png, const color::PageTransform& transform, Pixels& out) {
  BandConverter bands(transform, out);
  convertPngRows(png, transform, {out.width, out.height}, bands);
}

/// A PNG page converted again each time its rows are read: the converted page is never held.
/// Holds its own share of the conversion, which the transform must not outlive.
class StreamedPngConversion : public RowSource {
 public:
  StreamedPngConversion(std::shared_ptr<const color::ManagedConversion> conversion,
                        color::PageTransform transform, PngPage source, RasterSize size)
      : conversion_(std::move(conversion)),
        transform_(std::move(transform)),
        source_(std::move(source)),
        size_(size) {}

  void forEachRow(
      const std::function<void(uint32_t y, const unsigned char* row)>& onRow) const override {
    BandConverter bands(transform_, size_.width, onRow);
    convertPngRows(source_, transform_, size_, bands);
  }

 private:
  std::shared_ptr<const color::ManagedConversion> conversion_;
  color::PageTransform transform_;
  PngPage source_;
  RasterSize size_;
};

/// `proof`: the samples are a soft proof, in sRGB, rather than the printer profile's values.
ArtworkPage convertedPage(const ArtworkPage& page, RasterSize size, std::shared_ptr<Pixels> pixels,
                          std::shared_ptr<const RowSource> rows,
                          const color::ManagedConversion& conversion, bool proof) {
  PngPage converted;
  converted.header.width = size.width;
  converted.header.height = size.height;
  converted.header.bitDepth = 16;
  converted.header.colorType = PngColorType::rgb;
  converted.dpiX = size.width * 72.0 / page.naturalSize().width;
  converted.dpiY = size.height * 72.0 / page.naturalSize().height;
  converted.colorSpace.model = color::ColorModel::rgb;
  converted.colorSpace.baseModel = color::ColorModel::rgb;
  converted.pixels = std::move(pixels);
  converted.rows = std::move(rows);
  if (proof) {
    // Untagged samples are shown as sRGB, unchanged.
    converted.colorSpace.name = "sRGB";
    return ArtworkPage{std::move(converted), page.naturalSize()};
  }
  const std::string& icc = conversion.outputIcc();
  converted.colorSpace.icc.assign(icc.begin(), icc.end());
  converted.colorSpace.name = conversion.outputSummary().name;
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

namespace {

/// Converts the first `drawn` pages of `artwork` with `conversion` (pixels only when `convert`),
/// or, with a proof, makes their soft proof; the result has the artwork's fields and no warnings
/// yet.
Artwork convertedPages(const Artwork& artwork,
                       const std::shared_ptr<color::ManagedConversion>& shared, double scalePercent,
                       bool convert, bool streamPng, const color::ProofView* proof,
                       std::size_t drawn = SIZE_MAX) {
  color::ManagedConversion& conversion = *shared;

  // Every size and both limits are settled before any pixel memory is taken.
  std::vector<RasterSize> sizes;
  sizes.reserve(artwork.pages.size());
  double total = 0;
  for (const ArtworkPage& page : artwork.pages) {
    sizes.push_back(managedRasterSize(page, scalePercent));
    total += double(sizes.back().width) * sizes.back().height;
  }
  if (total > kManagedDocumentPixelLimit) throw PrintFailure(kManagedDocumentLimit);

  conversion.prepareWorkingSpace();
  std::optional<PrivateTempFile> workingFile;

  std::vector<ArtworkPage> converted;
  converted.reserve(artwork.pages.size());
  for (std::size_t i = 0; i < artwork.pages.size(); ++i) {
    const ArtworkPage& page = artwork.pages[i];
    const PdfPage* pdf = page.pdf();
    const PngPage* png = page.png();
    // Built in every mode: inspecting proves that each page's source can be converted.
    color::PageTransform transform = pdf ? conversion.transformFromWorkingSpace(proof)
                                         : conversion.transformFrom(png->colorSpace, proof);
    if (!convert || i >= drawn) {
      converted.push_back(page);
      continue;
    }
    std::shared_ptr<Pixels> pixels;
    std::shared_ptr<const RowSource> rows;
    if (pdf) {
      if (!workingFile) workingFile.emplace(conversion.workingIcc(), "the working color profile");
      // Through the loader's hook: only code that loads PDFs links the PDF drawing.
      if (!artwork.pdfPageConverter) throw std::logic_error("A PDF page without its converter.");
      pixels = artwork.pdfPageConverter(page, *pdf, sizes[i], transform, workingFile->path());
    } else if (streamPng) {
      rows = std::make_shared<StreamedPngConversion>(shared, std::move(transform), *png, sizes[i]);
    } else {
      pixels = convertedBuffer(sizes[i]);
      convertPngPage(*png, transform, *pixels);
    }
    converted.push_back(convertedPage(page, sizes[i], std::move(pixels), std::move(rows),
                                      conversion, proof != nullptr));
  }

  Artwork result;
  result.format = artwork.format;
  result.dpiX = artwork.dpiX;
  result.dpiY = artwork.dpiY;
  result.pdfDocument = artwork.pdfDocument;
  result.pdfPageConverter = artwork.pdfPageConverter;
  result.sourceColorProfile = artwork.sourceColorProfile;
  result.pages = std::move(converted);
  result.colorManagement = "Application-managed \xC2\xB7 " + conversion.outputSummary().name;
  return result;
}

/// The artwork's warnings without those about colour left to the printer, then what the
/// conversion does; the last one says what the pictures show.
std::vector<std::string> managedWarnings(const Artwork& artwork, const ColorManagement& settings,
                                         const std::string& profileName,
                                         const std::string& pictures) {
  std::vector<std::string> warnings;
  for (const std::string& warning : artwork.warnings) {
    if (warning.find(kPrinterColorMarker) == std::string::npos) warnings.push_back(warning);
  }
  warnings.push_back("Application-managed color uses " + profileName + ", " +
                     settings.renderingIntent + ", black point compensation " +
                     (settings.blackPointCompensation ? "on" : "off") + ".");
  if (artwork.format == "PDF") {
    warnings.push_back(
        "Application-managed PDFs are rasterized at 300 DPI at the final print scale; embedded "
        "colors are interpreted by Core Graphics through 16-bit ROMM RGB.");
  }
  warnings.push_back(pictures);
  return warnings;
}

}  // namespace

Artwork Artwork::applyingColorManagement(const ColorManagement& settings, double scalePercent,
                                         bool convert, bool streamPng, ConvertedPages pages) const {
  settings.validate();
  if (!settings.applicationManaged()) return *this;
  // Shared with the pages converted as they are drawn, which outlive this call.
  const auto shared =
      std::make_shared<color::ManagedConversion>(color::ManagedConversion::open(settings));
  Artwork result = convertedPages(*this, shared, scalePercent, convert, streamPng, nullptr,
                                  pages == ConvertedPages::firstOnly ? 1 : SIZE_MAX);
  result.warnings = managedWarnings(
      *this, settings, shared->outputSummary().name,
      "Preview shows layout and converted artwork, not a calibrated paper or ink soft proof. "
      "Driver color correction must be disabled and this printer/media route physically "
      "validated.");
  return result;
}

Artwork softProofed(const Artwork& artwork, const ColorManagement& settings, const SoftProof& proof,
                    double scalePercent, SoftProofSheet& sheet) {
  settings.validate();
  proof.validate();
  if (!settings.applicationManaged()) throw PrintFailure(kSoftProofNeedsApplicationColor);
  const auto shared =
      std::make_shared<color::ManagedConversion>(color::ManagedConversion::open(settings));
  color::ProofView view;
  view.paperWhite = proof.paperWhite;
  view.gamutWarning = proof.gamutWarning;
  view.warningRgb = proof.warningRgb();
  view.tally = std::make_shared<color::GamutTally>();
  Artwork result = convertedPages(artwork, shared, scalePercent, true, true, &view);
  sheet.paperRgb = shared->proofPaper(proof.paperWhite);
  sheet.tally = view.tally;
  const std::string& name = shared->outputSummary().name;
  result.warnings = managedWarnings(
      artwork, settings, name,
      "Thumbnail is a soft proof of " + name + " in sRGB: " +
          (proof.paperWhite ? "the paper's white and the ink's black as the profile describes them"
                            : "the paper's white shown as white") +
          (proof.gamutWarning
               ? ", colors the printer cannot reproduce painted " + proof.gamutWarningColor
               : std::string()) +
          ". Driver color correction must be disabled and this printer/media route physically "
          "validated.");
  return result;
}

}  // namespace vardelle::artwork
