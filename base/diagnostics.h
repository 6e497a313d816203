#pragma once

#include <string_view>

namespace vardelle {

/// A diagnostic for whoever is debugging the helper: Ghostscript's own messages behind a
/// rendering failure, CUPS' reason for a refused job. Written to standard error as one
/// "vardelle: …" line only when the environment sets VARDELLE_DEBUG=1; otherwise dropped, since
/// standard error is kept for the one note the parent application reads there.
void debugNote(std::string_view text);

/// A point where whoever is debugging the helper can act between two of its steps (restart the
/// print system, say): when VARDELLE_DEBUG=1 and VARDELLE_DEBUG_STOP names `point`, the process
/// stops itself (SIGSTOP) there until it is continued (SIGCONT). Nothing otherwise.
void debugStopPoint(std::string_view point);

/// True when VARDELLE_DEBUG=1.
bool debugNotesEnabled();

}  // namespace vardelle
