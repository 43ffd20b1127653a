#include "output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <span>
#include <utility>

namespace kestrine::explorer {

namespace {

// The file being written, for the signal handler to remove.
struct PendingFile {
  volatile sig_atomic_t active = 0;
  int folder = -1;
  char name[32] = {};
};
PendingFile pending;

extern "C" void RemovePendingAndDie(int signalNumber) {
  if (pending.active) unlinkat(pending.folder, pending.name, 0);
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

void InstallInterruptCleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    std::signal(signalNumber, RemovePendingAndDie);
  }
}

// A descriptor closed when the owner goes.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Enters (creating when missing) the folder `name` below `parent`. A link
// there is refused (ELOOP), whatever it points at.
int EnterFolder(int parent, const std::string& name, Descriptor& folder) {
  struct stat status;
  if (fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return errno;
    if (mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  } else if (S_ISLNK(status.st_mode)) {
    return ELOOP;
  }
  const int fd = openat(parent, name.c_str(), kFolderFlags);
  if (fd < 0) return errno;
  folder = Descriptor(fd);
  return 0;
}

// A fresh temporary file in `folder`, its name in `pending`.
int CreateTemporary(int folder, Descriptor& file) {
  static std::mt19937 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[sizeof pending.name];
    std::snprintf(name, sizeof name, ".kestrine-casc-%08x", static_cast<unsigned>(random()));
    pending.active = 0;
    std::memcpy(pending.name, name, sizeof name);
    pending.folder = folder;
    const int fd = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      pending.active = 1;
      file = Descriptor(fd);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<size_t>(written));
  }
  return true;
}

WriteOutcome WriteFileIn(int folder, const std::string& name, const ContentSource& source) {
  Descriptor file;
  if (int error = CreateTemporary(folder, file)) return {WriteOutcome::kWriteFailed, 0, error};
  int writeError = 0;
  const CopyResult copy = source([&](std::span<const uint8_t> bytes) {
    if (WriteAll(file.get(), bytes)) return true;
    writeError = errno != 0 ? errno : EIO;
    return false;
  });
  WriteOutcome outcome{WriteOutcome::kWritten, 0, 0, copy.bytes};
  if (copy.error != 0) {
    outcome = {WriteOutcome::kReadFailed, copy.error};
  } else if (copy.sinkFailed) {
    outcome = {WriteOutcome::kWriteFailed, 0, writeError};
  } else if (close(file.release()) != 0) {
    outcome = {WriteOutcome::kWriteFailed, 0, errno};
  } else if (renameat(folder, pending.name, folder, name.c_str()) != 0) {
    outcome = {WriteOutcome::kWriteFailed, 0, errno};
  } else {
    pending.active = 0;
    return outcome;
  }
  unlinkat(folder, pending.name, 0);
  pending.active = 0;
  return outcome;
}

}  // namespace

OutputFolder::~OutputFolder() {
  if (descriptor_ >= 0) close(descriptor_);
}

int OutputFolder::Open(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  descriptor_ = fd;
  InstallInterruptCleanup();
  return 0;
}

WriteOutcome OutputFolder::Write(const ExtractPath& path, const ContentSource& source) {
  Descriptor folder;
  int parent = descriptor_;
  for (const std::string& name : path.folders) {
    Descriptor next;
    if (int error = EnterFolder(parent, name, next)) {
      if (error == ELOOP) return {WriteOutcome::kRefused};
      return {WriteOutcome::kWriteFailed, 0, error};
    }
    folder = std::move(next);
    parent = folder.get();
  }
  if (path.file.empty()) return {WriteOutcome::kFolderMade};
  return WriteFileIn(parent, path.file, source);
}

}  // namespace kestrine::explorer
