#pragma once

// Reads the page entries of a PDF without qpdf, for inspect: loading qpdf (with the GnuTLS it
// brings) and letting it parse every page object cost more than pdfinfo's whole run.
//
// It reads only files whose structure is plain: cross-reference tables or streams as written,
// objects where the table says, compressed only with Flate, no encryption, a page tree without
// repairs to make. It answers exactly as the qpdf loader would for such a file and declines
// everything else, which then goes to qpdf: the caller pays a second read, never a different
// answer.
#include <optional>
#include <string>
#include <vector>

#include "artwork/pdf_page_entries.h"

namespace vardelle::artwork {

/// The entries of every page of the PDF at `path`, in page order; none when the file is not plain
/// (or cannot be read), so that qpdf must read it. Throws PrintFailure(kUnreadablePdfSentence)
/// when the file is built to exhaust a reader: references followed more than 32 deep, a page tree
/// more than 256 deep, or more values than the file's size can hold plainly.
std::optional<std::vector<PdfPageEntries>> readPlainPdfPages(const std::string& path);

/// Before qpdf opens the PDF at `path` (`copying` false) or copies its pages into a sheet
/// (`copying` true): refuses it, with PrintFailure(kUnreadablePdfSentence), when reading its pages
/// would exhaust a reader (the limits of readPlainPdfPages) or, when copying, so would what the
/// pages reach (more values than the file can hold plainly, counting whole object streams as qpdf
/// parses them, or references followed from a page more than 1,000 deep). True when the file was
/// read and is within those limits; false when it is not plain, and only the process's own guard
/// (the entry's crash guard and resource limits) stands between it and qpdf.
bool checkPdfBeforeQpdf(const std::string& path, bool copying);

}  // namespace vardelle::artwork
