#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/records.h"
#include "color/catalog_profile.h"
#include "color/lcms.h"

namespace vardelle::color {

/// "icc-" followed by the SHA-256 digest of `bytes` as 64 lowercase hex digits. Depends only on
/// the bytes. Throws PlatformError if the digest cannot be computed.
std::string profileId(std::string_view bytes);

/// An RGB profile that passed the output check, opened in the colour engine and ready to convert
/// with. A value: copies share the bytes and the engine profile (and the context that owns it).
class OutputProfile {
 public:
  /// Loads `path` the strict way (owned, 32 MB limit) and runs output(expectedId) on it.
  static OutputProfile load(const std::string& path, const std::optional<std::string>& expectedId);

  /// The profile file's bytes; converted artwork is tagged with them.
  const std::string& data() const { return *data_; }
  /// The engine's profile, valid as long as this value (or a copy) lives. Use it only with
  /// transforms made by makeColorTransform() while this value lives.
  cmsHPROFILE profile() const { return engine_->profile.get(); }
  /// name, colorSpace "RGB", deviceClass, usableForPrinting true, no reason.
  const ProfileSummary& summary() const { return summary_; }
  /// The profile id of data().
  const std::string& id() const { return id_; }

 private:
  friend class CatalogProfile;
  struct Engine {
    std::unique_ptr<LcmsContext> context;
    Profile profile;  // declared after the context so that it is closed first
  };
  OutputProfile(std::shared_ptr<const std::string> data, std::shared_ptr<Engine> engine,
                ProfileSummary summary, std::string id);

  std::shared_ptr<const std::string> data_;
  std::shared_ptr<Engine> engine_;
  ProfileSummary summary_;
  std::string id_;
};

/// The ROMM RGB working space, built afresh on each call: the engine profile (opened in
/// `context`) and its ICC bytes.
struct WorkingSpace {
  Profile profile;
  std::string iccBytes;
};

/// Builds ROMM RGB (D50 white, primaries R 0.7347/0.2653, G 0.1596/0.8404, B 0.0366/0.0001,
/// gamma 1.8) in memory. Throws PrintFailure "The macOS wide-gamut working color profile is
/// unavailable." when the engine cannot make it.
WorkingSpace workingRGB(LcmsContext& context);

/// 16-bit RGB with a fourth skipped slot, little-endian words: the layout of managed rasters and
/// of the test pixels.
cmsUInt32Number rgbx16LittleEndianFormat();

/// A transform from `source` to `destination` with the settings' rendering intent and black point
/// compensation applied to both profiles, at the engine's best precision. The formats default to
/// 16-bit little-endian RGBX. Throws PrintFailure "ColorSync could not create the requested
/// printer-profile conversion." when the engine cannot link them.
Transform makeColorTransform(LcmsContext& context, cmsHPROFILE source, cmsHPROFILE destination,
                             const ColorManagement& settings,
                             cmsUInt32Number inputFormat = rgbx16LittleEndianFormat(),
                             cmsUInt32Number outputFormat = rgbx16LittleEndianFormat());

/// The engine's intent for `renderingIntent`: perceptual, saturation, absolute colorimetric by
/// name (exact case), relative colorimetric for anything else.
cmsUInt32Number engineIntent(const std::string& renderingIntent);

}  // namespace vardelle::color
