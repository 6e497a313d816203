#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/records.h"
#include "color/soft_proof.h"
#include "color/source_color_space.h"

namespace vardelle::color {

class OutputProfile;

/// One page's conversion into the printer profile: a single engine transform from the page's
/// source space, used by every thread. Converted pixels are 16-bit RGB in host byte order, three
/// words per pixel: the converted page is held in that form, a quarter smaller than with a
/// skipped fourth word.
class PageTransform {
 public:
  PageTransform(PageTransform&&) noexcept;
  PageTransform& operator=(PageTransform&&) noexcept;
  ~PageTransform();

  /// 1 for a grey source (one 16-bit word per pixel), 4 for RGB (R, G, B and a skipped word).
  int sourceComponents() const { return components_; }

  /// Converts `rows` rows of `width` pixels. Source rows hold width × sourceComponents() words and
  /// start `sourceRowWords` words apart; destination rows hold width × 3 words and start
  /// `destinationRowWords` apart. The rows are split between worker threads by their number
  /// (workerCount: a few rows get none); the result is identical to converting them on one
  /// thread. Throws std::bad_alloc.
  void convert(const std::uint16_t* source, std::size_t sourceRowWords, std::uint16_t* destination,
               std::size_t destinationRowWords, std::uint32_t width, std::uint32_t rows) const;

  /// Converts the rows on the calling thread only (the reference for the threaded path).
  void convertOnThisThread(const std::uint16_t* source, std::size_t sourceRowWords,
                           std::uint16_t* destination, std::size_t destinationRowWords,
                           std::uint32_t width, std::uint32_t rows) const;

 private:
  friend class ManagedConversion;
  struct Impl;
  explicit PageTransform(std::unique_ptr<Impl> impl, int components);
  std::unique_ptr<Impl> impl_;
  int components_ = 4;
};

/// The colour side of an application-managed conversion: the printer profile checked against the
/// request, the ROMM RGB working space and the transforms of each page. Move-only; transforms made
/// by it must not outlive it.
class ManagedConversion {
 public:
  /// Loads the profile at `settings.profilePath` the strict way (owned, 32 MB limit) and runs the
  /// output check with `settings.profileId`. Throws its PrintFailure (e.g. "The imported ICC
  /// profile changed. Import it again before printing."); a file-system error passes through.
  static ManagedConversion open(const ColorManagement& settings);

  ManagedConversion(ManagedConversion&&) noexcept;
  ManagedConversion& operator=(ManagedConversion&&) noexcept;
  ~ManagedConversion();

  /// The printer profile's summary (its `name` labels the converted artwork).
  const ProfileSummary& outputSummary() const;
  /// The printer profile's bytes: converted pages are tagged with them.
  const std::string& outputIcc() const;
  /// The printer profile's id.
  const std::string& outputId() const;

  /// Builds the working space. Throws PrintFailure("The macOS wide-gamut working color profile
  /// is unavailable.") when it cannot be made.
  void prepareWorkingSpace();
  /// The working space's ICC bytes; empty before prepareWorkingSpace().
  const std::string& workingIcc() const;

  /// The transform of a page whose samples are in the working space (a rasterised PDF page), or
  /// in `source` (a PNG page; an indexed space converts from its base). Needs
  /// prepareWorkingSpace(). Throws PrintFailure("The PNG has an unsupported source color profile.
  /// Export it as a tagged RGB or grayscale PNG.") when the source profile is missing, of another
  /// model or refused by the engine, and "ColorSync could not create the requested
  /// printer-profile conversion." when the engine cannot link it to the printer profile.
  ///
  /// With `proof`, the transform shows the page as the print will look instead (soft_proof.h):
  /// converted to the printer profile as above, then to 16-bit sRGB, every pixel it converts
  /// counted in the proof's tally, and those the printer cannot reproduce with the settings'
  /// intent also as out of gamut (and painted in the warning colour when the proof asks for it).
  /// Throws PrintFailure(kSoftProofUnavailable) when the engine cannot build the proof.
  PageTransform transformFromWorkingSpace(const ProofView* proof = nullptr) const;
  PageTransform transformFrom(const SourceColorSpace& source,
                              const ProofView* proof = nullptr) const;

  /// Unprinted paper in a soft proof (the printer's device white), 8-bit sRGB: with `paperWhite`
  /// the paper's own colour, otherwise white. Throws PrintFailure(kSoftProofUnavailable).
  std::array<std::uint8_t, 3> proofPaper(bool paperWhite) const;

 private:
  struct Impl;
  explicit ManagedConversion(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

/// The refusal of a PNG page whose source colour cannot be converted.
inline constexpr const char* kUnsupportedPngSource =
    "The PNG has an unsupported source color profile. Export it as a tagged RGB or grayscale PNG.";

}  // namespace vardelle::color
