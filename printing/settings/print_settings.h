#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace vardelle::printing {

/// One entry of a PrintSettings store: a CUPS option name and its value as text.
struct PrintOption {
  std::string name;
  std::string value;
  bool operator==(const PrintOption&) const = default;
};

/// How the page is turned on the sheet, as IPP's "orientation-requested" counts it.
enum class Orientation {
  portrait = 3,
  landscape = 4,  ///< how the sheet turns: see orientedGeometry
  reverseLandscape = 5,
  reversePortrait = 6,
};

/// The native print-settings object of this platform: the CUPS destination it prints to and an
/// ordered store of CUPS options (name → text) with the user's choices (media as a PWG name,
/// orientation, copies, colour model), the exact-size layout entries and the application-colour
/// entries. A print job is made from these options; nothing else about the job is remembered.
class PrintSettings {
 public:
  /// Option names under which the user's choices are kept (CUPS' own names).
  static constexpr std::string_view kMedia = "media";  ///< PWG media name, e.g. iso_a4_210x297mm
  /// The paper as the queue's own PPD names it ("A4", "w288h432J"): on a driver queue this, not
  /// "media", says which of the queue's papers the user chose, since several can share a size.
  static constexpr std::string_view kPageSize = "PageSize";
  /// "3" … "6". Kept to measure the paper; a job must not send it, since its sheets are
  /// already drawn turned and the CUPS filters turn a landscape sheet onto portrait media.
  static constexpr std::string_view kOrientation = "orientation-requested";
  static constexpr std::string_view kCopies = "copies";
  static constexpr std::string_view kColorModel = "ColorModel";            ///< the PPD's choice
  static constexpr std::string_view kPrintColorMode = "print-color-mode";  ///< the IPP choice

  /// The only archive version this build writes and reads.
  static constexpr int64_t kArchiveVersion = 1;

  PrintSettings() = default;
  /// Settings for the CUPS destination `printerName` with no options.
  explicit PrintSettings(std::string printerName) : printerName_(std::move(printerName)) {}

  /// The CUPS destination name ("queue" or "queue/instance").
  const std::string& printerName() const { return printerName_; }
  void setPrinterName(std::string name) { printerName_ = std::move(name); }

  /// The value stored under `name`; names are compared without regard to ASCII case, as CUPS
  /// compares option names.
  std::optional<std::string> option(std::string_view name) const;
  /// Stores `value` under `name`: an existing entry keeps its place and takes the new value, a
  /// new one goes last. Returns false and changes nothing when the store refuses the entry: a
  /// name that is empty, longer than 255 bytes or not printable ASCII without "=", or a value
  /// that is not UTF-8, holds a NUL or is longer than 32767 bytes (one IPP value).
  [[nodiscard]] bool setOption(std::string_view name, std::string_view value);
  /// Removes the entry for `name` if there is one.
  void removeOption(std::string_view name);
  /// Every entry, in the order it was first stored.
  const std::vector<PrintOption>& options() const { return options_; }
  /// The options as a JSON object of strings (the dictionary form the colour-mode reader takes).
  nlohmann::json optionDictionary() const;

  /// The PWG media name of the "media" option, when set.
  std::optional<std::string> media() const { return option(kMedia); }
  /// The queue's own page-size name of the "PageSize" option, when set.
  std::optional<std::string> pageSize() const { return option(kPageSize); }
  /// The orientation of "orientation-requested": portrait when the option is absent, none when
  /// it holds anything but "3" to "6".
  std::optional<Orientation> orientation() const;
  /// Writes "orientation-requested".
  void setOrientation(Orientation orientation);
  /// The "copies" option: a whole number from 1 to 9999 written in plain decimal digits; none
  /// when absent or anything else.
  std::optional<int64_t> copies() const;

  /// The opaque, self-describing archive of the whole object (versioned JSON, UTF-8).
  std::string archive() const;
  /// The object an archive describes; none for empty, damaged or foreign bytes, another
  /// version, or entries the store would refuse.
  static std::optional<PrintSettings> restore(std::string_view bytes);

  bool operator==(const PrintSettings&) const = default;

 private:
  std::string printerName_;
  std::vector<PrintOption> options_;
};

}  // namespace vardelle::printing
