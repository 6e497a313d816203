#pragma once

#include <string_view>

namespace vardelle {

/// A diagnostic for whoever is debugging the helper: Ghostscript's own messages behind a
/// rendering failure, CUPS' reason for a refused job. Written to standard error as one
/// "vardelle: …" line only when the environment sets VARDELLE_DEBUG=1; otherwise dropped, since
/// standard error is kept for the one note the parent application reads there.
void debugNote(std::string_view text);

/// True when VARDELLE_DEBUG=1.
bool debugNotesEnabled();

}  // namespace vardelle
