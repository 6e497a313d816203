#include "printing/job/job_plan.h"

#include <filesystem>

#include "base/print_failure.h"
#include "printing/cups/raster_page_header.h"
#include "printing/job/job_options.h"
#include "printing/settings/exact_size_options.h"
#include "printing/settings/print_color_entries.h"
#include "printing/settings/print_summary.h"

namespace vardelle::printing {
namespace {

DocumentRoad roadOf(const CheckedDestination& destination, bool raster) {
  if (destination.route == PrintRoute::printerDevice) return DocumentRoad::pdfToPrinter;
  return raster ? DocumentRoad::rasterToDriver : DocumentRoad::pdfToQueue;
}

CopyFacts copyFacts(const CheckedDestination& destination) {
  CopyFacts facts;
  if (const QueuePpd* ppd = destination.queuePpd()) {
    facts.filtersMakeCopies = ppd->filtersMakeCopies();
    facts.backendRepeatsPages = ppd->backendRepeatsPages();
  }
  facts.printerCopiesUpTo = destination.facts.printerCopiesUpTo;
  facts.printerDocumentHandling = destination.facts.documentHandling;
  return facts;
}

}  // namespace

bool takesRasterRoute(const QueuePpd* ppd, const ColorManagement& color, PrintRoute route) {
  return color.applicationManaged() && route == PrintRoute::localQueue && ppd &&
         ppd->attribute("StpDriverName") && takesCupsRaster(*ppd);
}

bool JobPlan::sameJob(const JobPlan& other) const {
  return options == other.options && copies == other.copies &&
         raster.has_value() == other.raster.has_value() && sheetRotation == other.sheetRotation &&
         applicationColor == other.applicationColor && title == other.title &&
         pageCount == other.pageCount;
}

JobPlan planJob(const CheckedDestination& destination, const PrintRequest& request,
                const ColorManagement& color, size_t pageCount) {
  PrintSettings settings = destination.settings;
  configurePrintPagination(settings, static_cast<int64_t>(pageCount));
  applyCopiesOverride(settings, request.copies);
  configureApplicationColor(settings, color);

  JobPlan plan;
  plan.pageCount = pageCount;
  plan.title = jobTitle(request);
  plan.applicationColor = color.applicationManaged();
  const QueuePpd* ppd = destination.queuePpd();
  const bool raster = takesRasterRoute(ppd, color, destination.route);
  plan.copies =
      planCopies(settings, ppd, roadOf(destination, raster), copyFacts(destination), pageCount);
  // The options exactly as the job will carry them: the colour entries must have survived into
  // what reaches CUPS, not just into the settings they were made from.
  const std::string media = settings.media().value_or(destination.paper.mediaName);
  plan.options = jobOptions(settings, media, ppd, plan.copies);
  verifyApplicationColor(plan.options, color);
  if (raster) {
    plan.raster = planRasterJob(*ppd, settings, plan.options, destination.paper.geometry);
  }
  if (destination.route == PrintRoute::printerDevice) {
    plan.sheetRotation = sheetRotation(settings.orientation().value_or(Orientation::portrait));
  }
  return plan;
}

void configurePrintPagination(PrintSettings& settings, int64_t /*pageCount*/) {
  // A value left in saved settings must not reach a job: the placement options go, and the
  // exact-size ones are written afresh (the job sets each of them once more).
  for (std::string_view name : placementOptionsNeverSent()) settings.removeOption(name);
  for (const ExactSizeOption& option : exactSizeOptions()) settings.removeOption(option.name);
  configureDeterministicLayout(settings);
}

int sheetRotation(Orientation orientation) {
  switch (orientation) {
    case Orientation::portrait:
      return 0;
    case Orientation::landscape:
      return 90;
    case Orientation::reversePortrait:
      return 180;
    case Orientation::reverseLandscape:
      return 270;
  }
  return 0;
}

void applyCopiesOverride(PrintSettings& settings, std::optional<int64_t> copies) {
  if (!copies) return;
  if (*copies < 1 || *copies > 99) {
    throw PrintFailure("Copies must be a whole number between 1 and 99.");
  }
  if (!settings.setOption(PrintSettings::kCopies, std::to_string(*copies))) {
    throw PrintFailure("The printer settings could not accept the requested number of copies.");
  }
}

std::string jobTitle(const PrintRequest& request) {
  if (!request.filePath) return "Artwork";
  // The last component as a file path names it, a trailing slash ignored as a URL would.
  std::filesystem::path path(*request.filePath);
  std::string name = path.filename().string();
  if (name.empty()) name = path.parent_path().filename().string();
  return name.empty() ? "Artwork" : name;
}

}  // namespace vardelle::printing
