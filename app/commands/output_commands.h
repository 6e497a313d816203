#pragma once

#include <string>

#include "base/records.h"

namespace vardelle::app {

/// `preview` and `thumbnail` on an already routed request: prepares the document
/// (prepareDocument), checks the output path, refuses one that resolves to the artwork or the
/// saved settings, renders (composePreview or makeThumbnail with the snapshot's paper and the
/// request's scale and offset) and writes the file atomically, replacing an existing file only on
/// success. Returns ok with the snapshot's summary, `document` and the request's outputPath as
/// spelled. Throws PrintFailure or the write's PlatformError.
HelperResult outputCommand(const std::string& mode, const PrintRequest& request);

/// `sheet-thumbnail`: a PNG of the first page of an earlier sheet file at the sheet's own size,
/// with no colour management; the request's scale, offsets and printer fields are ignored. Returns
/// ok with the sheet's description and outputPath. Throws PrintFailure or PlatformError.
HelperResult performSheetThumbnail(const PrintRequest& request);

}  // namespace vardelle::app
