#pragma once

#include <string>

namespace vardelle::testing {

/// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when it goes.
/// World-searchable so that helper processes running as other users (CUPS filters) can enter it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  /// path() + "/" + name
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  /// Writes `bytes` to file(name) and returns that path.
  std::string write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

/// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace vardelle::testing
