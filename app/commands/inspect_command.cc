#include "app/commands/inspect_command.h"

#include "app/commands/prepared_document.h"

namespace vardelle::app {

HelperResult inspectCommand(const PrintRequest& request, ArtworkLoader load) {
  PreparedDocument prepared = prepareDocument("inspect", request, load);
  HelperResult result;
  result.ok = true;
  if (prepared.snapshot) result.summary = prepared.snapshot->summary;
  result.document = std::move(prepared.document);
  return result;
}

}  // namespace vardelle::app
