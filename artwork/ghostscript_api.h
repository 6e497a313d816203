#pragma once

// Ghostscript's C API, bound when first needed. libgs and the sixty libraries it brings take
// longer to load than most commands take to run, and only rendering needs them, so the helper is
// not linked against it. Include this instead of <ghostscript/iapi.h>.

// gdevdsp.h uses size_t without including its header.
#include <cstddef>
// clang-format off
#include <ghostscript/gdevdsp.h>
#include <ghostscript/iapi.h>
#include <ghostscript/ierrors.h>
// clang-format on

namespace vardelle::artwork {

/// The gsapi_* entry points the rasteriser uses, with their own signatures.
struct GhostscriptApi {
  decltype(&gsapi_new_instance) newInstance;
  decltype(&gsapi_delete_instance) deleteInstance;
  decltype(&gsapi_set_stdio_with_handle) setStdioWithHandle;
  decltype(&gsapi_register_callout) registerCallout;
  decltype(&gsapi_set_arg_encoding) setArgEncoding;
  decltype(&gsapi_init_with_args) initWithArgs;
  decltype(&gsapi_exit) exit;
};

/// Loads libgs on first use. Throws PrintFailure when it cannot be loaded.
const GhostscriptApi& ghostscript();

}  // namespace vardelle::artwork
