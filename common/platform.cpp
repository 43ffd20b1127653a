// POSIX behind the platform operations. Paths arrive with '\' separators and
// possibly in another case than on disk (installations copied from Windows);
// ResolvePath turns them into the name the OS knows.
#include "common/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "kestrine.h"

namespace kestrine::platform {

namespace {

// Seconds between 1601-01-01 (Windows file times) and 1970-01-01.
constexpr int64_t kUnixEpochInWindowsSeconds = 11644473600;

std::string ToOsSeparators(std::string_view internalPath) {
  std::string path(internalPath);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

bool StatPath(const std::string& path, struct stat* info) {
  return !path.empty() && ::stat(path.c_str(), info) == 0;
}

bool PathExists(const std::string& path) {
  struct stat info;
  return StatPath(path, &info);
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// A listing open from opendir() to closedir(), on every way out (a callback
// or a copy may throw while it is open).
struct DirectoryCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirectoryPtr = std::unique_ptr<DIR, DirectoryCloser>;

// The entry of `folder` equal to `name` but for case. Of several, the
// smallest in byte order, so that the choice does not depend on the order
// the file system lists them in.
std::optional<std::string> FindIgnoringCase(const std::string& folder, std::string_view name) {
  DirectoryPtr dir(::opendir(folder.empty() ? "." : folder.c_str()));
  if (dir == nullptr) return std::nullopt;
  std::optional<std::string> best;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view candidate(entry->d_name);
    if (!EqualIgnoringCase(candidate, name)) continue;
    if (!best || candidate < *best) best = std::string(candidate);
  }
  return best;
}

std::string JoinOsPath(const std::string& folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  if (folder.back() == '/') return folder + std::string(name);
  return folder + "/" + std::string(name);
}

// Not found (2) when the file's folder exists, path not found (3) otherwise.
uint32_t NotFoundError(const std::string& osPath) {
  size_t slash = osPath.find_last_of('/');
  if (slash == std::string::npos) return kErrorFileNotFound;
  std::string folder = slash == 0 ? "/" : osPath.substr(0, slash);
  struct stat info;
  if (StatPath(folder, &info) && S_ISDIR(info.st_mode)) return kErrorFileNotFound;
  return kErrorPathNotFound;
}

// A socket refuses open() with ENXIO: like any node that is not a file, it
// cannot be opened.
uint32_t OpenError(int errnoValue, const std::string& osPath) {
  if (errnoValue == ENXIO) return kErrorFileNotFound;
  return errnoValue == ENOENT ? NotFoundError(osPath) : ErrorFromErrno(errnoValue);
}

// True when every byte of [offset, offset + length) has an off_t offset.
bool FitsFileOffsets(uint64_t offset, size_t length) {
  constexpr uint64_t kLimit = static_cast<uint64_t>(INT64_MAX);
  return length <= kLimit && offset <= kLimit - length;
}

uint64_t WindowsFileTime(const struct stat& info) {
  int64_t seconds = static_cast<int64_t>(info.st_mtim.tv_sec) + kUnixEpochInWindowsSeconds;
  if (seconds < 0) return 0;
  return static_cast<uint64_t>(seconds) * 10000000u +
         static_cast<uint64_t>(info.st_mtim.tv_nsec) / 100u;
}

// Folders give 87, as they do on Windows; FIFOs, sockets and devices read as
// files that cannot be opened.
uint32_t CheckRegularFile(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return ErrorFromErrno(errno);
  if (S_ISDIR(info.st_mode)) return kErrorInvalidParameter;
  if (!S_ISREG(info.st_mode)) return kErrorFileNotFound;
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return ErrorFromErrno(errno);
  return kErrorSuccess;
}

// Opens a regular file. O_NONBLOCK keeps the open of a FIFO from waiting for
// a writer; it is cleared again once the descriptor is known to be a file.
uint32_t OpenDescriptor(const std::string& osPath, int openFlags, int* fd) {
  int opened;
  do {
    opened = ::open(osPath.c_str(), openFlags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  } while (opened < 0 && errno == EINTR);
  if (opened < 0) return OpenError(errno, osPath);
  if (uint32_t error = CheckRegularFile(opened)) {
    ::close(opened);
    return error;
  }
  *fd = opened;
  return kErrorSuccess;
}

}  // namespace

std::string ResolvePath(std::string_view internalPath) {
  std::string asWritten = ToOsSeparators(internalPath);
  if (asWritten.empty() || PathExists(asWritten)) return asWritten;

  // Walk the components; once one cannot be found the rest stay as written.
  std::string resolved = asWritten[0] == '/' ? "/" : "";
  bool found = true;
  size_t start = 0;
  while (start < asWritten.size()) {
    size_t end = asWritten.find('/', start);
    if (end == std::string::npos) end = asWritten.size();
    std::string_view component(asWritten.data() + start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    std::string exact = JoinOsPath(resolved, component);
    if (!found || component == "." || component == ".." || PathExists(exact)) {
      resolved = std::move(exact);
      continue;
    }
    std::optional<std::string> match = FindIgnoringCase(resolved, component);
    found = match.has_value();
    resolved = found ? JoinOsPath(resolved, *match) : std::move(exact);
  }
  if (asWritten.back() == '/' && resolved.back() != '/') resolved += '/';
  return resolved;
}

bool IsDirectory(std::string_view internalPath) {
  struct stat info;
  return StatPath(ResolvePath(internalPath), &info) && S_ISDIR(info.st_mode);
}

bool Exists(std::string_view internalPath) {
  return PathExists(ResolvePath(internalPath));
}

uint32_t ListDirectory(
    std::string_view internalPath,
    const std::function<bool(std::string_view name, bool isDirectory)>& onEntry) {
  std::string folder = ResolvePath(internalPath);
  DirectoryPtr dir(::opendir(folder.empty() ? "." : folder.c_str()));
  if (dir == nullptr) {
    return (errno == ENOENT || errno == ENOTDIR) ? kErrorPathNotFound : ErrorFromErrno(errno);
  }
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    bool isDirectory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat info;
      isDirectory = StatPath(JoinOsPath(folder, name), &info) && S_ISDIR(info.st_mode);
    }
    if (!onEntry(name, isDirectory)) break;
  }
  return kErrorSuccess;
}

uint32_t MakeDirectory(std::string_view internalPath) {
  std::string path = ResolvePath(internalPath);
  if (::mkdir(path.c_str(), 0755) == 0) return kErrorSuccess;
  if (errno == EEXIST) {
    struct stat info;
    return StatPath(path, &info) && S_ISDIR(info.st_mode) ? kErrorSuccess : kErrorAlreadyExists;
  }
  return OpenError(errno, path);
}

uint32_t RenameFile(std::string_view fromInternalPath, std::string_view toInternalPath) {
  std::string from = ResolvePath(fromInternalPath);
  std::string to = ResolvePath(toInternalPath);
  return ::rename(from.c_str(), to.c_str()) == 0 ? kErrorSuccess : ErrorFromErrno(errno);
}

uint32_t SyncFileSystem(std::string_view internalFolder) {
  std::string path = ResolvePath(internalFolder);
  int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrorFromErrno(errno);
  int result = ::syncfs(fd);
  int syncError = errno;
  ::close(fd);
  return result == 0 ? kErrorSuccess : ErrorFromErrno(syncError);
}

uint32_t RemoveFile(std::string_view internalPath) {
  std::string path = ResolvePath(internalPath);
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return kErrorSuccess;
  return ErrorFromErrno(errno);
}

uint32_t ErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case EISDIR:
    case EINVAL:
      return kErrorInvalidParameter;
    case EEXIST:
      return kErrorAlreadyExists;
    default:
      return kErrorIoDevice;
  }
}

