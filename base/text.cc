#include "base/text.h"

#include <algorithm>
#include <array>

namespace vardelle {

std::string asciiLowercase(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), asciiLower);
  return lowered;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return asciiLower(x) == asciiLower(y);
         });
}

std::string_view trimmedText(std::string_view text) {
  static constexpr std::array<std::string_view, 6> kUnicodeSpaces = {"\u00A0", "\u0085", "\u2028",
                                                                     "\u2029", "\u3000", "\u202F"};
  auto strip = [&](bool front) {
    for (bool changed = true; changed && !text.empty();) {
      changed = false;
      char c = front ? text.front() : text.back();
      if (c == ' ' || (c >= '\t' && c <= '\r')) {
        text = front ? text.substr(1) : text.substr(0, text.size() - 1);
        changed = true;
        continue;
      }
      for (auto space : kUnicodeSpaces) {
        bool match = front ? text.starts_with(space) : text.ends_with(space);
        if (match) {
          text = front ? text.substr(space.size()) : text.substr(0, text.size() - space.size());
          changed = true;
          break;
        }
      }
    }
  };
  strip(true);
  strip(false);
  return text;
}

}  // namespace vardelle
