#include "base/block_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace vardelle {

namespace {

[[noreturn]] void failed(int error, const std::string& path) {
  throw std::system_error(error, std::generic_category(), path);
}

}  // namespace

BlockFile::BlockFile(const std::string& path) : path_(path) {
  fd_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd_) failed(errno, path);
  struct stat st;
  if (::fstat(fd_.get(), &st) != 0) failed(errno, path);
  if (!S_ISREG(st.st_mode)) failed(EINVAL, path);
  size_ = st.st_size;
}

std::string_view BlockFile::from(long long offset) {
  if (offset < 0 || offset >= size_) return {};
  const Block& b = block(offset / kBlockSize);
  const size_t within = size_t(offset % kBlockSize);
  if (within >= b.length) return {};  // the file shrank
  return {b.bytes.get() + within, b.length - within};
}

size_t BlockFile::read(long long offset, char* out, size_t length) {
  size_t done = 0;
  while (done < length) {
    const std::string_view bytes = from(offset + (long long)done);
    if (bytes.empty()) break;
    const size_t n = std::min(length - done, bytes.size());
    std::memcpy(out + done, bytes.data(), n);
    done += n;
  }
  return done;
}

const BlockFile::Block& BlockFile::block(long long index) {
  ++clock_;
  Block* victim = &blocks_[0];
  for (Block& b : blocks_) {
    if (b.index == index) {
      b.lastUse = clock_;
      return b;
    }
    if (b.lastUse < victim->lastUse) victim = &b;
  }
  victim->index = -1;
  if (!victim->bytes) victim->bytes = std::make_unique_for_overwrite<char[]>(size_t(kBlockSize));
  size_t filled = 0;
  while (filled < size_t(kBlockSize)) {
    const ssize_t n = ::pread(fd_.get(), victim->bytes.get() + filled, size_t(kBlockSize) - filled,
                              off_t(index * kBlockSize) + off_t(filled));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed(errno, path_);
    if (n == 0) break;
    filled += size_t(n);
  }
  victim->length = filled;
  victim->index = index;
  victim->lastUse = clock_;
  return *victim;
}

}  // namespace vardelle
