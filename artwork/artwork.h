#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "artwork/paper_geometry.h"
#include "artwork/png_image.h"
#include "base/records.h"
#include "color/source_color_space.h"

namespace vardelle::color {
class PageTransform;
}  // namespace vardelle::color

namespace vardelle::artwork {

/// An open PDF document (artwork/pdf_document.h); only code that reads or draws PDF objects
/// needs its definition.
class PdfDocument;

struct ArtworkPage;
struct PdfPage;
struct RasterSize;

/// A PDF page converted to a printer profile (artwork/pdf_conversion.h).
using ConvertPdfPage = std::shared_ptr<Pixels> (*)(const ArtworkPage& page, const PdfPage& pdf,
                                                   RasterSize size,
                                                   const color::PageTransform& transform,
                                                   const std::string& workingProfilePath);

/// One page of a loaded PDF. Boxes are in the page's default user space (before UserUnit),
/// standardised (non-negative width and height).
struct PdfPage {
  std::shared_ptr<PdfDocument> document;  ///< keeps the document open; null when only measured
  size_t index = 0;                       ///< 0-based; document->pageObject(index) is the page
  Rect cropBox;           ///< inherited /CropBox, or the media box when there is none
  Rect mediaBox;          ///< inherited /MediaBox
  Rect visibleBox;        ///< cropBox ∩ mediaBox: what is shown and printed
  int rotation = 0;       ///< inherited /Rotate normalised to 0, 90, 180 or 270 (clockwise)
  double userUnit = 1.0;  ///< /UserUnit of the page dictionary, 1 without one
};

/// Rows made as they are read, for a page that is never held whole (converted while drawn).
class RowSource {
 public:
  virtual ~RowSource() = default;
  /// Calls `onRow(y, row)` for each row from the top, samples laid out as the page's layout().
  /// Throws PrintFailure like decoding; an exception from `onRow` passes on.
  virtual void forEachRow(
      const std::function<void(uint32_t y, const unsigned char* row)>& onRow) const = 0;
};

/// The single image of a PNG file, or a raster made in memory (a colour-converted page).
struct PngPage {
  /// The PNG file; empty for an in-memory raster.
  std::string path;
  /// IHDR of the file (for an in-memory raster: its size and layout).
  PngHeader header;
  /// The resolution the page is sized with (the override or the file's pHYs).
  double dpiX = 0;
  double dpiY = 0;
  /// The colour space the samples are in (for a file: the interpretation of its colour chunks).
  color::SourceColorSpace colorSpace;
  /// Decoded samples of an in-memory raster; null for a file, which is decoded on demand.
  std::shared_ptr<const Pixels> pixels;
  /// Set instead of `pixels` on a raster made row by row each time it is read; `header` then
  /// gives its size and layout.
  std::shared_ptr<const RowSource> rows;
  /// Set on a page converted to a printer profile (application-managed colour): the id of that
  /// profile. The samples are then its device values, to be printed without further matching.
  std::optional<std::string> deviceProfileId;

  /// The samples: the in-memory raster, or the file decoded now (not cached). Throws
  /// PrintFailure("This PNG could not be opened. It may be incomplete or damaged.").
  std::shared_ptr<const Pixels> decode() const;

  /// The sample layout decode() gives.
  Pixels layout() const {
    return pixels ? Pixels{pixels->width,    pixels->height,   pixels->bitDepth,
                           pixels->channels, pixels->hasAlpha, {}}
                  : pixelLayout(header);
  }
  /// Calls `onRow(y, row)` for each row from the top without holding the whole image (for a file;
  /// an in-memory raster is walked in place). Throws like decode().
  void forEachRow(const std::function<void(uint32_t y, const unsigned char* row)>& onRow) const;
};

/// A page of artwork with its natural physical size in points, upright as it will be on paper.
struct ArtworkPage {
  std::variant<PdfPage, PngPage> content;
  Size size;

