#pragma once

#include <string>

namespace vardelle {

/// The formats artwork comes in.
enum class ArtworkFormat { pdf, png, unsupported };

/// The format a file's name says it is in: its extension after the last dot of the last path
/// component, in any case. Loading trusts the name and the entry picks the module by it, so both
/// read it here.
ArtworkFormat artworkFormatOf(const std::string& path);

/// The sentence for a PDF that cannot be opened: damaged, or built so that reading it would
/// exhaust the helper's stack or memory. Also the line of a run that a crash inside a PDF library
/// ends, so the entry, which loads no PDF code, names it too.
inline constexpr const char* kUnreadablePdfSentence =
    "This PDF could not be opened. It may be incomplete or damaged.";

}  // namespace vardelle
