#include "base/files.h"
#include "base/files_internal.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <utility>

#include "base/file_descriptor.h"
#include "base/print_failure.h"

namespace vardelle {

namespace {

std::string describe(const std::string& what, const std::string& path, int err) {
  return "The file \xE2\x80\x9C" + path + "\xE2\x80\x9D " + what + ": " + std::strerror(err) + ".";
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

/// The error of a write that failed, carried out of a producer to the code that owns the file.
struct WriteFailed {
  int err;
};

/// Gathers the small pieces a producer hands over (qpdf writes PDF syntax a few bytes at a time)
/// into large writes.
class BufferedWriter {
 public:
  explicit BufferedWriter(int fd) : fd_(fd) { buffer_.reserve(kCapacity); }

  void put(std::string_view bytes) {
    if (buffer_.size() + bytes.size() > kCapacity) flush();
    // A large piece is written in buffer-sized parts: one write of tens of megabytes was
    // measured several times slower than the same bytes a megabyte at a time.
    while (bytes.size() >= kCapacity) {
      if (!writeAll(fd_, bytes.substr(0, kCapacity))) throw WriteFailed{errno};
      bytes.remove_prefix(kCapacity);
    }
    buffer_.append(bytes);
  }

  void flush() {
    if (!writeAll(fd_, buffer_)) throw WriteFailed{errno};
    buffer_.clear();
  }

 private:
  static constexpr size_t kCapacity = size_t(1) << 20;
  int fd_;
  std::string buffer_;
};

/// Runs `produce` into `fd`; 0, or the errno of the write that failed. What `produce` itself
/// throws passes through.
int produceInto(int fd, const std::function<void(const ByteSink&)>& produce) {
  BufferedWriter writer(fd);
  try {
    produce([&writer](std::string_view bytes) { writer.put(bytes); });
    writer.flush();
  } catch (const WriteFailed& failed) {
    return failed.err;
  }
  return 0;
}

}  // namespace

std::string readWholeFile(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw PlatformError(describe("couldn\xE2\x80\x99t be opened", path, errno));
  std::string bytes;
  struct stat st {};
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) bytes.reserve(st.st_size);
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw PlatformError(describe("couldn\xE2\x80\x99t be read", path, errno));
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

namespace {

// An atomic write's steps that give or take a name in a folder (creating the hidden file,
// linking, renaming, removing) are each whole or not begun when the process ends. The finishing
// routine, which may run on any thread or in a signal handler, sets `stopped` and waits for a step
// in progress; a step checks `stopped` only after announcing itself, so either the step sees it
// and never begins, or the finishing routine sees the step and waits for its end. Signals are
// blocked during a step, so the finishing routine never runs inside one on the same thread.
[[noreturn]] void parkForever() noexcept {
  for (;;) ::pause();
}

}  // namespace

struct FileWriteState {
  static constexpr int kHiddenFiles = 16;
  std::mutex steps;  // one naming step at a time, among the writes
  std::atomic<pid_t> stepThread{0};
  std::atomic<bool> stopped{false};
  // The hidden temporary files of writes in progress by the fallback route, which have a name in
  // the folder while their bytes are made; the finishing routine removes them. Written only during
  // a naming step.
  struct HiddenFile {
    std::atomic<bool> held{false};
    char path[PATH_MAX] = {};
  } hidden[kHiddenFiles];
};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

namespace {

// This copy of the library's own state, and the one it uses: the executable's, once a loader
// handed it over (vardelle_use_file_write_state).
FileWriteState ownFileWriteState;
std::atomic<FileWriteState*> usedFileWriteState{&ownFileWriteState};

FileWriteState& writes() noexcept { return *usedFileWriteState.load(); }

class NamingStep {
 public:
  NamingStep() : lock_(writes().steps) {
    sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &saved_);
    writes().stepThread.store(::gettid());
    if (writes().stopped.load()) {
      writes().stepThread.store(0);
      parkForever();  // the process is ending; its line is on its way
    }
  }
  ~NamingStep() {
    writes().stepThread.store(0);
    ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  NamingStep(const NamingStep&) = delete;
  NamingStep& operator=(const NamingStep&) = delete;

 private:
  std::lock_guard<std::mutex> lock_;
  sigset_t saved_;
};

// Marks `path` as a hidden file of a write in progress, during a naming step; -1 when every mark
// is taken.
int markHiddenFile(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < FileWriteState::kHiddenFiles; ++i) {
    FileWriteState::HiddenFile& file = writes().hidden[i];
    if (file.held.load()) continue;
    std::memcpy(file.path, path.c_str(), path.size() + 1);
    file.held.store(true);
    return i;
  }
  return -1;
}

void unmarkHiddenFile(int mark) {
  if (mark >= 0) writes().hidden[mark].held.store(false);
}

std::string randomSuffix() {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char noise[8];
  if (::getrandom(noise, sizeof noise, 0) != ssize_t(sizeof noise)) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    for (size_t i = 0; i < sizeof noise; ++i) noise[i] = static_cast<unsigned char>(now >> (8 * i));
  }
  std::string suffix;
  for (unsigned char c : noise) suffix += kLetters[c % (sizeof kLetters - 1)];
  return suffix;
}

// "." + name + "." + 8 random letters, the name cut (at a character boundary) so that the whole
// fits the folder's limit: a target name near that limit must still be savable.
std::string hiddenName(const std::string& name, long nameMax) {
  constexpr size_t kAdded = 1 + 1 + 8;
  size_t keep = name.size();
  const size_t limit = nameMax > long(kAdded) ? size_t(nameMax) - kAdded : 0;
  if (keep > limit) {
    keep = limit;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  }
  return "." + name.substr(0, keep) + "." + randomSuffix();
}

std::string fdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool noUnnamedFiles(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

}  // namespace

bool isNoSpace(int err) noexcept { return err == ENOSPC || err == EDQUOT; }

std::string noSpaceLeftMessage(const std::string& folder, const std::string& what) {
  return "There was no space left in \xE2\x80\x9C" + folder + "\xE2\x80\x9D for " + what +
         ". Free some space there and try again.";
}

std::string temporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder && *folder ? folder : "/tmp";
}

