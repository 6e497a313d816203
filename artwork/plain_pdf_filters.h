#pragma once

// The stream filters the plain reader undoes, as qpdf undoes them in object and cross-reference
// streams. Each throws NotPlain (plain_pdf_limits.h) where its data is not what qpdf would read
// the same way, and Hostile when what it produces passes kLargestDecoded.
#include <cstddef>
#include <string>

namespace vardelle::artwork::plain_pdf {

/// Flate (zlib) data inflated.
std::string inflated(const std::string& raw);

/// PNG prediction of one byte a sample undone: each row is a filter byte and `width` bytes.
std::string unpredicted(const std::string& data, size_t width);

/// ASCIIHexDecode, up to its ">".
std::string fromHex(const std::string& in);

/// ASCII85Decode, up to its "~".
std::string fromAscii85(const std::string& in);

/// RunLengthDecode, up to its end-of-data byte.
std::string fromRunLength(const std::string& in);

/// LZWDecode with the default early change, as qpdf's Pl_LZWDecoder reads it.
std::string fromLzw(const std::string& in);

}  // namespace vardelle::artwork::plain_pdf
