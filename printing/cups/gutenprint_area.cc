#include "printing/cups/gutenprint_area.h"

#include <dlfcn.h>
#include <gutenprint/gutenprint.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

#include "base/print_failure.h"

namespace vardelle::printing {
namespace {

struct VarsDestroyer {
  void operator()(stp_vars_t* vars) const noexcept { stp_vars_destroy(vars); }
};
using Vars = std::unique_ptr<stp_vars_t, VarsDestroyer>;

// libgutenprint reports through these; the result line owns standard output and its remarks
// about options it does not use are no business of the user.
void ignore(void*, const char*, size_t) {}

// libgutenprint loads its drivers as modules that take its own symbols from the global scope,
// but this library lives in a module loaded with RTLD_LOCAL: without moving libgutenprint into
// the global scope the drivers fail to load and stp_init aborts the process on an assertion.
void initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&stp_init), &self) != 0 && self.dli_fname != nullptr) {
      // Kept open for the life of the process, as stp_init keeps what it loads.
      (void)::dlopen(self.dli_fname, RTLD_NOW | RTLD_GLOBAL | RTLD_NOLOAD);
    }
    stp_init();
  });
}

bool listed(const stp_vars_t* vars, const char* parameter, const std::string& value) {
  stp_parameter_t description;
  stp_describe_parameter(vars, parameter, &description);
  const bool present = description.p_type == STP_PARAMETER_TYPE_STRING_LIST &&
                       description.bounds.str != nullptr &&
                       stp_string_list_is_present(description.bounds.str, value.c_str()) != 0;
  stp_parameter_description_destroy(&description);
  return present;
}

}  // namespace

GutenprintArea gutenprintPrintableArea(const GutenprintPaper& paper) {
  initialise();
  const stp_printer_t* printer = stp_get_printer_by_driver(paper.driver.c_str());
  if (printer == nullptr) {
    throw PrintFailure("The installed Gutenprint library does not know the printer model \"" +
                       paper.driver +
                       "\" that this printer's driver names. Reinstall the printer with a driver "
                       "of the installed Gutenprint version.");
  }
  Vars vars(stp_vars_create_copy(stp_printer_get_defaults(printer)));
  stp_set_driver(vars.get(), paper.driver.c_str());
  stp_set_errfunc(vars.get(), ignore);
  stp_set_outfunc(vars.get(), ignore);

  // As rastertogutenprint does: a size the driver lists brings its own dimensions, any other
  // (a custom size) is the sheet the PPD declares.
  if (stp_describe_papersize(vars.get(), paper.pageSize.c_str()) != nullptr) {
    stp_set_string_parameter(vars.get(), "PageSize", paper.pageSize.c_str());
    stp_dimension_t width = 0, height = 0;
    stp_get_media_size(vars.get(), &width, &height);
    stp_set_page_width(vars.get(), width > 0 ? width : paper.widthPt);
    stp_set_page_height(vars.get(), height > 0 ? height : paper.lengthPt);
  } else {
    stp_set_page_width(vars.get(), paper.widthPt);
    stp_set_page_height(vars.get(), paper.lengthPt);
  }
  // A choice the driver does not list would be dropped by the driver too; its default stands.
  if (paper.inputSlot && listed(vars.get(), "InputSlot", *paper.inputSlot)) {
    stp_set_string_parameter(vars.get(), "InputSlot", paper.inputSlot->c_str());
  }
  if (paper.mediaType && listed(vars.get(), "MediaType", *paper.mediaType)) {
    stp_set_string_parameter(vars.get(), "MediaType", paper.mediaType->c_str());
  }
  stp_set_boolean_parameter(vars.get(), "FullBleed", paper.borderless ? 1 : 0);
  stp_set_string_parameter(vars.get(), "JobMode", "Job");

  stp_dimension_t width = 0, height = 0;
  stp_get_media_size(vars.get(), &width, &height);
  if (!(width > 0)) width = paper.widthPt;
  if (!(height > 0)) height = paper.lengthPt;
  stp_dimension_t left = 0, right = 0, bottom = 0, top = 0;
  stp_get_imageable_area(vars.get(), &left, &right, &bottom, &top);
  stp_dimension_t maxLeft = 0, maxRight = 0, maxBottom = 0, maxTop = 0;
  stp_get_maximum_imageable_area(vars.get(), &maxLeft, &maxRight, &maxBottom, &maxTop);

  // libgutenprint measures from the top-left corner, bottom below top; a cropped page prints
  // where both areas and the sheet overlap.
  const double fromLeft = std::max({left, maxLeft, 0.0});
  const double toRight = std::min({right, maxRight, width});
  const double fromTop = std::max({top, maxTop, 0.0});
  const double toBottom = std::min({bottom, maxBottom, height});
  if (!std::isfinite(fromLeft) || !std::isfinite(toRight) || !std::isfinite(fromTop) ||
      !std::isfinite(toBottom) || !(toRight > fromLeft) || !(toBottom > fromTop)) {
    throw PrintFailure("The Gutenprint driver \"" + paper.driver +
                       "\" gives no printable area for the paper \"" + paper.pageSize +
                       "\". Choose another paper in Printer Settings.");
  }
  return {fromLeft, height - toBottom, toRight, height - fromTop};
}

}  // namespace vardelle::printing
