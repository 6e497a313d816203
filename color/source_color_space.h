#pragma once

#include <string>
#include <vector>

namespace vardelle::color {

/// How the samples of a raster are to be read.
enum class ColorModel { gray, rgb, indexed };

/// The colour space a raster's samples are in, as a colour engine needs it: the model, the ICC
/// profile that defines it and a name for the user. Plain value; free of any library type.
struct SourceColorSpace {
  ColorModel model = ColorModel::rgb;
  /// For an indexed space, the model of its palette entries (always rgb for PNG); otherwise
  /// equal to `model`.
  ColorModel baseModel = ColorModel::rgb;
  /// The ICC profile of the space (for an indexed space, of its base space). Empty when none.
  std::vector<unsigned char> icc;
  /// The display name: the profile's description, or a fixed name when it has none.
  std::string name;
};

}  // namespace vardelle::color
