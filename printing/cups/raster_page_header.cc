#include "printing/cups/raster_page_header.h"

#include <string>
#include <string_view>

#include "base/diagnostics.h"
#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/settings/print_color_entries.h"

// libcups marks its PPD interface deprecated; cupsRasterInterpretPPD has no replacement that
// reads a driver's PPD.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace vardelle::printing {
namespace {

// Called by cupsRasterInterpretPPD once the PPD's code has run and before it derives the pixel
// layout from the header, so that bits per pixel and bytes per line follow libcups' own rules.
int sixteenBitsPerColor(cups_page_header2_t* header, int /*preferredBits*/) {
  header->cupsBitsPerColor = 16;
  return 0;
}

std::string colorModelRefusal(ppd_file_t* ppd) {
  std::string model;
  if (ppd_choice_t* choice = ppdFindMarkedChoice(ppd, "ColorModel")) {
    model = choice->text[0] ? choice->text : choice->choice;
  }
  const std::string which = model.empty() ? "a driver color model that"
                                          : "the driver's color model \"" + model + "\", which";
  return "This preset prints with " + which +
         " cannot carry colors converted to an RGB printer profile. Choose an RGB color model in "
         "Printer settings before using an RGB printer profile.";
}

}  // namespace

bool takesCupsRaster(const QueuePpd& ppd) {
  constexpr std::string_view kRaster = "application/vnd.cups-raster ";
  const ppd_file_t* file = ppd.handle();
  for (int i = 0; i < file->num_filters; ++i) {
    if (std::string_view(file->filters[i]).starts_with(kRaster)) return true;
  }
  return false;
}

cups_page_header2_t sixteenBitPageHeader(const QueuePpd& ppd,
                                         const std::vector<PrintOption>& options) {
  ppd_file_t* file = ppd.handle();
  const CupsOptions marked(options);
  ppdMarkDefaults(file);
  cupsMarkOptions(file, marked.count(), marked.get());
  cups_page_header2_t header{};
  const int status =
      cupsRasterInterpretPPD(&header, file, marked.count(), marked.get(), sixteenBitsPerColor);
  const std::string modelRefusal = colorModelRefusal(file);
  ppdMarkDefaults(file);

  if (status != 0) {
    debugNote(std::string("cupsRasterInterpretPPD: ") + cupsRasterErrorString());
    throw PrintFailure(kRasterHeaderUnreadable);
  }
  switch (header.cupsColorSpace) {
    case CUPS_CSPACE_RGB:
      break;
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_K:
    case CUPS_CSPACE_SW:
      throw PrintFailure(kBlackAndWhiteWithRgbProfile);
    default:
      throw PrintFailure(modelRefusal);
  }
  if (header.cupsColorOrder != CUPS_ORDER_CHUNKED || header.cupsBitsPerColor != 16 ||
      header.cupsBitsPerPixel != 48 || header.cupsWidth == 0 || header.cupsHeight == 0 ||
      header.cupsBytesPerLine != header.cupsWidth * 6 || header.HWResolution[0] == 0 ||
      header.HWResolution[1] == 0) {
    debugNote("cupsRasterInterpretPPD gave a header that is not 16-bit chunky RGB pixels");
    throw PrintFailure(kRasterHeaderUnreadable);
  }
  return header;
}

}  // namespace vardelle::printing

#pragma GCC diagnostic pop
