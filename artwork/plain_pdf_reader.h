#pragma once

// Reads the page entries of a PDF without qpdf, for inspect: loading qpdf (with the GnuTLS it
// brings) and letting it parse every page object cost more than pdfinfo's whole run.
//
// It reads only files whose structure is plain: cross-reference tables or streams as written,
// objects where the table says, compressed only with Flate, no encryption, a page tree without
// repairs to make. It answers exactly as the qpdf loader would for such a file and declines
// everything else, which then goes to qpdf: the caller pays a second read, never a different
// answer. Its values, filters and limits are in plain_pdf_values.h, plain_pdf_filters.h and
// plain_pdf_limits.h.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "artwork/pdf_page_entries.h"

namespace vardelle::artwork {

/// The entries of every page of the PDF at `path`, in page order, and whether its catalog has
/// optional content properties (layers, which this reader does not read); none when the file is
/// not plain (or cannot be read), so that qpdf must read it. Whether the file can be read at all
/// is decided as checkPdfBeforeQpdf decides it, so every mode gives one answer for one file.
struct PlainPdfPages {
  std::vector<PdfPageEntries> pages;
  bool layered = false;
};
std::optional<PlainPdfPages> readPlainPdfPages(const std::string& path);

/// Before qpdf opens the PDF at `path`, in every mode: refuses it, with
/// PrintFailure(kUnreadablePdfSentence), when reading its pages or what they reach (which qpdf
/// copies into a sheet, parsing whole object streams) would exhaust a reader: references followed
/// more than 32 deep (1,000 from a page), a page tree more than 256 deep, object and
/// cross-reference streams that decode to more than 64 MB (256 MB in all), or more values than the
/// file's budgets (plain_pdf_limits.h). Also decodes the other filters qpdf decodes in object
/// streams, to measure them. What it measured when the file was read and is within those limits;
/// nothing when it is not plain, and only the process's own guard (the entry's crash guard and
/// resource limits) stands between it and qpdf.
struct PdfCheck {
  long long fileBytes = 0;
  size_t valuesReached =
      0;  // what qpdf builds to copy the pages into a sheet (whole object streams)
};
std::optional<PdfCheck> checkPdfBeforeQpdf(const std::string& path);

/// What the check counts in a file, with no budget of values, for measuring real files
/// (bench/pdf_values.sh).
struct PdfStructureCount {
  long long fileBytes = 0;
  size_t decodedBytes = 0;  // object and cross-reference streams, decoded
  size_t values = 0;        // built to read the pages, with cross-reference entries and offsets
  size_t copiedValues = 0;  // reached from the pages, as qpdf builds them to copy the pages
  std::string stoppedBy;    // empty when the file was read whole
};
PdfStructureCount countPdfStructure(const std::string& path);

}  // namespace vardelle::artwork
