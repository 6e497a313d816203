#pragma once

#include <string>

namespace vardelle::testing {

/// A one-page PDF written by hand (correct cross-reference table, no library involved): a media
/// box of `widthPt` × `heightPt` and `content` as its content stream.
std::string handWrittenPdf(double widthPt, double heightPt, const std::string& content);

/// Where pixels of one colour lie in a binary PPM (P6) picture, y counted from the top.
struct PixelBounds {
  int width = 0, height = 0;                       ///< of the whole picture
  int minX = -1, minY = -1, maxX = -1, maxY = -1;  ///< -1 when no pixel matched
};
/// Scans `ppm` for pixels within 60 of (r, g, b) in every channel.
PixelBounds findColor(const std::string& ppm, int r, int g, int b);

}  // namespace vardelle::testing
