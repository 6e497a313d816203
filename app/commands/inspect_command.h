#pragma once

#include "app/commands/prepared_document.h"
#include "base/records.h"

namespace vardelle::app {

/// `inspect` on an already routed request: the artwork measured and judged against the saved
/// paper when there is a snapshot, with the snapshot's summary, read by `load`. Throws
/// PrintFailure.
HelperResult inspectCommand(const PrintRequest& request,
                            ArtworkLoader load = &artwork::Artwork::load);

}  // namespace vardelle::app
