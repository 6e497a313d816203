/* Preloaded into the helper by tests and benchmarks (LD_PRELOAD) to make this machine look like
 * another: VARDELLE_SHAPE_CORES=N makes the processors the process may run on number N (as the
 * helper reads them: sched_getaffinity, and get_nprocs for anything that asks glibc), and
 * VARDELLE_SHAPE_DRAWING_SECONDS=S gives pages S seconds of processor time to draw instead of the
 * helper's deadline. Nothing in the helper reads these variables; without this library they do
 * nothing. testing/machine_shape.h builds the environment. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sched.h>
#include <stdlib.h>

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
