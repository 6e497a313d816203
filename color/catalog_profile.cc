#include "color/catalog_profile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "base/files.h"
#include "base/print_failure.h"
#include "color/lcms.h"
#include "color/output_profile.h"

namespace vardelle::color {

namespace {

constexpr std::size_t kHeaderAndCount = 132;
constexpr std::size_t kTagEntrySize = 12;

void appendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

/// Whether the bytes are well-formed UTF-8 in shape (lead and continuation bytes).
bool isUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t extra = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
    } else if (lead >= 0x80) {
      return false;
    }
    if (bytes.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

/// The description as UTF-8. lcms2 2.14 hands text over as wchar_t in two forms: the code units of
/// a Unicode (mluc) tag, surrogate halves unpaired; and the bytes of a version 2 ASCII description
/// widened as signed chars, so that any byte over 0x7F arrives negative. The narrow
/// cmsGetProfileInfoASCII would cut the first kind down to single bytes ("ü" to 0xFC, "日" to ","),
/// so the wide text is converted here instead.
std::string utf8Text(const std::wstring& wide) {
  bool bytesOnly = true;
  for (wchar_t w : wide) {
    if (w > 0x7F) bytesOnly = false;
  }
  std::string out;
  if (bytesOnly) {
    // Out-of-range bytes in an ASCII field: UTF-8 when they form it, else Latin-1.
    std::string bytes;
    for (wchar_t w : wide) bytes += static_cast<char>(static_cast<unsigned char>(w & 0xFF));
    if (isUtf8(bytes)) return bytes;
    for (unsigned char b : bytes) appendUtf8(out, b);
    return out;
  }
  for (std::size_t i = 0; i < wide.size(); ++i) {
    auto unit = static_cast<char32_t>(wide[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size()) {
      auto low = static_cast<char32_t>(wide[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    appendUtf8(out, unit);
  }
  return out;
}

bool isUnicodeSpace(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

/// The description the colour engine reads from the profile, trimmed of white space and line
/// breaks, as UTF-8; empty when there is none. Only used for the name, so a profile the engine
/// cannot open is not an error here.
std::string engineDescription(const std::string& data) {
  if (data.size() > std::numeric_limits<cmsUInt32Number>::max()) return {};
  LcmsContext context;
  Profile profile(cmsOpenProfileFromMemTHR(context.get(), data.data(),
                                           static_cast<cmsUInt32Number>(data.size())));
  if (!profile) return {};
  cmsUInt32Number bytes =
      cmsGetProfileInfo(profile.get(), cmsInfoDescription, "en", "US", nullptr, 0);
  if (bytes < sizeof(wchar_t)) return {};
  std::wstring wide(bytes / sizeof(wchar_t), L'\0');
  cmsGetProfileInfo(profile.get(), cmsInfoDescription, "en", "US", wide.data(), bytes);
  wide.pop_back();  // the terminator lcms2 adds
  // lcms2 2.14 joins each UTF-16 surrogate pair into one wchar_t but keeps the length in code
  // units, so the text ends in one uninitialised slot per character outside the basic plane.
  if (cmsGetEncodedCMMversion() <= 2140) {
    std::size_t end = wide.size();
    for (std::size_t i = 0; i < end; ++i) {
      if (wide[i] > 0xFFFF) --end;
    }
    wide.resize(end);
  }
  wide.resize(std::min(wide.size(), wide.find(L'\0')));
  auto first = std::find_if_not(wide.begin(), wide.end(), isUnicodeSpace);
  auto last = std::find_if_not(wide.rbegin(), std::make_reverse_iterator(first), isUnicodeSpace);
  return utf8Text(std::wstring(first, last.base()));
}

}  // namespace

std::uint32_t readUint32(std::string_view bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = value * 256 + static_cast<unsigned char>(bytes[offset + i]);
  }
  return value;
}

std::string decodeSignature(std::string_view bytes, std::size_t offset) {
  std::string_view raw = bytes.substr(offset, 4);
  bool printable = true;
  for (char c : raw) {
    auto b = static_cast<unsigned char>(c);
    if (b < 32 || b > 126) printable = false;
  }
  if (printable) {
    std::string text(raw);
    auto first = text.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n\v\f") - first + 1);
  }
  std::string hex = "0x";
  char digits[3];
  for (char c : raw) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
    hex += digits;
  }
  return hex;
}

std::string deviceClassWord(const std::string& classSignature) {
  static const std::pair<const char*, const char*> kTable[] = {
      {"prtr", "output"},     {"mntr", "display"},  {"scnr", "input"},      {"spac", "colorSpace"},
      {"link", "deviceLink"}, {"abst", "abstract"}, {"nmcl", "namedColor"},
  };
  for (const auto& [signature, word] : kTable) {
    if (classSignature == signature) return word;
  }
  return classSignature;
}

CatalogProfile::CatalogProfile(std::shared_ptr<const std::string> data, std::string name,
                               std::string colorSpace, std::string deviceClass)
    : data_(std::move(data)),
      name_(std::move(name)),
      colorSpace_(std::move(colorSpace)),
      deviceClass_(std::move(deviceClass)) {}

CatalogProfile CatalogProfile::load(const std::string& path, bool owned) {
  requireAbsolutePath(path, "ICC profile");
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    throw PlatformError("The file \xE2\x80\x9C" + path +
                        "\xE2\x80\x9D couldn\xE2\x80\x99t be opened: " + std::strerror(errno) +
                        ".");
  }
  // Only a regular file has a size; a folder or a pipe is "no size", which also keeps a FIFO from
  // blocking the read below.
  if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) < kHeaderAndCount) {
    throw PrintFailure(kProfileHeaderInvalid);
  }
  // Tested on the size before reading, so an oversized file is never pulled into memory.
  if (owned && static_cast<std::uint64_t>(info.st_size) > kConversionProfileSizeLimit) {
    throw PrintFailure(kProfileTooLargeForConversion);
  }
  // Read rather than mapped even for the catalog: a mapping turns a file truncated by someone else
  // into SIGBUS, which would end the helper without its result line.
  auto data = std::make_shared<const std::string>(readWholeFile(path));
  std::string fileName = std::filesystem::path(path).filename().string();
  return fromBytes(std::move(data), fileName);
}

CatalogProfile CatalogProfile::fromBytes(std::shared_ptr<const std::string> data,
                                         const std::string& fileName) {
  const std::string_view bytes = *data;
  const std::uint64_t count = bytes.size();
  if (count < kHeaderAndCount) throw PrintFailure(kProfileHeaderInvalid);
  if (decodeSignature(bytes, 36) != "acsp") throw PrintFailure(kProfileHeaderInvalid);
  if (readUint32(bytes, 0) != count) throw PrintFailure(kProfileHeaderInvalid);

  const std::uint64_t tagCount = readUint32(bytes, 128);
  if (tagCount == 0 || tagCount > (count - kHeaderAndCount) / kTagEntrySize) {
    throw PrintFailure(kProfileTagTableInvalid);
  }
  const std::uint64_t tableEnd = kHeaderAndCount + kTagEntrySize * tagCount;
  for (std::uint64_t i = 0; i < tagCount; ++i) {
    const std::uint64_t offset = readUint32(bytes, 136 + kTagEntrySize * i);
    const std::uint64_t size = readUint32(bytes, 140 + kTagEntrySize * i);
    if (offset < tableEnd || size < 8 || offset > count || count - offset < size) {
      throw PrintFailure(kProfileTagInvalid);
    }
  }

  const std::string classSignature = decodeSignature(bytes, 12);
  std::string name = engineDescription(*data);
  if (name.empty()) name = fileName;
  std::string colorSpace = decodeSignature(bytes, 16);
  return CatalogProfile(std::move(data), std::move(name), std::move(colorSpace),
                        deviceClassWord(classSignature));
}

ProfileSummary CatalogProfile::summary() const {
  ProfileSummary summary{name_, colorSpace_, deviceClass_, false, std::nullopt};
  try {
    return output(std::nullopt).summary();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    summary.incompatibilityReason = e.what();
  }
  return summary;
}

}  // namespace vardelle::color