// ---- File ----

File::~File() {
  Close();
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

uint32_t File::Open(std::string_view internalPath, bool writable) {
  Close();
  return OpenDescriptor(ResolvePath(internalPath), writable ? O_RDWR : O_RDONLY, &fd_);
}

uint32_t File::Create(std::string_view internalPath) {
  Close();
  return OpenDescriptor(ResolvePath(internalPath), O_RDWR | O_CREAT | O_TRUNC, &fd_);
}

uint32_t File::CreateUnique(std::string_view folder, std::string_view prefix,
                            std::string* internalPath) {
  Close();
  std::string osPath = JoinOsPath(ResolvePath(folder), prefix) + "XXXXXX";
  int opened = ::mkostemp(osPath.data(), O_CLOEXEC);
  if (opened < 0) return OpenError(errno, osPath);
  fd_ = opened;
  std::string name = osPath.substr(osPath.size() - prefix.size() - 6);
  *internalPath = folder.empty() ? name : std::string(folder) + "\\" + name;
  return kErrorSuccess;
}

uint32_t File::ReadAt(uint64_t offset, void* buffer, size_t length, size_t* bytesRead) const {
  size_t done = 0;
  uint32_t result = kErrorSuccess;
  // Offsets beyond what the OS can address lie past every file's end.
  if (!FitsFileOffsets(offset, length)) {
    result = length == 0 ? kErrorSuccess : kErrorHandleEof;
    length = 0;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < length) {
    ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = ErrorFromErrno(errno);
      break;
    }
    if (n == 0) {
      result = kErrorHandleEof;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (bytesRead != nullptr) *bytesRead = done;
  return result;
}

uint32_t File::WriteAt(uint64_t offset, const void* buffer, size_t length) const {
  if (!FitsFileOffsets(offset, length)) return kErrorDiskFull;
  const auto* in = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, in + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrorFromErrno(errno);
    if (n == 0) return kErrorDiskFull;
    done += static_cast<size_t>(n);
  }
  return kErrorSuccess;
}

uint32_t File::Size(uint64_t* size) const {
  struct stat info;
  if (::fstat(fd_, &info) != 0) return ErrorFromErrno(errno);
  *size = static_cast<uint64_t>(info.st_size);
  return kErrorSuccess;
}

uint32_t File::LastWriteTime(uint64_t* fileTime) const {
  struct stat info;
  if (::fstat(fd_, &info) != 0) return ErrorFromErrno(errno);
  *fileTime = WindowsFileTime(info);
  return kErrorSuccess;
}

uint32_t File::Resize(uint64_t size) const {
  if (size > static_cast<uint64_t>(INT64_MAX)) return kErrorDiskFull;
  int result;
  do {
    result = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  return result == 0 ? kErrorSuccess : ErrorFromErrno(errno);
}

uint32_t File::Sync() const {
  return ::fsync(fd_) == 0 ? kErrorSuccess : ErrorFromErrno(errno);
}

void File::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// ---- MappedFile ----

MappedFile::~MappedFile() {
  Close();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      fileTime_(std::exchange(other.fileTime_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Close();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    fileTime_ = std::exchange(other.fileTime_, 0);
  }
  return *this;
}

uint32_t MappedFile::Open(std::string_view internalPath) {
  Close();
  File file;
  if (uint32_t error = file.Open(internalPath, false)) return error;
  struct stat info;
  if (::fstat(file.fd(), &info) != 0) return ErrorFromErrno(errno);
  // Windows refuses to map an empty file with ERROR_FILE_INVALID (1006).
  if (info.st_size <= 0) return kErrorBlockReadFailed;
  void* view =
      ::mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_SHARED, file.fd(), 0);
  if (view == MAP_FAILED) return ErrorFromErrno(errno);
  data_ = static_cast<const uint8_t*>(view);
  size_ = static_cast<uint64_t>(info.st_size);
  fileTime_ = WindowsFileTime(info);
  return kErrorSuccess;
}

void MappedFile::Close() {
  if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
  data_ = nullptr;
  size_ = 0;
  fileTime_ = 0;
}

}  // namespace kestrine::platform
