#pragma once

#include <string>

#include "artwork/artwork.h"
#include "base/records.h"
#include "printing/snapshot.h"

namespace vardelle::app {

/// The output flow of `preview` and `thumbnail`, after the document has been prepared: checks
/// the output path, refuses one that resolves to the artwork or the saved settings, renders
/// (makePreview or makeThumbnail with the snapshot's paper and the request's scale and offset)
/// and writes the bytes atomically, replacing an existing file only on success. Returns ok with
/// the snapshot's summary, `document` and the request's outputPath as spelled. Throws
/// PrintFailure or the write's PlatformError.
HelperResult writePreviewOutput(const std::string& mode, const PrintRequest& request,
                                const artwork::Artwork& managed,
                                const printing::NativeSnapshot& snapshot,
                                const DocumentInfo& document);

/// `sheet-thumbnail`: a PNG of the first page of an earlier sheet file at the sheet's own size,
/// with no colour management; the request's scale, offsets and printer fields are ignored. Returns
/// ok with the sheet's description and outputPath. Throws PrintFailure or PlatformError.
HelperResult performSheetThumbnail(const PrintRequest& request);

}  // namespace vardelle::app
