#include "base/diagnostics.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vardelle {

bool debugNotesEnabled() {
  const char* value = std::getenv("VARDELLE_DEBUG");
  return value && std::strcmp(value, "1") == 0;
}

void debugNote(std::string_view text) {
  if (!debugNotesEnabled()) return;
  std::string line = "vardelle: ";
  line.append(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  line += '\n';
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    rest.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace vardelle
