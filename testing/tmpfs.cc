#include "testing/tmpfs.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace vardelle::testing {

Tmpfs::Tmpfs(unsigned long long bytes) {
  if (::geteuid() != 0) {
    why_ = "mounting a small tmpfs needs root";
    return;
  }
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (::mount("vardelle-test", dir_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
              options.c_str()) != 0) {
    why_ = std::string("mounting a small tmpfs failed: ") + std::strerror(errno);
    return;
  }
  mounted_ = true;
}

Tmpfs::~Tmpfs() {
  if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
}

unsigned long long Tmpfs::usedBytes() const {
  struct statvfs st {};
  if (::statvfs(dir_.path().c_str(), &st) != 0) throw std::runtime_error("statvfs failed");
  return static_cast<unsigned long long>(st.f_blocks - st.f_bfree) * st.f_frsize;
}

void Tmpfs::fillLeaving(const std::string& name, unsigned long long leaveBytes) const {
  struct statvfs st {};
  if (::statvfs(dir_.path().c_str(), &st) != 0) throw std::runtime_error("statvfs failed");
  const unsigned long long available = static_cast<unsigned long long>(st.f_bavail) * st.f_frsize;
  if (available <= leaveBytes) return;
  int fd = ::open(file(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("filler file could not be created");
  std::vector<char> block(1 << 16, 'x');
  unsigned long long left = available - leaveBytes;
  while (left > 0) {
    const size_t n = left < block.size() ? size_t(left) : block.size();
    if (::write(fd, block.data(), n) != ssize_t(n)) break;
    left -= n;
  }
  ::close(fd);
}

}  // namespace vardelle::testing
