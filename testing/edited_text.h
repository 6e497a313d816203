#pragma once

#include <string>

namespace vardelle::testing {

/// `text` with every `from` replaced by `to`, left to right (a PPD or a printer's attributes
/// file changed for a test).
std::string replacedAll(std::string text, const std::string& from, const std::string& to);

}  // namespace vardelle::testing
