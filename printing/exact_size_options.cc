#include "printing/exact_size_options.h"

namespace vardelle::printing {

const std::vector<ExactSizeOption>& exactSizeOptions() {
  static const std::vector<ExactSizeOption> kOptions = {
      {"print-scaling", "none", false,
       "pdftopdf's default is auto, which shrinks a page into the printable area; none keeps the "
       "sheet's size, and while it is present pdftopdf ignores fitplot and fit-to-page"},
      {"fit-to-page", "false", false,
       "read by pdftopdf when print-scaling is absent and by the image filters"},
      {"fitplot", "false", false, "the older name of fit-to-page, read by the same filters"},
      {"natural-scaling", "100", false,
       "the image filters scale by it; 100 is the page's own size"},
      {"StpiShrinkOutput", "Crop", true,
       "Gutenprint's drivers shrink the page into their real margins by default (Shrink, about "
       "97 % on A4); Crop keeps the size and leaves the margins unprinted"},
      {"number-up", "1", false, "several pages per sheet would scale each of them"},
      {"page-border", "none", false, "a border would add lines the user did not draw"},
      {"job-sheets", "none,none", false, "banner pages would be sheets the user did not draw"},
      {"mirror", "false", false, "a mirrored page lands on the other side of the sheet"},
      {"page-set", "all", false, "odd or even pages alone would drop artwork pages"},
      {"outputorder", "normal", false, "reverse order is harmless but not what was previewed"},
      {"sides", "one-sided", false, "two-sided printing turns every other sheet"},
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
