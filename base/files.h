#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/file_descriptor.h"

namespace vardelle {

/// Reads a whole file into memory (no size limit, no mapping). Throws PlatformError naming the
/// file and the system's reason.
std::string readWholeFile(const std::string& path);

/// True when something exists at `path` (a dangling link counts as nothing).
bool fileExists(const std::string& path);

/// Replaces the file at `path` with `bytes` so that a reader sees the old or the new file, never a
/// part. The bytes go into an unnamed file in the same folder (O_TMPFILE), which is fsynced and
/// then given its name; where the file system has no unnamed files, a hidden temporary file
/// whose name fits the folder's name limit is used instead. On failure the old file is
/// untouched and nothing is left in the folder. A full disk throws PrintFailure saying so and
/// where; other failures are PlatformError naming the path.
void writeFileAtomically(const std::string& path, std::string_view bytes);

/// Bytes handed over piece by piece; a failure to take them throws.
using ByteSink = std::function<void(std::string_view)>;

/// The same, with the bytes made by `produce` while the file is written: a large file is never
/// held whole in memory. What `produce` throws leaves the old file untouched and nothing in the
/// folder, and passes through.
void writeFileAtomically(const std::string& path,
                         const std::function<void(const ByteSink&)>& produce);

/// Called by the finishing routine before the process ends, from any thread or a signal handler
/// (it is async-signal-safe): waits (a few seconds at most) for an atomic write that is giving its
/// file a name, removes the hidden temporary files of writes in progress, and keeps any later
/// write from naming its file (that thread waits for the end of the process). Never returns
/// control of the writes: the process is ending.
void stopFileWrites() noexcept;

/// Makes the module `moduleHandle` (from dlopen) share this copy's state of the atomic writes:
/// the executable and each of its modules link their own copy of this library, and
/// loadHelperModule calls this for every module it loads, so that the process has one state and
/// the finishing routine stops the writes a module makes. A module without the state (or from
/// another build) is left as it is.
void shareFileWriteState(void* moduleHandle) noexcept;

/// The folder private temporary files go to: $TMPDIR when set and not empty, else /tmp.
std::string temporaryFolder();

/// True for the errors a full disk or an exhausted quota give.
bool isNoSpace(int err) noexcept;

/// The sentence for a full disk in `folder` while doing `what` ("saving “x.pdf”").
std::string noSpaceLeftMessage(const std::string& folder, const std::string& what);

/// An absolute path with "." and ".." removed and symbolic links resolved in the part that exists;
/// the rest is kept as written. Two paths naming one file compare equal.
std::string resolvedLocation(const std::string& path);

/// A private, unnamed file in temporaryFolder() holding `bytes`, for handing data to a library
/// that reads or writes only files. It has no name in any folder, so the kernel frees it however
/// the process ends; path() names it through /proc/self/fd, valid while this lives. `what`
/// says what the file is for in failure messages ("rendering"); a full disk throws PrintFailure
/// saying so, other failures are PlatformError.
class PrivateTempFile {
 public:
  PrivateTempFile(std::string_view bytes, std::string_view what);
  /// Holding what `produce` writes to its sink; what `produce` throws passes through.
  PrivateTempFile(const std::function<void(const ByteSink&)>& produce, std::string_view what);
  ~PrivateTempFile();
  PrivateTempFile(const PrivateTempFile&) = delete;
  PrivateTempFile& operator=(const PrivateTempFile&) = delete;

  const std::string& path() const { return path_; }
  int fd() const { return fd_.get(); }
  /// Bytes free for this file on its file system (for the caller's own estimate of what fits).
  unsigned long long availableBytes() const;

 private:
  FileDescriptor fd_;
  std::string path_;
};

}  // namespace vardelle
