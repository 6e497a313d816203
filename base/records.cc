#include "base/records.h"

#include <cmath>

#include "base/print_failure.h"

namespace vardelle {

namespace {

bool isUnicodeWhitespace(char32_t c) {
  // The Unicode White_Space property: what trimming "white space and line breaks" removes.
  switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

// Decodes UTF-8 leniently; an invalid byte is a non-space character, which is all trimming needs.
bool isBlank(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    char32_t c = b;
    size_t len = 1;
    if (b >= 0xC0 && b < 0xE0 && i + 1 < s.size()) {
      c = ((b & 0x1F) << 6) | (s[i + 1] & 0x3F);
      len = 2;
    } else if (b >= 0xE0 && b < 0xF0 && i + 2 < s.size()) {
      c = ((b & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      len = 3;
    } else if (b >= 0x80) {
      return false;
    }
    if (!isUnicodeWhitespace(c)) return false;
    i += len;
  }
  return true;
}

bool withinOffsetRange(double v) { return std::isfinite(v) && std::fabs(v) <= 50; }

}  // namespace

ColorManagement ColorManagement::printer() {
  ColorManagement cm;
  cm.mode = "printer";
  cm.renderingIntent = "perceptual";
  cm.blackPointCompensation = true;
  cm.driverColorManagementDisabled = false;
  return cm;
}

void ColorManagement::validate() const {
  if (mode != "printer" && mode != "application")
    throw PrintFailure("Unknown color handling mode.");
  if (renderingIntent != "perceptual" && renderingIntent != "relativeColorimetric" &&
      renderingIntent != "saturation" && renderingIntent != "absoluteColorimetric") {
    throw PrintFailure("Choose a supported rendering intent.");
  }
  if (mode == "printer") return;
  if (!profilePath || !profileId || profileId->empty()) {
    throw PrintFailure("Choose a usable RGB ICC profile for application-managed color.");
  }
  requireAbsolutePath(*profilePath, "ICC profile");
}

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void SoftProof::validate() const {
  bool written = gamutWarningColor.size() == 7 && gamutWarningColor[0] == '#';
  for (std::size_t i = 1; written && i < 7; ++i) written = hexDigit(gamutWarningColor[i]) >= 0;
  if (!written) {
    throw PrintFailure("Choose a gamut warning color written as #RRGGBB, for example #808080.");
  }
}

std::array<std::uint8_t, 3> SoftProof::warningRgb() const {
  std::array<std::uint8_t, 3> rgb{};
  for (std::size_t c = 0; c < 3; ++c) {
    rgb[c] = static_cast<std::uint8_t>(hexDigit(gamutWarningColor[1 + 2 * c]) * 16 +
                                       hexDigit(gamutWarningColor[2 + 2 * c]));
  }
  return rgb;
}

void PrintRequest::validate() const {
  if (!std::isfinite(scalePercent) || scalePercent < 10 || scalePercent > 200) {
    throw PrintFailure("Scale must be between 10% and 200%.");
  }
  if (pngDpi && (!std::isfinite(*pngDpi) || *pngDpi <= 0)) {
    throw PrintFailure("PNG resolution must be a positive DPI value.");
  }
  const OffsetMM offset = offsetMM();
  if (!withinOffsetRange(offset.x) || !withinOffsetRange(offset.y)) {
    throw PrintFailure("Printer offsets must be between -50 and 50 mm.");
  }
  if (copies && (*copies < 1 || *copies > 99)) {
    throw PrintFailure("Copies must be a whole number between 1 and 99.");
  }
  if (colorManagement) colorManagement->validate();
  if (softProof) softProof->validate();
  if (isBlank(printerName)) throw PrintFailure("Choose a printer before continuing.");
  requireAbsolutePath(snapshotPath, "Settings");
}

void requireAbsolutePath(std::string_view path, std::string_view label) {
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos) {
    throw PrintFailure(std::string(label) + " needs an absolute file path.");
  }
}

}  // namespace vardelle
