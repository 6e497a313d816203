/* Preloaded into the helper by tests and benchmarks (LD_PRELOAD) to make this machine look like
 * another: VARDELLE_SHAPE_CORES=N makes the processors the process may run on number N (as the
 * helper reads them: sched_getaffinity, and get_nprocs for anything that asks glibc), and
 * VARDELLE_SHAPE_DRAWING_SECONDS=S gives pages S seconds of processor time to draw instead of the
 * helper's deadline. Its file systems can look like others too: VARDELLE_SHAPE_NO_UNNAMED_FILES=1
 * makes them refuse unnamed files (O_TMPFILE fails with EOPNOTSUPP, as on vfat), and
 * VARDELLE_SHAPE_RENAME_SECONDS=S makes every rename wait S seconds before it happens, as on a
 * file server slow to answer. Nothing in the helper reads these variables; without this library
 * they do nothing. testing/machine_shape.h builds the environment. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdarg.h>
#include <stdlib.h>
#include <time.h>

static long shapeCores(void) {
  const char* value = getenv("VARDELLE_SHAPE_CORES");
  long cores = value ? strtol(value, NULL, 10) : 0;
  return cores > 0 && cores <= CPU_SETSIZE ? cores : 0;
}

int sched_getaffinity(pid_t pid, size_t size, cpu_set_t* set) {
  const long cores = shapeCores();
  if (cores == 0 || pid != 0 || size * 8 < (size_t)cores) {
    int (*real)(pid_t, size_t, cpu_set_t*) =
        (int (*)(pid_t, size_t, cpu_set_t*))dlsym(RTLD_NEXT, "sched_getaffinity");
    return real ? real(pid, size, set) : -1;
  }
  CPU_ZERO_S(size, set);
  for (long cpu = 0; cpu < cores; ++cpu) CPU_SET_S((size_t)cpu, size, set);
  return 0;
}

int get_nprocs(void) {
  const long cores = shapeCores();
  if (cores) return (int)cores;
  int (*real)(void) = (int (*)(void))dlsym(RTLD_NEXT, "get_nprocs");
  return real ? real() : 1;
}

double vardelle_test_drawing_seconds(void) {
  const char* value = getenv("VARDELLE_SHAPE_DRAWING_SECONDS");
  return value ? strtod(value, NULL) : 0;
}

static int refusesUnnamed(int flags) {
  const char* value = getenv("VARDELLE_SHAPE_NO_UNNAMED_FILES");
  if ((flags & O_TMPFILE) != O_TMPFILE || !value || *value != '1') return 0;
  errno = EOPNOTSUPP;
  return 1;
}

#define VARDELLE_SHAPE_MODE(flags)       \
  mode_t mode = 0;                       \
  if ((flags) & (O_CREAT | O_TMPFILE)) { \
    va_list arguments;                   \
    va_start(arguments, flags);          \
    mode = va_arg(arguments, mode_t);    \
    va_end(arguments);                   \
  }                                      \
  if (refusesUnnamed(flags)) return -1;

// The mode is passed on even where the flags take none, which is harmless.
typedef int (*Open)(const char*, int, ...);
typedef int (*OpenAt)(int, const char*, int, ...);

int open(const char* path, int flags, ...) {
  VARDELLE_SHAPE_MODE(flags)
  Open real = (Open)dlsym(RTLD_NEXT, "open");
  return real ? real(path, flags, mode) : -1;
}

int open64(const char* path, int flags, ...) {
  VARDELLE_SHAPE_MODE(flags)
  Open real = (Open)dlsym(RTLD_NEXT, "open64");
  return real ? real(path, flags, mode) : -1;
}

int openat(int dir, const char* path, int flags, ...) {
  VARDELLE_SHAPE_MODE(flags)
  OpenAt real = (OpenAt)dlsym(RTLD_NEXT, "openat");
  return real ? real(dir, path, flags, mode) : -1;
}

int openat64(int dir, const char* path, int flags, ...) {
  VARDELLE_SHAPE_MODE(flags)
  OpenAt real = (OpenAt)dlsym(RTLD_NEXT, "openat64");
  return real ? real(dir, path, flags, mode) : -1;
}

int renameat(int oldDir, const char* oldPath, int newDir, const char* newPath) {
  const char* value = getenv("VARDELLE_SHAPE_RENAME_SECONDS");
  const double seconds = value ? strtod(value, NULL) : 0;
  if (seconds > 0) {
    struct timespec wait = {(time_t)seconds, (long)((seconds - (double)(time_t)seconds) * 1e9)};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
  }
  int (*real)(int, const char*, int, const char*) =
      (int (*)(int, const char*, int, const char*))dlsym(RTLD_NEXT, "renameat");
  return real ? real(oldDir, oldPath, newDir, newPath) : -1;
}
