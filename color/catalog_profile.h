#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/records.h"

namespace vardelle::color {

class OutputProfile;

/// The largest profile used for conversion, in bytes (32 MB); a file of exactly this size is
/// accepted.
inline constexpr std::size_t kConversionProfileSizeLimit = 32u * 1024u * 1024u;

/// The catalog's refusal sentences.
inline constexpr const char* kProfileHeaderInvalid =
    "The ICC profile header is invalid or incomplete.";
inline constexpr const char* kProfileTagTableInvalid =
    "The ICC profile tag table is invalid or incomplete.";
inline constexpr const char* kProfileTagInvalid =
    "The ICC profile contains an invalid or incomplete tag.";
inline constexpr const char* kProfileTooLargeForConversion =
    "This profile is visible in the catalog, but application-managed conversion is limited to ICC "
    "files of 32 MB or less.";

/// One structurally sound ICC profile file, of any colour space or class. A value: copies share
/// the byte buffer.
class CatalogProfile {
 public:
  CatalogProfile(std::shared_ptr<const std::string> data, std::string name, std::string colorSpace,
                 std::string deviceClass);

  /// Reads the profile at the absolute `path` into memory and runs the structural checks. With
  /// `owned` true (the profile will be used for conversion) a file over 32 MB is refused before it
  /// is read; with `owned` false there is no size limit.
  /// Throws PrintFailure for a relative path or a structural fault, PlatformError when the file
  /// cannot be examined or read.
  static CatalogProfile load(const std::string& path, bool owned = false);

  /// The structural checks and naming of load() on bytes already in memory; `fileName` names the
  /// profile when it carries no description. Throws PrintFailure like load().
  static CatalogProfile fromBytes(std::shared_ptr<const std::string> data,
                                  const std::string& fileName);

  /// The whole profile file.
  const std::string& data() const { return *data_; }
  /// The same bytes, shared rather than copied.
  std::shared_ptr<const std::string> sharedData() const { return data_; }
  /// The description text as UTF-8, trimmed, or the file name with its extension.
  const std::string& name() const { return name_; }
  /// The decoded data colour space signature, e.g. "RGB" or "CMYK".
  const std::string& colorSpace() const { return colorSpace_; }
  /// "output", "display", "input", "colorSpace", "deviceLink", "abstract", "namedColor", or the
  /// decoded class signature when it is none of these.
  const std::string& deviceClass() const { return deviceClass_; }

  /// The RGB output check (defined with OutputProfile). `expectedId`, when given, must equal the
  /// profile id exactly. Throws PrintFailure with the first reason the profile cannot serve.
  OutputProfile output(const std::optional<std::string>& expectedId) const;

  /// name, colour space and class, and whether output() accepts the profile (with its reason
  /// when not). Never throws except for lack of memory.
  ProfileSummary summary() const;

 private:
  std::shared_ptr<const std::string> data_;
  std::string name_;
  std::string colorSpace_;
  std::string deviceClass_;
};

/// The four bytes at `offset` as text: trimmed when all are printable ASCII, else "0x" and eight
/// lowercase hex digits. `offset + 4` must not exceed the buffer.
std::string decodeSignature(std::string_view bytes, std::size_t offset);

/// The big-endian unsigned 32-bit integer at `offset`; `offset + 4` must not exceed the buffer.
std::uint32_t readUint32(std::string_view bytes, std::size_t offset);

/// The catalog's word for a decoded class signature ("prtr" gives "output"), or the signature.
std::string deviceClassWord(const std::string& classSignature);

}  // namespace vardelle::color
