#pragma once

// Text rules shared by every folder. CUPS, PPDs and IPP compare names in ASCII case only; bytes
// above 127 (UTF-8) are never folded, so no locale and no signed-char pitfall of std::tolower can
// change what matches.

#include <string>
#include <string_view>

namespace vardelle {

/// `c` with A–Z turned to a–z; every other byte unchanged.
constexpr char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

/// `text` with A–Z turned to a–z.
std::string asciiLowercase(std::string_view text);

/// Whether `a` and `b` are the same text when A–Z and a–z are not told apart.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

/// `text` without the white space and line breaks at either end, including the Unicode ones a
/// settings file could carry (no-break space, next line, line and paragraph separators,
/// ideographic and narrow no-break space).
std::string_view trimmedText(std::string_view text);

}  // namespace vardelle
