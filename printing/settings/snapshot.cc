#include "printing/settings/snapshot.h"

#include <unistd.h>

#include <array>

#include "base/files.h"
#include "base/json_fields.h"
#include "base/print_failure.h"
#include "base/protocol_json.h"

namespace vardelle::printing {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

NativeSnapshot decodeSnapshot(std::string_view bytes, const std::string& where) {
  const nlohmann::json doc = json::parse(bytes, where);
  json::Fields f(doc, where);
  NativeSnapshot s;
  s.version = f.requiredInteger("version");
  s.printerId = f.optionalString("printerId");
  s.printerName = f.requiredString("printerName");
  std::optional<std::string> archive = base64Decode(f.requiredString("archive"));
  if (!archive) throw PlatformError("The archive in " + where + " is not valid Base64.");
  s.archive = std::move(*archive);
  s.paper = artwork::PaperGeometry::fromJson(f.requiredObject("paper"), "\"paper\" of " + where);
  s.summary = decodePrintSummary(f.requiredObject("summary"), "\"summary\" of " + where);
  return s;
}

void NativeSnapshot::validateIdentity(const PrintRequest& request) const {
  if (version != 1 || printerName != request.printerName || printerId != request.printerId) {
    throw PrintFailure(
        "These settings belong to a different printer or an unsupported preset version. Save "
        "Printer Settings for the selected printer.");
  }
  paper.validate();
}

std::string NativeSnapshot::toFileBytes() const {
  nlohmann::ordered_json j;
  j["version"] = version;
  if (printerId) j["printerId"] = *printerId;
  j["printerName"] = printerName;
  j["archive"] = base64Encode(archive);
  j["paper"] = paper.toJson();
  nlohmann::json summaryJson = toJson(summary);
  nlohmann::ordered_json orderedSummary;
  for (const char* key : {"paperName", "paperWidthMm", "paperHeightMm", "orientation", "copies",
                          "printerName", "colorMode"}) {
    if (summaryJson.contains(key)) orderedSummary[key] = summaryJson[key];
  }
  j["summary"] = std::move(orderedSummary);
  // Strict: a name replaced by U+FFFD would be saved as a different printer or paper, and the
  // preset would then never match again.
  try {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::type_error&) {
    throw PrintFailure(
        "The printer settings could not be saved because a printer or paper name is not valid "
        "UTF-8 text.");
  }
}

std::optional<NativeSnapshot> loadSnapshot(const PrintRequest& request, bool required) {
  if (!fileExists(request.snapshotPath)) {
    if (!required) return std::nullopt;
    throw PrintFailure("Save Printer Settings for this preset before previewing or printing.");
  }
  try {
    const std::string where =
        "the snapshot file \xE2\x80\x9C" + request.snapshotPath + "\xE2\x80\x9D";
    NativeSnapshot snapshot = decodeSnapshot(readWholeFile(request.snapshotPath), where);
    snapshot.validateIdentity(request);
    return snapshot;
  } catch (const PrintFailure&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    throw PrintFailure(
        "The preset's saved printer settings could not be read. Save Printer Settings again or "
        "recreate the preset.");
  }
}

std::optional<NativeSnapshot> snapshotForSettings(const PrintRequest& request) {
  try {
    return loadSnapshot(request, false);
  } catch (const std::exception& e) {
    std::string line = std::string("Starting fresh Printer Settings: ") + e.what() + "\n";
    std::string_view rest = line;
    while (!rest.empty()) {
      ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
      if (n <= 0) break;
      rest.remove_prefix(static_cast<size_t>(n));
    }
    return std::nullopt;
  }
}

std::string base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    uint32_t v = uint8_t(bytes[i]) << 16;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::array<int, 256> value{};
  value.fill(-1);
  for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kAlphabet[i])] = i;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int pad = 0;
    if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      int d = 0;
      if (k >= 4 - pad) {
        if (text[i + k] != '=') return std::nullopt;
      } else {
        d = value[static_cast<unsigned char>(text[i + k])];
        if (d < 0) return std::nullopt;
      }
      v = (v << 6) | static_cast<uint32_t>(d);
    }
    // Bits below the last full byte must be zero in canonical Base64.
    if ((pad == 1 && (v & 0xFF)) || (pad == 2 && (v & 0xFFFF))) return std::nullopt;
    out += static_cast<char>(v >> 16);
    if (pad < 2) out += static_cast<char>((v >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(v & 0xFF);
  }
  return out;
}

}  // namespace vardelle::printing
