#pragma once

#include <utility>

namespace vardelle {

/// The one owner of a POSIX file descriptor: closes it when destroyed or replaced. Move-only. A
/// negative value owns nothing.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    reset(other.release());
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  /// The descriptor, negative when none is owned.
  int get() const { return fd_; }
  /// Whether a descriptor is owned.
  explicit operator bool() const { return fd_ >= 0; }
  /// Gives the descriptor up to the caller, who then closes it.
  int release() { return std::exchange(fd_, -1); }
  /// Closes the owned descriptor, if any, and owns `fd` instead.
  void reset(int fd = -1) noexcept;

 private:
  int fd_ = -1;
};

}  // namespace vardelle
