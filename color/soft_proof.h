#pragma once

// A soft proof: the artwork as the printer and its paper will render it, shown in sRGB.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace vardelle::color {

/// Counts the pixels a soft proof has converted and those of them the printer cannot reproduce
/// with the request's intent. Shared by the transforms of every page of one artwork; safe to add
/// to from any thread.
class GamutTally {
 public:
  void add(std::uint64_t pixels, std::uint64_t outside) {
    pixels_.fetch_add(pixels, std::memory_order_relaxed);
    outside_.fetch_add(outside, std::memory_order_relaxed);
  }
  std::uint64_t pixels() const { return pixels_.load(std::memory_order_relaxed); }
  std::uint64_t outside() const { return outside_.load(std::memory_order_relaxed); }
  /// outside() as a share of pixels() in percent, rounded to one decimal; 0 with no pixels.
  double outsidePercent() const;

 private:
  std::atomic<std::uint64_t> pixels_{0};
  std::atomic<std::uint64_t> outside_{0};
};

/// How a soft proof shows the print.
struct ProofView {
  /// Absolute colorimetric from the printer profile to sRGB (the paper's white and the ink's
  /// black as the profile describes them) rather than relative colorimetric.
  bool paperWhite = true;
  /// Whether what the printer cannot reproduce is painted in `warningRgb`.
  bool gamutWarning = false;
  std::array<std::uint8_t, 3> warningRgb{128, 128, 128};
  /// Where the proof's transforms count; must be set.
  std::shared_ptr<GamutTally> tally;
};

/// The refusal when the engine cannot build a proof for the printer profile.
inline constexpr const char* kSoftProofUnavailable =
    "The soft proof could not be made with this printer profile.";

}  // namespace vardelle::color
