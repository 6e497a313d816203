#pragma once

// The engine side of a soft proof, for the conversions in color/ only.

#include <array>
#include <cstdint>
#include <memory>

#include "base/records.h"
#include "color/lcms.h"

namespace vardelle::color {

/// The two transforms of one source's soft proof, in a context of their own whose alarm codes
/// are the gamut check's marks (the context outlives them: it is declared first).
struct ProofTransforms {
  std::unique_ptr<LcmsContext> context;
  /// source → printer (the print's intent and black-point compensation) → sRGB (absolute or
  /// relative colorimetric), 16-bit RGB out.
  Transform picture;
  /// source → one 16-bit word: 65535 where the printer cannot reproduce the colour with the
  /// print's intent, 0 elsewhere.
  Transform gamutCheck;
};

/// Builds the proof of samples laid out as `sourceFormat` in `source`, through `printer`, with
/// `settings`' intent and black-point compensation. Throws PrintFailure(kSoftProofUnavailable).
ProofTransforms makeProofTransforms(cmsHPROFILE source, cmsUInt32Number sourceFormat,
                                    cmsHPROFILE printer, const ColorManagement& settings,
                                    bool paperWhite);

/// Unprinted paper (the printer's device white) in the proof, 8-bit sRGB. Throws
/// PrintFailure(kSoftProofUnavailable).
std::array<std::uint8_t, 3> proofPaperRgb(cmsHPROFILE printer, bool paperWhite);

}  // namespace vardelle::color
