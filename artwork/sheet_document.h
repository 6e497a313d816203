#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "artwork/artwork.h"
#include "artwork/paper_geometry.h"
#include "artwork/pdf_transform.h"

namespace vardelle::artwork {

/// A PDF being composed sheet by sheet: the drawing target of drawArtworkPage. User space of a
/// sheet is paper coordinates in points, origin at its lower-left corner, y upward. PDF pages are
/// placed as Form XObjects copied from their source documents (resources shared between pages are
/// copied once); PNG pages as image XObjects. Holds every source document it copies from until
/// it has been written.
class SheetDocument {
 public:
  SheetDocument();
  ~SheetDocument();
  SheetDocument(const SheetDocument&) = delete;
  SheetDocument& operator=(const SheetDocument&) = delete;

  /// Starts a new, empty sheet with the media box (0, 0, width, height); later drawing goes to it.
  void beginSheet(Size mediaSize);
  /// Number of sheets begun so far.
  size_t sheetCount() const;

  /// Appends raw content-stream operators to the current sheet. Throws std::logic_error before
  /// the first beginSheet.
  void appendContent(std::string_view operators);

  /// The resource name (with its slash) under which the current sheet can `Do` the page's content
  /// as a Form XObject whose /BBox is the page's visible box, in the page's own user space (no
  /// rotation or UserUnit applied). Throws PrintFailure("Could not create a PDF preview.") when
  /// qpdf cannot read the page.
  std::string formXObjectFor(const PdfPage& page);

  /// The resource name under which the current sheet can `Do` the page's image: 8 or 16 bits per
  /// component, tagged with its ICC profile, alpha as a soft mask, interpolated. Decodes the PNG
  /// (its own PrintFailure passes through).
  std::string imageXObjectFor(const PngPage& page);

  /// With `on`, images drawn from now on are written as plain DeviceRGB or DeviceGray without
  /// their ICC profile: for rasters already converted to the printer's own values, which must
  /// reach it unchanged (the print job of application-managed colour). Off by default.
  void setDeviceValueImages(bool on);

  /// Sheets begun from now on carry /Rotate `degrees` (0, 90, 180 or 270): they are shown and
  /// printed turned clockwise by that much, their drawing unchanged. For a printer that takes
  /// the document as it is, so that a landscape sheet arrives already turned onto its portrait
  /// media. 0 by default; other values throw std::invalid_argument.
  void setSheetRotation(int degrees);

  /// Document information written with the file.
  void setInfo(const std::string& creator, const std::string& title);

  /// Threads that compress made rasters (converted pages) while the document is written; 0, the
  /// default, means one per core. The bytes written are the same for any number.
  void setCompressionThreads(unsigned threads);

  /// Serialises the document (deterministic file identifier, compressed streams), handing it to
  /// `sink` piece by piece as it is made, so that a large document is never held whole: made
  /// rasters go to `sink` as they are compressed and are never held whole in memory, which puts
  /// them behind a classic cross-reference table with indirect stream lengths. Throws
  /// PrintFailure("Could not create a PDF preview.") when qpdf fails, e.g. on damaged source
  /// streams; a raster's own PrintFailure (a PNG damaged since loading) and what `sink` throws
  /// pass through unchanged.
  void write(const std::function<void(std::string_view)>& sink);
  /// The same, into memory.
  std::string write();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// A number in PDF syntax: fixed notation (PDF has no exponents), at most 6 decimals for
/// coordinates, trailing zeros removed.
std::string pdfNumber(double value, int decimals = 6);

/// The "a b c d e f cm" operator for `m`. The coefficients carry 10 decimals, more than
/// coordinates: a tiny scale (a large UserUnit page shrunk) must not lose its relative precision.
std::string pdfMatrixOperator(const AffineTransform& m);

}  // namespace vardelle::artwork
