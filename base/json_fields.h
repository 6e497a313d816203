#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace vardelle::json {

/// Strict access to the fields of one JSON object, with errors that name the key and where it
/// was read from. Missing required keys, wrong types and fractional integers throw PlatformError;
/// `null` counts as absent; keys that are not asked for are ignored.
class Fields {
 public:
  /// `where` names the object in messages, for example "the request file /tmp/r.json".
  Fields(const nlohmann::json& object, std::string where);

  std::string requiredString(const char* key) const;
  double requiredNumber(const char* key) const;
  int64_t requiredInteger(const char* key) const;
  bool requiredBool(const char* key) const;
  const nlohmann::json& requiredObject(const char* key) const;

  std::optional<std::string> optionalString(const char* key) const;
  std::optional<double> optionalNumber(const char* key) const;
  std::optional<int64_t> optionalInteger(const char* key) const;
  std::optional<bool> optionalBool(const char* key) const;
  const nlohmann::json* optionalObject(const char* key) const;

  const std::string& where() const { return where_; }

 private:
  const nlohmann::json* find(const char* key) const;
  const nlohmann::json& require(const char* key) const;
  [[noreturn]] void wrongType(const char* key, const char* expected) const;

  const nlohmann::json& object_;
  std::string where_;
};

/// Parses bytes as one JSON value; throws PlatformError naming `where` when they are not JSON.
nlohmann::json parse(std::string_view bytes, const std::string& where);

}  // namespace vardelle::json
