#pragma once

#include <map>
#include <string>

namespace vardelle::testing {

/// The environment that makes the helper see a machine of `cores` processors and, when
/// `drawingSeconds` is above 0, draw pages under that deadline instead of its own: the library
/// testing/tools/machine_shape.c preloaded, and its variables. For runProcess and runVardelle.
std::map<std::string, std::string> machineShape(unsigned cores, double drawingSeconds = 0);

}  // namespace vardelle::testing
