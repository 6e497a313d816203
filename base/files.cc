#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "base/print_failure.h"

namespace vardelle {

namespace {

std::string describe(const std::string& what, const std::string& path, int err) {
  return "The file \xE2\x80\x9C" + path + "\xE2\x80\x9D " + what + ": " + std::strerror(err) + ".";
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

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

}  // namespace

std::string readWholeFile(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

void writeFileAtomically(const std::string& path, std::string_view bytes) {
  const std::filesystem::path target(path);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  Fd fd(::mkstemp(temp.data()));
  if (fd.get() < 0) throw PlatformError(describe("couldn\xE2\x80\x99t be saved", path, errno));
  auto fail = [&](int err) {
    ::unlink(temp.c_str());
    throw PlatformError(describe("couldn\xE2\x80\x99t be saved", path, err));
  };
  // mkstemp creates 0600; an ordinary output file should be readable like any other.
  mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd.get(), 0666 & ~mask) != 0) fail(errno);
  if (!writeAll(fd.get(), bytes)) fail(errno);
  if (::fsync(fd.get()) != 0) fail(errno);
  if (::close(fd.release()) != 0) fail(errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) fail(errno);
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

PrivateTempFile::PrivateTempFile(std::string_view bytes, std::string_view what) {
  const char* folder = std::getenv("TMPDIR");
  path_ = std::string(folder && *folder ? folder : "/tmp") + "/vardelle-XXXXXX";
  Fd fd(::mkstemp(path_.data()));
  if (fd.get() < 0) {
    throw PlatformError("A temporary file for " + std::string(what) +
                        " could not be created: " + std::strerror(errno) + ".");
  }
  if (!writeAll(fd.get(), bytes)) {
    const int err = errno;
    ::unlink(path_.c_str());
    throw PlatformError("A temporary file for " + std::string(what) +
                        " could not be written: " + std::strerror(err) + ".");
  }
}

PrivateTempFile::~PrivateTempFile() { ::unlink(path_.c_str()); }

std::string resolvedLocation(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
  if (ec) p = std::filesystem::path(path).lexically_normal();
  return p.string();
}

}  // namespace vardelle
