#pragma once

#include <optional>
#include <string>

#include "artwork/artwork.h"
#include "artwork/color_managed.h"
#include "base/records.h"
#include "printing/settings/snapshot.h"

namespace vardelle::app {

/// What every artwork command (inspect, preview, thumbnail, print) prepares before it inspects,
/// renders or prints.
struct PreparedDocument {
  std::optional<printing::NativeSnapshot> snapshot;  ///< always present except for `inspect`
  artwork::Artwork managed;                          ///< the artwork with its colour applied
  DocumentInfo document;                             ///< the inspection against the saved paper
  /// A `thumbnail` with a soft proof: `managed` is the proof, and this what it shows besides.
  std::optional<artwork::SoftProofSheet> proof;
};

/// How a command reads its artwork: Artwork::load, or the loader of the one format a module
/// serves (the inspection module passes a loader that links no qpdf code).
using ArtworkLoader = artwork::Artwork (*)(const std::string& path, std::optional<double> pngDpi);

/// Checks that the request names an artwork, reads the snapshot (optional only for `inspect`),
/// refuses an RGB printer profile on a black-and-white preset, loads the artwork, applies the
/// colour settings (no pixel conversion for `inspect`; the soft proof of a `thumbnail` that asks
/// for one) and inspects it against the saved paper.
/// Throws PrintFailure (or the loader's platform error) at the first check that fails.
PreparedDocument prepareDocument(const std::string& mode, const PrintRequest& request,
                                 ArtworkLoader load = &artwork::Artwork::load);

/// Throws PrintFailure("Choose a PDF or PNG file first.") when the request names no artwork.
void requireArtworkPath(const PrintRequest& request);

}  // namespace vardelle::app
