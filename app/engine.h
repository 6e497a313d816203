#pragma once

// The seam between the entry and the engine. The engine (every command, with qpdf, Ghostscript,
// LittleCMS and CUPS behind it) lives in its own module, vardelle-engine.so: loading those
// libraries costs far more than a refused request takes, so the entry loads the module only when
// a command is about to run.

#include <string>

#include "base/records.h"

namespace vardelle::app {

/// The engine's entry points; same contracts as perform, profilePaths and inspectProfile.
struct Engine {
  HelperResult (*perform)(const std::string& mode, const PrintRequest& request);
  HelperResult (*profilePaths)();
  HelperResult (*inspectProfile)(const ProfileRequest& request);
};

/// The loaded engine; loads it on first use. Throws PrintFailure when it cannot be loaded.
const Engine& engine();

}  // namespace vardelle::app

/// The one symbol the engine module exports.
extern "C" const vardelle::app::Engine* vardelle_engine();

#define VARDELLE_ENGINE_MODULE_FILE "vardelle-engine.so"
