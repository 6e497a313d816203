#pragma once

#include <string>

namespace vardelle {

/// Loads one of the helper's own modules (a shared object built beside the executable) and returns
/// the address of its entry symbol. The file is looked for next to the running executable, then
/// in the library folder of the executable's installed tree, then in `installDir`, then in
/// `buildDir`. Modules are never unloaded. Throws PrintFailure starting
/// with `failurePrefix` and naming the reason when no candidate loads.
void* loadHelperModule(const std::string& fileName, const char* symbol,
                       const std::string& installDir, const std::string& buildDir,
                       const std::string& failurePrefix);

}  // namespace vardelle
