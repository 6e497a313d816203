// The pause point a test drives: preloaded into the helper (LD_PRELOAD), it stops the helper
// (SIGSTOP) at the point VARDELLE_TEST_PAUSE names, until the test continues it (SIGCONT). The
// helper itself only calls the point when a library like this one defines it.
#include <signal.h>

#include <cstdlib>
#include <cstring>

extern "C" __attribute__((visibility("default"))) void vardelle_pause_point(const char* point) {
  const char* wanted = std::getenv("VARDELLE_TEST_PAUSE");
  if (wanted && std::strcmp(wanted, point) == 0) ::raise(SIGSTOP);
}
