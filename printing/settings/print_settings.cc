#include "printing/settings/print_settings.h"

#include <algorithm>
#include <charconv>

#include <nlohmann/json.hpp>

#include "base/text.h"

namespace vardelle::printing {
namespace {

constexpr std::string_view kArchiveFormat = "vardelle.print-settings";
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kMaxValueBytes = 32767;

bool validName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return c > ' ' && c < 0x7F && c != '='; });
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. The archive is JSON,
// which cannot carry anything else.
bool validUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) {
      if (c == 0) return false;
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t code = 0;
    uint32_t minimum = 0;
    if ((c & 0xE0) == 0xC0) {
      length = 2, code = c & 0x1F, minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3, code = c & 0x0F, minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4, code = c & 0x07, minimum = 0x10000;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return false;
      code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

bool validValue(std::string_view value) {
  return value.size() <= kMaxValueBytes && validUtf8(value);
}

}  // namespace

std::optional<std::string> PrintSettings::option(std::string_view name) const {
  for (const auto& entry : options_) {
    if (equalsIgnoringAsciiCase(entry.name, name)) return entry.value;
  }
  return std::nullopt;
}

bool PrintSettings::setOption(std::string_view name, std::string_view value) {
  if (!validName(name) || !validValue(value)) return false;
  for (auto& entry : options_) {
    if (equalsIgnoringAsciiCase(entry.name, name)) {
      entry.value = value;
      return true;
    }
  }
  options_.push_back({std::string(name), std::string(value)});
  return true;
}

void PrintSettings::removeOption(std::string_view name) {
  std::erase_if(options_, [&](const PrintOption& entry) {
    return equalsIgnoringAsciiCase(entry.name, name);
  });
}

nlohmann::json PrintSettings::optionDictionary() const {
  auto dictionary = nlohmann::json::object();
  for (const auto& entry : options_) dictionary[entry.name] = entry.value;
  return dictionary;
}

std::optional<Orientation> PrintSettings::orientation() const {
  auto value = option(kOrientation);
  if (!value) return Orientation::portrait;
  if (*value == "3") return Orientation::portrait;
  if (*value == "4") return Orientation::landscape;
  if (*value == "5") return Orientation::reverseLandscape;
  if (*value == "6") return Orientation::reversePortrait;
  return std::nullopt;
}

void PrintSettings::setOrientation(Orientation orientation) {
  // A one-digit keyword always passes the store's rules.
  (void)setOption(kOrientation, std::to_string(static_cast<int>(orientation)));
}

std::optional<int64_t> PrintSettings::copies() const {
  auto value = option(kCopies);
  if (!value || value->empty() || value->size() > 4) return std::nullopt;
  if (!std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  int64_t count = 0;
  std::from_chars(value->data(), value->data() + value->size(), count);
  if (count < 1) return std::nullopt;
  return count;
}

std::string PrintSettings::archive() const {
  nlohmann::ordered_json options = nlohmann::ordered_json::array();
  for (const auto& entry : options_) {
    options.push_back(nlohmann::ordered_json{{"name", entry.name}, {"value", entry.value}});
  }
  nlohmann::ordered_json archive{{"format", kArchiveFormat},
                                 {"version", kArchiveVersion},
                                 {"printer", printerName_},
                                 {"options", std::move(options)}};
  return archive.dump();
}

std::optional<PrintSettings> PrintSettings::restore(std::string_view bytes) {
  auto archive = nlohmann::json::parse(bytes, nullptr, /*allow_exceptions=*/false);
  if (!archive.is_object()) return std::nullopt;
  auto format = archive.find("format");
  auto version = archive.find("version");
  auto printer = archive.find("printer");
  auto options = archive.find("options");
  if (format == archive.end() || !format->is_string() || *format != kArchiveFormat) {
    return std::nullopt;
  }
  // A float 1.0 is not version 1: the writer only ever writes the integer.
  if (version == archive.end() || !version->is_number_integer() ||
      version->get<int64_t>() != kArchiveVersion) {
    return std::nullopt;
  }
  if (printer == archive.end() || !printer->is_string()) return std::nullopt;
  if (options == archive.end() || !options->is_array()) return std::nullopt;

  PrintSettings settings(printer->get<std::string>());
  for (const auto& entry : *options) {
    if (!entry.is_object()) return std::nullopt;
    auto name = entry.find("name");
    auto value = entry.find("value");
    if (name == entry.end() || !name->is_string() || value == entry.end() || !value->is_string()) {
      return std::nullopt;
    }
    const auto& nameText = name->get_ref<const std::string&>();
    // A repeated name would silently lose one of the two values: the bytes are not ours.
    if (settings.option(nameText)) return std::nullopt;
    if (!settings.setOption(nameText, value->get_ref<const std::string&>())) return std::nullopt;
  }
  return settings;
}

}  // namespace vardelle::printing
