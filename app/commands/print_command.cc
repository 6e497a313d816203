#include "app/commands/print_command.h"

#include "app/commands/prepared_document.h"
#include "printing/job/submission.h"
#include "printing/settings/print_color_entries.h"

namespace vardelle::app {

HelperResult printCommand(const PrintRequest& request) {
  requireArtworkPath(request);
  printing::requireDriverColorCorrectionDisabled(request.colorSettings());
  PreparedDocument prepared = prepareDocument("print", request);
  return printing::submit(prepared.managed, request, *prepared.snapshot, prepared.document);
}

}  // namespace vardelle::app
