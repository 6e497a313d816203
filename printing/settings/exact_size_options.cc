#include "printing/settings/exact_size_options.h"

namespace vardelle::printing {

using Kept = ExactSizeOption::Kept;

const std::vector<ExactSizeOption>& exactSizeOptions() {
  // The saved layout first, in the order a preset's settings have always stored it.
  static const std::vector<ExactSizeOption> kOptions = {
      {"number-up", "1", Kept::inSettings, "several pages per sheet would scale each of them"},
      {"page-border", "none", Kept::inSettings, "a border would add lines the user did not draw"},
      {"job-sheets", "none,none", Kept::inSettings,
       "banner pages would be sheets the user did not draw"},
      {"print-scaling", "none", Kept::inSettings,
       "pdftopdf's default is auto, which shrinks a page into the printable area; none keeps the "
       "sheet's size, and while it is present pdftopdf ignores fitplot and fit-to-page"},
      {"fit-to-page", "false", Kept::inSettings,
       "read by pdftopdf when print-scaling is absent and by the image filters"},
      {"page-set", "all", Kept::inSettings, "odd or even pages alone would drop artwork pages"},
      {"outputorder", "normal", Kept::inSettings,
       "reverse order is harmless but not what was previewed"},
      {"mirror", "false", Kept::inSettings, "a mirrored page lands on the other side of the sheet"},
      {"fitplot", "false", Kept::inJob, "the older name of fit-to-page, read by the same filters"},
      {"natural-scaling", "100", Kept::inJob,
       "the image filters scale by it; 100 is the page's own size"},
      {"StpiShrinkOutput", "Crop", Kept::ppdChoice,
       "Gutenprint's drivers shrink the page into their real margins by default (Shrink, about "
       "97 % on A4); Crop keeps the size and leaves the margins unprinted"},
  };
  return kOptions;
}

const std::vector<std::string_view>& placementOptionsNeverSent() {
  static const std::vector<std::string_view> kNever = {
      // The image filters fit to the page at this percentage (100 fills it); the job is PDF
      // and its sheets have their size already.
      "scaling",
      // Margins, positions, n-up layouts and page selections of the filters, each of which
      // would move a page on its sheet or drop one.
      "position",
      "page-left",
      "page-right",
      "page-top",
      "page-bottom",
      "number-up-layout",
      "fill",
      "crop-to-fit",
      "ppi",
      "booklet",
      "even-duplex",
      "page-ranges",
      // A landscape flag would turn sheets that are drawn turned already.
      "landscape",
  };
  return kNever;
}

}  // namespace vardelle::printing
