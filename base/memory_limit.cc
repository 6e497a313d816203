#include "base/memory_limit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "base/sanitized.h"

namespace vardelle {

void limitMemory() {
#ifndef VARDELLE_SANITIZED
  rlimit data{};
  if (::getrlimit(RLIMIT_DATA, &data) == 0 &&
      (data.rlim_cur == RLIM_INFINITY || data.rlim_cur > kRunMemoryBytes)) {
    data.rlim_cur = kRunMemoryBytes;
    ::setrlimit(RLIMIT_DATA, &data);
  }
#endif
}

uint64_t mostMemoryBytes() {
  // The application that started the helper, and whatever else the person runs, keep the rest.
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageBytes = ::sysconf(_SC_PAGESIZE);
  uint64_t most = kMostRunMemoryBytes;
  if (pages > 0 && pageBytes > 0) most = std::min(most, uint64_t(pages) * uint64_t(pageBytes) / 2);
  return std::max(most, kRunMemoryBytes);
}

uint64_t allowMemory(uint64_t bytes) {
  rlimit data{};
  if (::getrlimit(RLIMIT_DATA, &data) != 0 || data.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  uint64_t wanted = std::min(bytes, mostMemoryBytes());
  if (data.rlim_max != RLIM_INFINITY) wanted = std::min<uint64_t>(wanted, data.rlim_max);
  if (wanted > data.rlim_cur) {
    data.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_DATA, &data) != 0) ::getrlimit(RLIMIT_DATA, &data);
  }
  return data.rlim_cur;
}

}  // namespace vardelle
