#pragma once

#include <string>

namespace vardelle {

/// The formats artwork comes in.
enum class ArtworkFormat { pdf, png, unsupported };

/// The format a file's name says it is in: its extension after the last dot of the last path
/// component, in any case. Loading trusts the name and the entry picks the module by it, so both
/// read it here.
ArtworkFormat artworkFormatOf(const std::string& path);

}  // namespace vardelle
