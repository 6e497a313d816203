#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/records.h"

namespace vardelle {

/// Decodes a request file's bytes strictly; throws PlatformError naming `where` or the key.
PrintRequest decodePrintRequest(std::string_view bytes, const std::string& where);
ProfileRequest decodeProfileRequest(std::string_view bytes, const std::string& where);

/// The summary record inside snapshot files. Throws PlatformError on a missing or mistyped key.
PrintSummary decodePrintSummary(const nlohmann::json& object, const std::string& where);
nlohmann::json toJson(const PrintSummary& summary);
nlohmann::json toJson(const DocumentInfo& document);
nlohmann::json toJson(const ProfileSummary& profile);

/// The result as one compact line without its line feed: keys sorted at every level, absent
/// fields left out, every "/" written "\/". None when a number anywhere is not finite.
std::optional<std::string> encodeResultLine(const HelperResult& result);

/// The fixed line written when a result cannot be encoded (61 bytes with its line feed).
inline constexpr std::string_view kFallbackResultLine =
    "{\"ok\":false,\"error\":\"Could not encode print helper result.\"}\n";

}  // namespace vardelle
