#include "printing/settings/color_vocabulary.h"

#include <algorithm>
#include <initializer_list>
#include <string>

#include "base/text.h"

namespace vardelle::printing {
namespace {

bool among(std::string_view word, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

}  // namespace

std::optional<std::string_view> colorModelMode(std::string_view choice) {
  const std::string word = asciiLowercase(trimmedText(choice));
  // Gutenprint's "Black" is its inverted greyscale; HPLIP's "KGray" prints with black ink only
  // and its "CMYGray" makes grey from the colour inks: every one of them prints grey.
  if (among(word, {"gray", "grey", "grayscale", "greyscale", "monochrome", "black", "kgray",
                   "cmygray", "mono", "fastgray", "gray16", "devicegray"})) {
    return kMonochrome;
  }
  if (among(word, {"rgb", "cmyk", "cmy", "color", "colour", "kcmy", "adobergb", "devicergb"})) {
    return kColor;
  }
  return std::nullopt;
}

std::optional<std::string_view> printColorModeMode(std::string_view keyword) {
  const std::string word = asciiLowercase(trimmedText(keyword));
  if (among(word, {"monochrome", "auto-monochrome", "bi-level", "process-monochrome",
                   "process-bi-level"})) {
    return kMonochrome;
  }
  if (word == "color") return kColor;
  return std::nullopt;
}

}  // namespace vardelle::printing
