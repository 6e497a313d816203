#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "artwork/paper_geometry.h"
#include "base/records.h"

namespace vardelle::printing {

/// A preset's saved native printer settings, as stored in its snapshot file.
struct NativeSnapshot {
  int64_t version = 1;
  std::optional<std::string> printerId;
  std::string printerName;
  std::string archive;  ///< the archived PrintSettings, opaque bytes
  artwork::PaperGeometry paper;
  PrintSummary summary;

  /// Throws PrintFailure unless version, printer name and identifier match the request exactly,
  /// then validates the paper.
  void validateIdentity(const PrintRequest& request) const;

  /// The file form: one compact JSON object, keys in the fixed order, archive in Base64. Throws
  /// PrintFailure when a text in it is not valid UTF-8 (nothing is replaced).
  std::string toFileBytes() const;
};

/// Decodes the bytes of a snapshot file without checking them against a request. Throws
/// PlatformError for anything that is not a snapshot (bad JSON, missing or mistyped key, bad
/// Base64).
NativeSnapshot decodeSnapshot(std::string_view bytes, const std::string& where);

/// Reads the snapshot at request.snapshotPath. None when the file is missing and `required` is
/// false; throws PrintFailure for a missing required file, an unreadable one, or one that does
/// not belong to the request's printer.
std::optional<NativeSnapshot> loadSnapshot(const PrintRequest& request, bool required);

/// The tolerant read before the settings dialog: the snapshot, or none when there is no usable
/// one; an unusable file is reported as one "Starting fresh Printer Settings: ..." line on
/// standard error. Never throws.
std::optional<NativeSnapshot> snapshotForSettings(const PrintRequest& request);

/// Standard Base64 (RFC 4648, padded, no line breaks).
std::string base64Encode(std::string_view bytes);
/// Strict standard Base64; none for anything else.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace vardelle::printing
