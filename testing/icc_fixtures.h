#pragma once

// ICC profile files made for tests with LittleCMS, and hand-made or hand-broken ones. Every maker
// returns the complete file bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vardelle::testing {

/// An sRGB-primaries matrix-shaper RGB profile (rXYZ/gXYZ/bXYZ + TRCs) whose class signature is
/// `classSignature` ("mntr" display by default; "prtr", "scnr", "spac", "link" also work).
std::string makeMatrixShaperRgbProfile(const std::string& description = "Test RGB Display",
                                       std::string_view classSignature = "mntr");

/// A LUT-based RGB printer profile ("prtr", RGB to Lab, version 2 lut16Type): AToB/BToA tables with
/// `gridPoints` per axis sampled from sRGB. `allIntents` writes the tables for intents 0, 1 and 2
/// (six tables; 33 grid points then give about 1.3 MB), otherwise only intent 0.
std::string makeLutRgbPrinterProfile(const std::string& description = "Test RGB Printer",
                                     unsigned gridPoints = 9, bool allIntents = false);

/// What a printer and its paper reach, for makeSmallGamutPrinterProfile: a share of sRGB's
/// chroma, a black of some lightness, and a paper whose white is not D50.
struct PrinterGamut {
  double chroma = 0.6;  ///< a* and b* of each sRGB colour scaled by this
  double blackL = 12;   ///< L* of the ink's black, relative to the paper's white
  double paperL = 93;   ///< the paper's white, CIELAB against D50 (the media white tag)
  double paperA = 1;
  double paperB = 6;
};

/// A LUT-based RGB printer profile ("prtr", RGB to Lab, version 2 lut16Type) of a smaller gamut
/// than sRGB on a tinted paper: device values are sRGB values whose colour reaches `gamut.chroma`
/// of sRGB's chroma and whose lightness runs from `gamut.blackL` to the paper's; colours beyond
/// are clipped. Tables for intents 0, 1 and 2 (all the same), `gridPoints` per axis.
std::string makeSmallGamutPrinterProfile(const std::string& description = "Test Small Printer",
                                         unsigned gridPoints = 17, const PrinterGamut& gamut = {});

/// A LUT-based CMYK printer profile ("prtr", CMYK to Lab).
std::string makeCmykPrinterProfile(const std::string& description = "Test CMYK Printer");

/// An RGB-to-RGB device link ("link", colour space "RGB ").
std::string makeRgbDeviceLink(const std::string& description = "Test RGB Link");

/// A Lab abstract profile ("abst", colour space "Lab ").
std::string makeLabAbstractProfile(const std::string& description = "Test Lab Effect");

/// `profile` with zero bytes appended up to exactly `size` bytes and the header size field set to
/// match; the tag table still points inside, so the catalog accepts it. `size` ≥ profile size.
std::string paddedProfile(std::string profile, std::size_t size);

/// `profile` with the type signature of the tag `tagSignature` overwritten with "junk": sound for
/// the catalog's structural checks, unreadable for the colour engine. The tag must exist.
std::string withDamagedTag(std::string profile, std::string_view tagSignature);

/// One entry of a hand-made tag table.
struct RawTagEntry {
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

/// A hand-made profile of `totalSize` bytes (at least 132): header size field = totalSize, "acsp"
/// at 36, class "mntr", colour space "RGB ", tag count = `tagCount` or else the number of entries,
/// then the entries (signature "tst0"); everything else zero.
std::string makeRawProfile(std::size_t totalSize, const std::vector<RawTagEntry>& entries,
                           std::optional<std::uint32_t> tagCount = std::nullopt);

/// Writes `value` big-endian at `offset`.
void putUint32(std::string& bytes, std::size_t offset, std::uint32_t value);

/// Writes four bytes at `offset`.
void putSignature(std::string& bytes, std::size_t offset, std::string_view fourBytes);

}  // namespace vardelle::testing
