#include "base/json_fields.h"

#include <cmath>

#include "base/print_failure.h"

namespace vardelle::json {

Fields::Fields(const nlohmann::json& object, std::string where)
    : object_(object), where_(std::move(where)) {
  if (!object_.is_object()) throw PlatformError("The data in " + where_ + " is not a JSON object.");
}

const nlohmann::json* Fields::find(const char* key) const {
  auto it = object_.find(key);
  if (it == object_.end() || it->is_null()) return nullptr;
  return &*it;
}

const nlohmann::json& Fields::require(const char* key) const {
  const nlohmann::json* value = find(key);
  if (!value) {
    throw PlatformError("The data in " + where_ + " is missing the required key \"" + key + "\".");
  }
  return *value;
}

void Fields::wrongType(const char* key, const char* expected) const {
  throw PlatformError("The key \"" + std::string(key) + "\" in " + where_ + " must be " + expected +
                      ".");
}

namespace {

std::optional<int64_t> integral(const nlohmann::json& v) {
  if (v.is_number_integer() && !v.is_number_unsigned()) return v.get<int64_t>();
  if (v.is_number_unsigned()) {
    uint64_t u = v.get<uint64_t>();
    if (u > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(u);
  }
  if (v.is_number_float()) {
    // 2.0 is an integral number; 2.5 and 1e30 are not a signed 64-bit integer.
    double d = v.get<double>();
    if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 &&
        d < 9223372036854775808.0) {
      return static_cast<int64_t>(d);
    }
  }
  return std::nullopt;
}

}  // namespace

std::string Fields::requiredString(const char* key) const {
  const auto& v = require(key);
  if (!v.is_string()) wrongType(key, "a string");
  return v.get<std::string>();
}

double Fields::requiredNumber(const char* key) const {
  const auto& v = require(key);
  if (!v.is_number()) wrongType(key, "a number");
  return v.get<double>();
}

int64_t Fields::requiredInteger(const char* key) const {
  const auto& v = require(key);
  auto i = integral(v);
  if (!i) wrongType(key, "a whole number");
  return *i;
}

bool Fields::requiredBool(const char* key) const {
  const auto& v = require(key);
  if (!v.is_boolean()) wrongType(key, "true or false");
  return v.get<bool>();
}

const nlohmann::json& Fields::requiredObject(const char* key) const {
  const auto& v = require(key);
  if (!v.is_object()) wrongType(key, "an object");
  return v;
}

std::optional<std::string> Fields::optionalString(const char* key) const {
  const auto* v = find(key);
  if (!v) return std::nullopt;
  if (!v->is_string()) wrongType(key, "a string");
  return v->get<std::string>();
}

std::optional<double> Fields::optionalNumber(const char* key) const {
  const auto* v = find(key);
  if (!v) return std::nullopt;
  if (!v->is_number()) wrongType(key, "a number");
  return v->get<double>();
}

std::optional<int64_t> Fields::optionalInteger(const char* key) const {
  const auto* v = find(key);
  if (!v) return std::nullopt;
  auto i = integral(*v);
  if (!i) wrongType(key, "a whole number");
  return i;
}

std::optional<bool> Fields::optionalBool(const char* key) const {
  const auto* v = find(key);
  if (!v) return std::nullopt;
  if (!v->is_boolean()) wrongType(key, "true or false");
  return v->get<bool>();
}

const nlohmann::json* Fields::optionalObject(const char* key) const {
  const auto* v = find(key);
  if (v && !v->is_object()) wrongType(key, "an object");
  return v;
}

nlohmann::json parse(std::string_view bytes, const std::string& where) {
  try {
    return nlohmann::json::parse(bytes.begin(), bytes.end());
  } catch (const nlohmann::json::parse_error& e) {
    throw PlatformError("The data in " + where + " is not valid JSON (at byte " +
                        std::to_string(e.byte) + ").");
  } catch (const nlohmann::json::exception&) {
    // A number too large for a 64-bit float, for example 1e9999.
    throw PlatformError("The data in " + where + " holds a number that is out of range.");
  }
}

}  // namespace vardelle::json