  Size naturalSize() const { return size; }
  const PdfPage* pdf() const { return std::get_if<PdfPage>(&content); }
  const PngPage* png() const { return std::get_if<PngPage>(&content); }
};

/// A loaded PDF or PNG: an immutable description of the document. Copies share the open
/// document and the decoded rasters.
struct Artwork {
  std::string format;  ///< "PDF" or "PNG"
  std::vector<ArtworkPage> pages;
  std::optional<double> dpiX;  ///< PNG only
  std::optional<double> dpiY;  ///< PNG only
  std::vector<std::string> warnings;
  std::shared_ptr<PdfDocument> pdfDocument;  ///< PDF only
  /// PDF only: how its pages are converted with application-managed colour. The PDF loader sets
  /// it, so that code which loads only PNG artwork links none of the PDF drawing.
  ConvertPdfPage pdfPageConverter = nullptr;
  std::optional<std::string> sourceColorProfile;
  std::optional<std::string> colorManagement;

  /// Opens and measures the artwork at `path` (absolute; .pdf or .png by extension, any case).
  /// `pngDpi` overrides a PNG's own resolution. Throws PrintFailure with the sentence of the
  /// first failed check; a file-system error in the PNG colour scan passes as PlatformError.
  static Artwork load(const std::string& path, std::optional<double> pngDpi);
  /// load() for a path already known to name a PDF, or a PNG: the same checks and sentences.
  static Artwork loadPdf(const std::string& path);
  /// loadPdf() without qpdf, for measuring only: the same artwork (no document to draw from) for a
  /// PDF of plain structure, none for any other PDF, which loadPdf() must then read. A PDF with
  /// layers gets none too, since its warnings name them and that takes qpdf; with `layered`, it
  /// gets its artwork without that warning, and *layered says so.
  static std::optional<Artwork> loadPlainPdf(const std::string& path, bool* layered = nullptr);
  /// What loadPdf() gives, for measuring only (no document to draw from): read without qpdf where
  /// loadPlainPdf() can, qpdf then reading only the catalog of a PDF with layers.
  static Artwork loadPdfToMeasure(const std::string& path);
  static Artwork loadPng(const std::string& path, std::optional<double> pngDpi);

  /// Measures every page in millimetres at natural size and at `scalePercent`, and judges each
  /// against `paper` when there is one. Throws the PrintFailure of placement().
  DocumentInfo inspect(double scalePercent, const std::optional<PaperGeometry>& paper,
                       double offsetXmm, double offsetYmm) const;

  /// Applies the request's colour settings (validated first). Printer-managed colour returns the
  /// artwork unchanged. With `convert` false no pixels are converted. With `streamPng`, a PNG
  /// page is converted again each time it is drawn, a band at a time, instead of being held
  /// converted (same values; a damaged file then fails when drawn). With `pages` firstOnly, the
  /// pages after the first are checked (sizes, limits, their source's transform) but keep their
  /// own content, for a picture of the first sheet. Throws PrintFailure.
  enum class ConvertedPages { all, firstOnly };
  Artwork applyingColorManagement(const ColorManagement& settings, double scalePercent,
                                  bool convert, bool streamPng = false,
                                  ConvertedPages pages = ConvertedPages::all) const;
};

/// The first check of every loader: `path` is absolute and can be read. Throws PrintFailure.
void requireReadableArtwork(const std::string& path);

/// The fixed texts that loading puts into an Artwork.
inline constexpr const char* kPrinterManaged = "Printer-managed";
inline constexpr const char* kPrinterColorWarning =
    "Color is handled by macOS and the printer; no app ICC conversion is applied.";
/// What a warning says when it is about colour left to the printer: the parent application and
/// this helper agree that converting the colours drops every warning that contains it.
inline constexpr std::string_view kPrinterColorMarker = "no app ICC conversion";
inline constexpr const char* kDpiOverrideWarning =
    "PNG size uses the explicit DPI override in this preset.";
inline constexpr const char* kPdfSourceColorProfile =
    "PDF document color spaces (embedded RGB/CMYK interpreted by Core Graphics)";
inline constexpr const char* kPngUnreadable =
    "This PNG could not be opened. It may be incomplete or damaged.";

}  // namespace vardelle::artwork
