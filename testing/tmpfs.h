#pragma once

#include <string>

#include "testing/temp_dir.h"

namespace vardelle::testing {

/// A small private tmpfs of `bytes` on a fresh folder, for filling a disk on purpose. Mounting
/// needs root (CAP_SYS_ADMIN); without it mounted() is false and why() says what failed, for the
/// test's skip message. The destructor unmounts what this mounted, and only that.
class Tmpfs {
 public:
  explicit Tmpfs(unsigned long long bytes);
  ~Tmpfs();
  Tmpfs(const Tmpfs&) = delete;
  Tmpfs& operator=(const Tmpfs&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  const std::string& path() const { return dir_.path(); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  /// Bytes in use on it (0 when nothing, not even an unnamed file, holds space).
  unsigned long long usedBytes() const;
  /// Writes a file `name` that takes all the space but `leaveBytes`.
  void fillLeaving(const std::string& name, unsigned long long leaveBytes) const;

 private:
  TempDir dir_;
  bool mounted_ = false;
  std::string why_;
};

}  // namespace vardelle::testing
