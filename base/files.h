#pragma once

#include <string>
#include <string_view>

namespace vardelle {

/// Reads a whole file into memory (no size limit, no mapping). Throws PlatformError naming the
/// file and the system's reason.
std::string readWholeFile(const std::string& path);

/// True when something exists at `path` (a dangling link counts as nothing).
bool fileExists(const std::string& path);

/// Replaces the file at `path` with `bytes` so that a reader sees the old or the new file, never a
/// part: a temporary file in the same folder, fsync, rename, fsync of the folder. On failure the
/// old file is untouched, the temporary file is removed, and PlatformError names the path.
void writeFileAtomically(const std::string& path, std::string_view bytes);

/// An absolute path with "." and ".." removed and symbolic links resolved in the part that exists;
/// the rest is kept as written. Two paths naming one file compare equal.
std::string resolvedLocation(const std::string& path);

/// A private file in $TMPDIR (or /tmp) holding `bytes`, removed when this goes. For handing data
/// to a library that reads only files. `what` says what the file is for in failure messages
/// ("rendering"); they are PlatformError.
class PrivateTempFile {
 public:
  PrivateTempFile(std::string_view bytes, std::string_view what);
  ~PrivateTempFile();
  PrivateTempFile(const PrivateTempFile&) = delete;
  PrivateTempFile& operator=(const PrivateTempFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vardelle
