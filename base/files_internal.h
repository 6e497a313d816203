#pragma once

#include "base/files.h"

#include <functional>
#include <string>
#include <string_view>

namespace vardelle {

/// How writeFileAtomically makes its temporary file.
enum class AtomicRoute {
  unnamedWherePossible,  ///< O_TMPFILE, the hidden file where the file system has none
  hiddenFile,            ///< always the hidden file (the route of such file systems)
};

/// writeFileAtomically by the given route; for the tests of the route a file system without
/// unnamed files would take.
void writeFileAtomically(const std::string& path, std::string_view bytes, AtomicRoute route);
void writeFileAtomically(const std::string& path,
                         const std::function<void(const ByteSink&)>& produce, AtomicRoute route);

}  // namespace vardelle
