#include "printing/cups/printer_media.h"

#include <cmath>
#include <cstdint>
#include <optional>

#include "base/print_failure.h"
#include "printing/cups/same_sheet.h"

namespace vardelle::printing {
namespace {

std::optional<int> member(ipp_t* collection, const char* name) {
  ipp_attribute_t* attribute = ippFindAttribute(collection, name, IPP_TAG_INTEGER);
  if (!attribute || ippGetCount(attribute) != 1) return std::nullopt;
  return ippGetInteger(attribute, 0);
}

// Printer-supplied values can be anything an int holds: their difference and sums are taken in
// 64 bits, where they cannot overflow.
bool sameValue(int a, int b) {
  return std::fabs(double(std::int64_t(a) - b) * 72.0 / 2540.0) <= kPaperDriftTolerancePt;
}

// Adds the sheets of one list of media-col values (`listed`) to `media`.
void addSheets(ipp_attribute_t* listed, PrinterMedia& media) {
  for (int i = 0; i < ippGetCount(listed); ++i) {
    ipp_t* col = ippGetCollection(listed, i);
    ipp_attribute_t* sizeAttribute =
        col ? ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION) : nullptr;
    ipp_t* size = sizeAttribute ? ippGetCollection(sizeAttribute, 0) : nullptr;
    // A custom-size entry gives its dimensions as ranges: it names no sheet of its own.
    const std::optional<int> width = size ? member(size, "x-dimension") : std::nullopt;
    const std::optional<int> length = size ? member(size, "y-dimension") : std::nullopt;
    if (!width || !length) continue;
    MediaEntry entry;
    entry.width = *width;
    entry.length = *length;
    entry.left = member(col, "media-left-margin").value_or(0);
    entry.bottom = member(col, "media-bottom-margin").value_or(0);
    entry.right = member(col, "media-right-margin").value_or(0);
    entry.top = member(col, "media-top-margin").value_or(0);
    const bool possible = entry.width > 0 && entry.length > 0 && entry.left >= 0 &&
                          entry.bottom >= 0 && entry.right >= 0 && entry.top >= 0 &&
                          std::int64_t(entry.left) + entry.right < entry.width &&
                          std::int64_t(entry.bottom) + entry.top < entry.length;
    if (possible) {
      media.sheets.push_back(entry);
    } else {
      ++media.impossible;
    }
  }
}

}  // namespace

PrinterMedia printerMedia(ipp_t* response) {
  PrinterMedia media;
  // What is loaded counts as much as what the printer knows: a borderless entry some firmware
  // lists only among the papers ready in its trays is printed as surely as one in its database.
  for (const char* name : {"media-col-database", "media-col-ready"}) {
    ipp_attribute_t* listed =
        response ? ippFindAttribute(response, name, IPP_TAG_BEGIN_COLLECTION) : nullptr;
    if (!listed) continue;
    media.listed = true;
    addSheets(listed, media);
  }
  return media;
}

MediaEntry printerEntryFor(const PrinterMedia& media, const MediaEntry& queueEntry,
                           const std::string& queue) {
  if (!media.listed) {
    throw PrintFailure("The printer behind \"" + queue +
                       "\" does not list its paper sizes with their margins (media-col-database), "
                       "so the artwork cannot be placed at exact size. Nothing was sent to it.");
  }
  for (const MediaEntry& sheet : media.sheets) {
    if (sameValue(sheet.width, queueEntry.width) && sameValue(sheet.length, queueEntry.length) &&
        sameValue(sheet.left, queueEntry.left) && sameValue(sheet.bottom, queueEntry.bottom) &&
        sameValue(sheet.right, queueEntry.right) && sameValue(sheet.top, queueEntry.top)) {
      return sheet;
    }
  }
  if (media.impossible > 0) {
    throw PrintFailure("The printer behind \"" + queue +
                       "\" describes its paper with impossible values (a sheet without a size, or "
                       "margins that leave nothing to print on), so the artwork cannot be placed "
                       "at exact size. Nothing was sent to it.");
  }
  throw PrintFailure(kPaperChanged);
}

}  // namespace vardelle::printing
