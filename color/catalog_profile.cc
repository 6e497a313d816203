#include "color/catalog_profile.h"

#include <sys/stat.h>

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

std::string trimmed(const std::string& text) {
  const char* space = " \t\r\n\v\f";
  auto first = text.find_first_not_of(space);
  if (first == std::string::npos) return {};
  auto last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

/// The description the colour engine reads from the profile, or empty. Only used for the name, so
/// a profile the engine cannot open is not an error here.
std::string engineDescription(const std::string& data) {
  if (data.size() > std::numeric_limits<cmsUInt32Number>::max()) return {};
  LcmsContext context;
  Profile profile(cmsOpenProfileFromMemTHR(context.get(), data.data(),
                                           static_cast<cmsUInt32Number>(data.size())));
  if (!profile) return {};
  return profileDescription(profile.get());
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
  std::string name = trimmed(engineDescription(*data));
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
