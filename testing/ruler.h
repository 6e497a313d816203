#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vardelle::testing {

/// A point in millimetres.
struct PointMm {
  double x = 0;
  double y = 0;
};

/// A ruler artwork: a page of `widthMm` × `heightMm` with small black squares whose centres
/// are known, far apart so that a scale error shows as a change of their distances.
struct Ruler {
  double widthMm = 0;
  double heightMm = 0;
  double squareMm = 5;
  /// Square centres from the page's lower-left corner, y upward, in millimetres.
  std::vector<PointMm> centres;
};

/// The ruler used by the print tests (170 × 195 mm, five squares, none on a symmetry axis).
Ruler standardRuler();

/// The ruler as a one-page PDF (black squares on white, nothing else).
std::string makeRulerPdf(const Ruler& ruler);

/// A page as darkness values: 0 white, 255 black, rows from the top of the sheet.
struct DarknessImage {
  int width = 0;
  int height = 0;
  double dpiX = 0;
  double dpiY = 0;
  std::vector<unsigned char> darkness;
  unsigned char at(int x, int y) const { return darkness[static_cast<size_t>(y) * width + x]; }
  double widthMm() const { return width * 25.4 / dpiX; }
  double heightMm() const { return height * 25.4 / dpiY; }
};

/// Page `page` (from 1) of a PDF or PostScript file rendered by Ghostscript at `dpi`, anti-aliased;
/// none when Ghostscript fails.
std::optional<DarknessImage> renderWithGhostscript(const std::string& path, int page, int dpi);

/// Every page of a PDF or PostScript file rendered by Ghostscript at `dpi`, in one run; none when
/// Ghostscript fails.
std::optional<std::vector<DarknessImage>> renderAllWithGhostscript(const std::string& path,
                                                                   int dpi);

/// Every page of a CUPS or PWG raster file, decoded with libcups' raster API (8 or 16 bits per
/// colour; W, K, RGB, sRGB, CMY, CMYK and KCMY colour spaces); none when it cannot be read.
std::optional<std::vector<DarknessImage>> readCupsRaster(const std::string& path);

/// What a CUPS or PWG raster file holds, read with libcups' raster API.
struct CupsRasterFacts {
  struct Page {
    unsigned width = 0, height = 0;
    unsigned dpiX = 0, dpiY = 0;
    unsigned bitsPerColor = 0;
    unsigned colorSpace = 0;  ///< cups_cspace_t
    std::string pageSizeName;
    bool duplex = false;  ///< the header's Duplex
    bool tumble = false;  ///< and Tumble
  };
  std::vector<Page> pages;
  /// The most distinct values any one colour takes over all pixels of all pages (chunky 8- or
  /// 16-bit pixels; 0 otherwise).
  size_t mostLevels = 0;
};

/// The pages of the raster file at `path` and the levels of its colours; none when libcups
/// cannot read it whole.
std::optional<CupsRasterFacts> cupsRasterFacts(const std::string& path);

/// The distinct pixels of the 16-bit chunky RGB pages of the raster file at `path` (R, G, B as
/// libcups hands them over); none when it cannot be read whole or a page is another kind.
std::optional<std::set<std::array<uint16_t, 3>>> distinctRgb16Pixels(const std::string& path);

/// The centres of the dark squares on `image`, in millimetres from the sheet's top-left corner
/// (x right, y down), each the darkness-weighted centroid of a connected dark area of at least
/// `minimumAreaMm2`.
std::vector<PointMm> findSquares(const DarknessImage& image, double minimumAreaMm2 = 4);

}  // namespace vardelle::testing