void stopFileWrites() noexcept {
  FileWriteState& state = writes();
  state.stopped.store(true);
  const pid_t self = ::gettid();
  // A step is a few system calls; one stuck longer (a file server that stopped answering) is not
  // waited for past a few seconds.
  for (int i = 0; i < 300; ++i) {
    const pid_t stepping = state.stepThread.load();
    if (stepping == 0 || stepping == self) break;
    const timespec tenMs{0, 10000000};
    ::nanosleep(&tenMs, nullptr);
  }
  for (FileWriteState::HiddenFile& file : state.hidden) {
    if (file.held.load()) ::unlink(file.path);
  }
}

void shareFileWriteState(void* moduleHandle) noexcept {
  using Use = void (*)(FileWriteState*, std::size_t) noexcept;
  if (auto use = reinterpret_cast<Use>(::dlsym(moduleHandle, "vardelle_use_file_write_state"))) {
    use(usedFileWriteState.load(), sizeof(FileWriteState));
  }
}

}  // namespace vardelle

// Found by shareFileWriteState in each module that holds a copy of this library.
extern "C" __attribute__((visibility("default"))) void vardelle_use_file_write_state(
    vardelle::FileWriteState* state, std::size_t size) noexcept {
  // A module from another build would lay the state out otherwise: it keeps its own.
  if (state && size == sizeof(vardelle::FileWriteState)) vardelle::usedFileWriteState.store(state);
}

namespace vardelle {

void writeFileAtomically(const std::string& path, std::string_view bytes) {
  writeFileAtomically(path, bytes, AtomicRoute::unnamedWherePossible);
}

void writeFileAtomically(const std::string& path,
                         const std::function<void(const ByteSink&)>& produce) {
  writeFileAtomically(path, produce, AtomicRoute::unnamedWherePossible);
}

void writeFileAtomically(const std::string& path, std::string_view bytes, AtomicRoute route) {
  writeFileAtomically(
      path, [bytes](const ByteSink& sink) { sink(bytes); }, route);
}

void writeFileAtomically(const std::string& path,
                         const std::function<void(const ByteSink&)>& produce, AtomicRoute route) {
  const std::filesystem::path target(path);
  std::filesystem::path folderPath = target.parent_path();
  if (folderPath.empty()) folderPath = ".";
  const std::string folder = folderPath.string();
  const std::string name = target.filename().string();
  auto fail = [&](int err) -> void {
    if (isNoSpace(err)) {
      throw PrintFailure(noSpaceLeftMessage(folder, "saving \xE2\x80\x9C" + name + "\xE2\x80\x9D"));
    }
    throw PlatformError(describe("couldn\xE2\x80\x99t be saved", path, err));
  };

  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) fail(errno);
  long nameMax = ::fpathconf(dir.get(), _PC_NAME_MAX);
  if (nameMax <= 0) nameMax = NAME_MAX;

