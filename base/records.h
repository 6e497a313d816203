#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vardelle {

/// Colour handling that travels inside a request.
struct ColorManagement {
  std::string mode;  ///< "printer" or "application"
  std::optional<std::string> profileId;
  std::optional<std::string> profilePath;
  std::string renderingIntent;
  bool blackPointCompensation = true;
  bool driverColorManagementDisabled = false;

  /// The default wherever a request has none: colour left to the printer.
  static ColorManagement printer();

  /// Whether this application converts the colours to the printer's profile itself.
  bool applicationManaged() const { return mode == "application"; }

  /// Throws PrintFailure with the first rule broken; never changes the record.
  void validate() const;
};

/// How `thumbnail` shows the print instead of the converted artwork: a soft proof through the
/// printer profile of application-managed colour.
struct SoftProof {
  bool paperWhite = true;     ///< the paper's white and the ink's black as the profile says
  bool gamutWarning = false;  ///< paint what the printer cannot reproduce in the warning colour
  std::string gamutWarningColor = "#808080";

  /// Throws PrintFailure unless the warning colour is written "#RRGGBB" (hex digits in either
  /// case); never changes the record.
  void validate() const;

  /// The warning colour's red, green and blue, 0 to 255 each. Only for a validated record.
  std::array<std::uint8_t, 3> warningRgb() const;
};

/// The refusal of a soft proof without application-managed colour.
inline constexpr const char* kSoftProofNeedsApplicationColor =
    "A soft proof needs application-managed color with a printer ICC profile: with "
    "printer-managed color the printer driver decides the printed colors, so there is nothing to "
    "proof.";

/// The request file of every command but `profile-paths` and `inspect-profile`.
struct PrintRequest {
  std::optional<std::string> filePath;
  std::string printerName;
  std::optional<std::string> printerId;
  std::string snapshotPath;
  double scalePercent = 100;
  std::optional<double> offsetXmm;
  std::optional<double> offsetYmm;
  std::optional<double> pngDpi;
  std::optional<std::string> outputPath;
  std::optional<bool> acceptMarginClipping;
  std::optional<int64_t> copies;
  std::optional<ColorManagement> colorManagement;
  std::optional<std::string> profilePath;
  std::optional<SoftProof> softProof;  ///< read by `thumbnail` only

  /// Throws PrintFailure with the first rule broken, in the fixed order; never changes the request.
  void validate() const;

  /// The offset in millimetres, absent components taken as 0.
  struct OffsetMM {
    double x = 0;
    double y = 0;
  };
  OffsetMM offsetMM() const { return {offsetXmm.value_or(0), offsetYmm.value_or(0)}; }

  /// The request's colour settings, or ColorManagement::printer() when it has none.
  ColorManagement colorSettings() const {
    return colorManagement ? *colorManagement : ColorManagement::printer();
  }
};

/// The request file of `inspect-profile`.
struct ProfileRequest {
  std::string profilePath;
};

struct PrintSummary {
  std::string paperName;
  double paperWidthMm = 0;
  double paperHeightMm = 0;
  std::string orientation;
  int64_t copies = 1;
  std::string printerName;
  std::optional<std::string> colorMode;
};

struct PageInfo {
  double widthMm = 0;
  double heightMm = 0;
  double scaledWidthMm = 0;
  double scaledHeightMm = 0;
};

struct DocumentInfo {
  std::string format;
  int64_t pageCount = 0;
  std::vector<PageInfo> pages;
  std::optional<double> dpiX;
  std::optional<double> dpiY;
  std::vector<std::string> warnings;
  std::optional<bool> fits;
  bool requiresClipping = false;
  std::optional<std::string> sourceColorProfile;
  std::optional<std::string> colorManagement;  ///< a description, not the request's record
  /// With a soft proof: the share of the artwork's pixels the printer cannot reproduce, in
  /// percent with one decimal.
  std::optional<double> outOfGamutPercent;
};

struct ProfileSummary {
  std::string name;
  std::string colorSpace;
  std::string deviceClass;
  bool usableForPrinting = false;
  std::optional<std::string> incompatibilityReason;
};

/// The one result line.
struct HelperResult {
  bool ok = false;
  std::optional<bool> cancelled;
  std::optional<std::string> error;
  std::optional<PrintSummary> summary;
  std::optional<DocumentInfo> document;
  std::optional<std::string> outputPath;
  std::optional<bool> submitted;
  std::optional<ProfileSummary> profile;
  std::optional<std::vector<std::string>> profilePaths;

  static HelperResult failure(std::string message) {
    HelperResult r;
    r.error = std::move(message);
    return r;
  }
};

/// Throws PrintFailure("<label> needs an absolute file path.") unless `path` starts with "/"
/// and holds no NUL. Nothing else is checked: the file need not exist, ".." is allowed.
void requireAbsolutePath(std::string_view path, std::string_view label);

}  // namespace vardelle
