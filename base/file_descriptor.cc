#include "base/file_descriptor.h"

#include <unistd.h>

namespace vardelle {

void FileDescriptor::reset(int fd) noexcept {
  // close(2) releases the descriptor even when it reports an error, so it is never retried.
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

}  // namespace vardelle
