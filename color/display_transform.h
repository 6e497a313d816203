#pragma once

#include <cstddef>
#include <memory>

#include "color/source_color_space.h"

namespace vardelle::color {

/// Turns samples of a raster's own colour space into 8-bit sRGB for an on-screen picture, the
/// way the sheet's renderer shows an ICC-tagged image (perceptual intent). Untagged samples are
/// taken as sRGB (RGB) or copied to all three channels (grey), as the renderer treats device
/// colour. Move-only.
class DisplayTransform {
 public:
  /// The transform for `space` (an indexed space is taken by its base). A profile the engine
  /// refuses is treated as untagged: a picture is still wanted.
  explicit DisplayTransform(const SourceColorSpace& space);
  DisplayTransform(DisplayTransform&&) noexcept;
  DisplayTransform& operator=(DisplayTransform&&) noexcept;
  ~DisplayTransform();

  /// 1 for grey samples, 3 for RGB.
  int components() const { return components_; }

  /// Converts `pixels` pixels of components() floats in 0…1 each into packed 8-bit RGB.
  void convert(const float* samples, unsigned char* rgb, std::size_t pixels) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int components_ = 3;
};

}  // namespace vardelle::color
