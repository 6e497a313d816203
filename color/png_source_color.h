#pragma once

#include <optional>
#include <string>
#include <vector>

#include "color/source_color_space.h"

namespace vardelle::color {

/// The colour chunks a PNG decoder accepted before the image data (a refused chunk is absent).
struct PngColorChunks {
  std::vector<unsigned char> iccProfile;  ///< iCCP, decompressed; empty when none
  std::optional<int> srgbIntent;          ///< sRGB rendering intent
  std::optional<double> gamma;            ///< gAMA file gamma (0.45455 for a 2.2 display)
  struct Chromaticities {
    double whiteX, whiteY, redX, redY, greenX, greenY, blueX, blueY;
  };
  std::optional<Chromaticities> chromaticities;  ///< cHRM
};

/// The colour space the decoder gives a PNG image of `model`: a usable embedded profile of the
/// image's model, else sRGB for an sRGB chunk, else a calibrated profile from gAMA and cHRM, else
/// sRGB (RGB and palette images) or Gray Gamma 2.2 (grey images). Indexed spaces carry their RGB
/// base's profile. Throws PrintFailure("The PNG has no usable source color space.") when a
/// calibrated profile cannot be built from the chunk values.
SourceColorSpace pngDecoderColorSpace(ColorModel model, const PngColorChunks& chunks);

/// The interpretation of a PNG's colour for printing.
struct InterpretedPng {
  SourceColorSpace space;   ///< the space the samples are read in from now on
  std::string description;  ///< one line for the user
  bool assumed = false;     ///< true when the file did not declare its colour
};

/// Decides how a PNG's samples are to be read. `colorMetadataSeen` and `oversizedChunk` come from
/// the chunk-header scan before the image data; `decoderSpace` from pngDecoderColorSpace. Untagged
/// RGB is taken as sRGB and untagged grey as Gray Gamma 2.2, both flagged as assumed. Throws
/// PrintFailure("The PNG contains invalid color metadata.") for an oversized chunk, and
/// PrintFailure("The PNG has no usable source color space.") when the space has no profile.
InterpretedPng interpretedPNG(const SourceColorSpace& decoderSpace, bool colorMetadataSeen,
                              bool oversizedChunk);

/// The display name of a space: its profile's description, else its name, else "PNG calibrated
/// color space".
std::string displayName(const SourceColorSpace& space);

/// sRGB IEC61966-2.1, built in memory.
SourceColorSpace standardSRGB();
/// Grey with a 2.2 gamma, built in memory.
SourceColorSpace grayGamma22();

}  // namespace vardelle::color
