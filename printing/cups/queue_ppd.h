#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// libcups' parsed PPD (cups/ppd.h), for the printing code that hands it to libcups.
struct ppd_file_s;

namespace vardelle::printing {

/// One page size of a queue's PPD exactly as the PPD declares it, in points (PaperDimension and
/// ImageableArea: `left`/`bottom` the lower-left corner of the printable area, `right`/`top` its
/// upper-right corner, both from the sheet's lower-left corner).
struct PpdPageSize {
  std::string name;  ///< the PPD's own name ("A4", "w288h432J")
  std::string text;  ///< the name the queue shows for it ("A4", "KG"), the name when it has none
  double widthPt = 0;
  double lengthPt = 0;
  double leftPt = 0;
  double bottomPt = 0;
  double rightPt = 0;
  double topPt = 0;
};

/// The PPD of a CUPS queue, fetched from cupsd (which keeps it for driver queues and for the
/// queues it made for driverless printers). Move-only; owns the parsed file.
class QueuePpd {
 public:
  /// The PPD of the destination `printerName` ("queue" or "queue/instance") on the print system
  /// of CUPS_SERVER; none when the queue has no PPD (a raw queue). Throws PrintFailure when no
  /// print system answers or the PPD it sends cannot be read.
  static std::optional<QueuePpd> forQueue(const std::string& printerName);
  /// The PPD in the file at `path`; none when it cannot be parsed.
  static std::optional<QueuePpd> fromFile(const std::string& path);

  ~QueuePpd();
  QueuePpd(QueuePpd&&) noexcept;
  QueuePpd& operator=(QueuePpd&&) noexcept;

  /// The page size named `name` (exact name; "Custom.WxH" for a custom size when the PPD allows
  /// custom sizes, with the PPD's hardware margins); none when the PPD has no such size.
  std::optional<PpdPageSize> pageSize(std::string_view name) const;
  /// Every page size the PPD lists, in its order (custom sizes excluded).
  std::vector<PpdPageSize> pageSizes() const;
  /// The default choice of the option `keyword` ("PageSize", "InputSlot", …); none without one.
  std::optional<std::string> defaultChoice(std::string_view keyword) const;
  /// Whether the PPD has the option `keyword`, and whether it offers `choice` for it.
  bool hasOption(std::string_view keyword) const;
  bool hasChoice(std::string_view keyword, std::string_view choice) const;
  /// The text the PPD shows for an option (e.g. "Borderless" for StpFullBleed); none without one.
  std::optional<std::string> optionText(std::string_view keyword) const;
  /// The value of the main keyword `name` (e.g. "StpDriverName"), none when absent or empty.
  std::optional<std::string> attribute(std::string_view name) const;
  /// The printer the PPD describes, as its *Manufacturer and *ModelName say; empty when absent.
  std::string manufacturer() const;
  std::string modelName() const;
  /// The turn, in degrees, that the filters give a landscape page on portrait media
  /// (`*LandscapeOrientation`): 90 for Plus90, -90 for Minus90 and, as libcups reads it, for a
  /// PPD that does not say.
  int landscapeDegrees() const;
  /// Whether pdftopdf makes the copies for this PPD: it says *cupsManualCopies: True (Gutenprint's
  /// inkjets, the PPD CUPS makes for a driverless printer that takes no PDF). Without the line
  /// pdftopdf hands the copies on to the driver and the printer.
  bool filtersMakeCopies() const;
  /// Whether the driver's backend prints each page as often as the job asks: a Gutenprint PPD
  /// (*StpDriverName) of a driver that makes its copies itself, which Gutenprint says with an
  /// explicit *cupsManualCopies: False (its dye-sublimation printers: DNP, Mitsubishi, Canon
  /// SELPHY). Their backend repeats pages, never sets of pages.
  bool backendRepeatsPages() const;

  /// The parsed file, for libcups' calls that mark options on a PPD and read what they imply
  /// (cupsMarkOptions, cupsRasterInterpretPPD). Owned by this object; marking changes what
  /// libcups reports as marked, never the defaults this class reads.
  ppd_file_s* handle() const;

 private:
  struct File;
  explicit QueuePpd(std::unique_ptr<File> file);
  std::unique_ptr<File> file_;
};

/// Throws PrintFailure, naming the setting, when `ppd` has a driver option of exactSizeOptions
/// but not the choice that keeps the size (a Gutenprint PPD without StpiShrinkOutput=Crop).
void requireExactSizeChoices(const QueuePpd& ppd);

}  // namespace vardelle::printing
