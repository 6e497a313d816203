#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/file_descriptor.h"

namespace vardelle {

/// A regular file read with pread in 64 KiB blocks, keeping the last few: readers that visit
/// objects close together (a PDF's cross references and page objects) cost one system call for
/// many of them. The file is read, never mapped, so a file that shrinks while it is open ends
/// early instead of faulting. (This header is also read as C++17, by the sources that include
/// qpdf's headers under clang.)
class BlockFile {
 public:
  /// Opens `path`. Throws std::system_error when it cannot be opened or is not a regular file.
  explicit BlockFile(const std::string& path);

  /// The size when it was opened.
  long long size() const { return size_; }

  /// The bytes from `offset` to the end of the block that holds it; empty at or past the end of
  /// the file. Valid until the next call. Throws std::system_error when reading fails.
  std::string_view from(long long offset);

  /// Copies up to `length` bytes from `offset` into `out`; returns how many, fewer at the end of
  /// the file. Throws like from().
  size_t read(long long offset, char* out, size_t length);

 private:
  static constexpr long long kBlockSize = 64 * 1024;
  struct Block {
    long long index = -1;
    uint64_t lastUse = 0;
    size_t length = 0;
    std::unique_ptr<char[]> bytes;  // allocated when first filled
  };

  const Block& block(long long index);

  std::string path_;
  FileDescriptor fd_;
  long long size_ = 0;
  uint64_t clock_ = 0;
  std::array<Block, 8> blocks_;
};

}  // namespace vardelle
