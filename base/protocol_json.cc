#include "base/protocol_json.h"

#include <cmath>

#include "base/json_fields.h"
#include "base/print_failure.h"

namespace vardelle {

namespace {

ColorManagement decodeColorManagement(const nlohmann::json& object, const std::string& where) {
  json::Fields f(object, "\"colorManagement\" of " + where);
  ColorManagement cm;
  cm.mode = f.requiredString("mode");
  cm.profileId = f.optionalString("profileId");
  cm.profilePath = f.optionalString("profilePath");
  cm.renderingIntent = f.requiredString("renderingIntent");
  cm.blackPointCompensation = f.requiredBool("blackPointCompensation");
  cm.driverColorManagementDisabled = f.requiredBool("driverColorManagementDisabled");
  return cm;
}

SoftProof decodeSoftProof(const nlohmann::json& object, const std::string& where) {
  json::Fields f(object, "\"softProof\" of " + where);
  SoftProof proof;
  proof.paperWhite = f.optionalBool("paperWhite").value_or(proof.paperWhite);
  proof.gamutWarning = f.optionalBool("gamutWarning").value_or(proof.gamutWarning);
  proof.gamutWarningColor = f.optionalString("gamutWarningColor").value_or(proof.gamutWarningColor);
  return proof;
}

template <typename T>
void put(nlohmann::json& j, const char* key, const std::optional<T>& value) {
  if (value) j[key] = *value;
}

bool allFinite(const nlohmann::json& j) {
  if (j.is_number_float()) return std::isfinite(j.get<double>());
  if (j.is_structured()) {
    for (const auto& item : j) {
      if (!allFinite(item)) return false;
    }
  }
  return true;
}

}  // namespace

PrintRequest decodePrintRequest(std::string_view bytes, const std::string& where) {
  const nlohmann::json doc = json::parse(bytes, where);
  json::Fields f(doc, where);
  PrintRequest r;
  r.filePath = f.optionalString("filePath");
  r.printerName = f.requiredString("printerName");
  r.printerId = f.optionalString("printerId");
  r.snapshotPath = f.requiredString("snapshotPath");
  r.scalePercent = f.requiredNumber("scalePercent");
  r.offsetXmm = f.optionalNumber("offsetXmm");
  r.offsetYmm = f.optionalNumber("offsetYmm");
  r.pngDpi = f.optionalNumber("pngDpi");
  r.outputPath = f.optionalString("outputPath");
  r.acceptMarginClipping = f.optionalBool("acceptMarginClipping");
  r.copies = f.optionalInteger("copies");
  if (const auto* cm = f.optionalObject("colorManagement")) {
    r.colorManagement = decodeColorManagement(*cm, where);
  }
  r.profilePath = f.optionalString("profilePath");
  if (const auto* proof = f.optionalObject("softProof"))
    r.softProof = decodeSoftProof(*proof, where);
  return r;
}

ProfileRequest decodeProfileRequest(std::string_view bytes, const std::string& where) {
  const nlohmann::json doc = json::parse(bytes, where);
  json::Fields f(doc, where);
  return ProfileRequest{f.requiredString("profilePath")};
}

PrintSummary decodePrintSummary(const nlohmann::json& object, const std::string& where) {
  json::Fields f(object, where);
  PrintSummary s;
  s.paperName = f.requiredString("paperName");
  s.paperWidthMm = f.requiredNumber("paperWidthMm");
  s.paperHeightMm = f.requiredNumber("paperHeightMm");
  s.orientation = f.requiredString("orientation");
  s.copies = f.requiredInteger("copies");
  s.printerName = f.requiredString("printerName");
  s.colorMode = f.optionalString("colorMode");
  return s;
}

nlohmann::json toJson(const PrintSummary& s) {
  nlohmann::json j = nlohmann::json::object();
  j["paperName"] = s.paperName;
  j["paperWidthMm"] = s.paperWidthMm;
  j["paperHeightMm"] = s.paperHeightMm;
  j["orientation"] = s.orientation;
  j["copies"] = s.copies;
  j["printerName"] = s.printerName;
  put(j, "colorMode", s.colorMode);
  return j;
}

nlohmann::json toJson(const DocumentInfo& d) {
  nlohmann::json j = nlohmann::json::object();
  j["format"] = d.format;
  j["pageCount"] = d.pageCount;
  nlohmann::json pages = nlohmann::json::array();
  for (const PageInfo& p : d.pages) {
    pages.push_back({{"widthMm", p.widthMm},
                     {"heightMm", p.heightMm},
                     {"scaledWidthMm", p.scaledWidthMm},
                     {"scaledHeightMm", p.scaledHeightMm}});
  }
  j["pages"] = std::move(pages);
  put(j, "dpiX", d.dpiX);
  put(j, "dpiY", d.dpiY);
  j["warnings"] = d.warnings;
  put(j, "fits", d.fits);
  j["requiresClipping"] = d.requiresClipping;
  put(j, "sourceColorProfile", d.sourceColorProfile);
  put(j, "colorManagement", d.colorManagement);
  put(j, "outOfGamutPercent", d.outOfGamutPercent);
  return j;
}

nlohmann::json toJson(const ProfileSummary& p) {
  nlohmann::json j = nlohmann::json::object();
  j["name"] = p.name;
  j["colorSpace"] = p.colorSpace;
  j["deviceClass"] = p.deviceClass;
  j["usableForPrinting"] = p.usableForPrinting;
  put(j, "incompatibilityReason", p.incompatibilityReason);
  return j;
}

std::optional<std::string> encodeResultLine(const HelperResult& r) {
  nlohmann::json j = nlohmann::json::object();
  j["ok"] = r.ok;
  put(j, "cancelled", r.cancelled);
  put(j, "error", r.error);
  if (r.summary) j["summary"] = toJson(*r.summary);
  if (r.document) j["document"] = toJson(*r.document);
  put(j, "outputPath", r.outputPath);
  put(j, "submitted", r.submitted);
  if (r.profile) j["profile"] = toJson(*r.profile);
  if (r.profilePaths) j["profilePaths"] = *r.profilePaths;
  // nlohmann would write NaN and infinity as null; such a result is not encodable at all.
  if (!allFinite(j)) return std::nullopt;
  // Objects are std::map-ordered, so keys come out sorted at every level. Invalid UTF-8 (a
  // file name from a foreign system) becomes U+FFFD rather than a lost result.
  std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  // A "/" can only stand inside a string in JSON text, so replacing it on the whole line is exact.
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '/') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace vardelle
