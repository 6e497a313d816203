#pragma once

// The seam between the entry and the engine. The commands live in three modules, loaded only when
// a command is about to run, each linking only what its commands need: loading qpdf, LittleCMS
// and libpng costs more than a refused request takes, and the print system (libcups with GSS-API
// and Kerberos, libgutenprint) as much again, which inspect, preview and the thumbnails never use.
//   vardelle-documents.so  inspect, preview, thumbnail, sheet-thumbnail, profile-paths,
//                          inspect-profile
//   vardelle-printing.so   settings, print
//   vardelle-inspection.so inspect without qpdf or OpenSSL: a PNG, and a PDF whose structure is
//                          plain; the documents module inspects any other PDF
// Ghostscript, poppler and GTK are loaded further down, only by the work that uses them.

#include <optional>
#include <string>

#include "base/records.h"

namespace vardelle::app {

/// A module's entry points; same contracts as perform, profilePaths and inspectProfile.
struct Engine {
  HelperResult (*perform)(const std::string& mode, const PrintRequest& request);
  HelperResult (*profilePaths)();
  HelperResult (*inspectProfile)(const ProfileRequest& request);
  /// The inspection module's: inspect, or nothing when the artwork needs the documents module.
  std::optional<HelperResult> (*inspectWithoutQpdf)(const PrintRequest& request) = nullptr;
};

/// The loaded module that serves `mode` (the printing module for `settings` and `print`, the
/// documents module for every other mode); loads it on first use. Throws PrintFailure when it
/// cannot be loaded.
const Engine& engine(const std::string& mode);

/// Runs `mode` (not settings or print, which need the application loop) on the module that serves
/// it: inspect goes to the inspection module first, and to the documents module only when the
/// artwork needs qpdf.
HelperResult performCommand(const std::string& mode, const PrintRequest& request);

}  // namespace vardelle::app

/// The one symbol each module exports.
extern "C" const vardelle::app::Engine* vardelle_engine();

#define VARDELLE_DOCUMENTS_MODULE_FILE "vardelle-documents.so"
#define VARDELLE_PRINTING_MODULE_FILE "vardelle-printing.so"
#define VARDELLE_INSPECTION_MODULE_FILE "vardelle-inspection.so"