  // The open applies the umask to 0666, as for any ordinary new file.
  FileDescriptor fd(route == AtomicRoute::hiddenFile
                        ? -1
                        : ::openat(dir.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  std::string hidden;
  int mark = -1;  // the hidden file's, for the finishing routine
  if (fd.get() < 0) {
    if (route != AtomicRoute::hiddenFile && !noUnnamedFiles(errno)) fail(errno);
    NamingStep step;
    for (int attempt = 0; fd.get() < 0 && attempt < 16; ++attempt) {
      hidden = hiddenName(name, nameMax);
      fd.reset(::openat(dir.get(), hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      if (fd.get() < 0 && errno != EEXIST) fail(errno);
    }
    if (fd.get() < 0) fail(EEXIST);
    const std::string hiddenPath = folder + "/" + hidden;
    mark = markHiddenFile(hiddenPath);
    if (mark < 0) {
      // A path the finishing routine could not remove, or more writes at once than any run makes.
      ::unlinkat(dir.get(), hidden.c_str(), 0);
      fail(hiddenPath.size() >= PATH_MAX ? ENAMETOOLONG : EBUSY);
    }
  }
  auto clean = [&] {
    if (!hidden.empty()) {
      NamingStep step;
      ::unlinkat(dir.get(), hidden.c_str(), 0);
      unmarkHiddenFile(mark);
    }
  };
  auto failAndClean = [&](int err) {
    clean();
    fail(err);
  };
  int written;
  try {
    written = produceInto(fd.get(), produce);
  } catch (...) {
    clean();
    throw;
  }
  if (written != 0) failAndClean(written);
  if (::fsync(fd.get()) != 0) failAndClean(errno);

  {
    NamingStep step;
    if (hidden.empty()) {
      // An unnamed file can only be linked to a name that is free: straight to the target when
      // there is none yet, else to a hidden name that is renamed over it in the same step.
      const std::string source = fdPath(fd.get());
      if (::linkat(AT_FDCWD, source.c_str(), dir.get(), name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        if (errno != EEXIST) fail(errno);
        for (int attempt = 0;; ++attempt) {
          hidden = hiddenName(name, nameMax);
          if (::linkat(AT_FDCWD, source.c_str(), dir.get(), hidden.c_str(), AT_SYMLINK_FOLLOW) ==
              0) {
            break;
          }
          if (errno != EEXIST || attempt == 15) fail(errno);
        }
      }
    }
    if (!hidden.empty() && ::renameat(dir.get(), hidden.c_str(), dir.get(), name.c_str()) != 0) {
      const int err = errno;
      ::unlinkat(dir.get(), hidden.c_str(), 0);
      unmarkHiddenFile(mark);
      fail(err);
    }
    unmarkHiddenFile(mark);
  }
  // The bytes were fsynced before the rename; closing can no longer lose them.
  fd.reset();
  ::fsync(dir.get());
}

PrivateTempFile::PrivateTempFile(std::string_view bytes, std::string_view what)
    : PrivateTempFile([bytes](const ByteSink& sink) { sink(bytes); }, what) {}

PrivateTempFile::PrivateTempFile(const std::function<void(const ByteSink&)>& produce,
                                 std::string_view what) {
  const std::string folder = temporaryFolder();
  auto fail = [&](const char* step, int err) {
    fd_.reset();
    if (isNoSpace(err)) throw PrintFailure(noSpaceLeftMessage(folder, std::string(what)));
    throw PlatformError("A temporary file for " + std::string(what) + " could not be " + step +
                        " in \xE2\x80\x9C" + folder + "\xE2\x80\x9D: " + std::strerror(err) + ".");
  };
  fd_.reset(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (!fd_) {
    if (!noUnnamedFiles(errno)) fail("created", errno);
    // No unnamed files here: a named one, unlinked at once, lives on through its descriptor.
    std::string name = folder + "/vardelle-XXXXXX";
    NamingStep step;
    fd_.reset(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd_) fail("created", errno);
    ::unlink(name.c_str());
  }
  path_ = fdPath(fd_.get());
  int written;
  try {
    written = produceInto(fd_.get(), produce);
  } catch (...) {
    fd_.reset();
    throw;
  }
  if (written != 0) fail("written", written);
}

PrivateTempFile::~PrivateTempFile() = default;

unsigned long long PrivateTempFile::availableBytes() const {
  struct statvfs st {};
  if (::fstatvfs(fd_.get(), &st) != 0) return ~0ULL;
  return static_cast<unsigned long long>(st.f_bavail) * st.f_frsize;
}

std::string resolvedLocation(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
  if (ec) p = std::filesystem::path(path).lexically_normal();
  return p.string();
}

}  // namespace vardelle
