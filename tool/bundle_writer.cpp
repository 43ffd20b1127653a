#include "tool/bundle_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <utility>

#include "tool/import_error.h"

namespace kestrine {

namespace {

// Large enough that the data of most assets goes to the file in few calls.
constexpr size_t kStreamBufferSize = 1 << 20;

// A link may name a link in turn; Linux gives up after 40 as well.
constexpr int kMaxLinkHops = 40;

// The path's folder with its trailing '/', or "" for a bare name.
std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The link's text, or "" when it cannot be read. Some file systems report
// links as 0 bytes long, hence room for a whole path at least.
std::string ReadLink(const std::string& link, size_t reportedSize) {
  std::string target(std::max<size_t>(reportedSize, PATH_MAX) + 1, '\0');
  ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<size_t>(length) >= target.size()) return {};
  target.resize(static_cast<size_t>(length));
  return target;
}

// The rule the kernel applies to links in a shared sticky folder such as
// /tmp: a link planted there by another user is not followed, since it could
// aim the bundle at any file of ours its owner chose.
bool MayFollow(const std::string& link, const struct stat& linkInfo) {
  std::string folder = FolderOf(link);
  struct stat folderInfo {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &folderInfo) != 0) return false;
  bool shared = (folderInfo.st_mode & S_ISVTX) && (folderInfo.st_mode & S_IWOTH);
  return !shared || linkInfo.st_uid == ::geteuid() || linkInfo.st_uid == folderInfo.st_uid;
}

// The file a bundle at `outputPath` replaces: the path itself, or the file
// its chain of links names (a relative link read from the link's folder).
// Empty when that is not a regular file, nor a missing file named directly.
std::string ReplacedFile(const std::string& outputPath) {
  if (outputPath.empty() || outputPath.back() == '/') return {};
  std::string path = outputPath;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT && hop == 0 ? path : "";
    if (S_ISREG(info.st_mode)) return path;
    if (!S_ISLNK(info.st_mode) || !MayFollow(path, info)) return {};
    std::string target = ReadLink(path, static_cast<size_t>(info.st_size));
    if (target.empty()) return {};
    path = target.front() == '/' ? target : FolderOf(path) + target;
  }
  return {};
}

// True while `path` is a regular file or nothing: what the rename may replace.
bool StillReplaceable(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

// "dir/.kestrine-XXXXXX": hidden, short whatever the output's name, and in
// the replaced file's own folder so that the final rename stays on one file
// system and is atomic.
std::string TemporaryTemplate(const std::string& replacedFile) {
  return FolderOf(replacedFile) + ".kestrine-XXXXXX";
}

// mkstemp creates files readable by the owner only; a bundle gets the mode an
// ordinary new file would get.
void GiveDefaultMode(int fd) {
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
}

void SyncFolderOf(const std::string& path) {
  std::string folder = FolderOf(path);
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

BundleWriter::BundleWriter(const std::string& outputPath)
    : replacedFile_(ReplacedFile(outputPath)) {
  if (replacedFile_.empty()) FailImport("Cannot create output bundle");
  std::string path = TemporaryTemplate(replacedFile_);
  int fd = ::mkstemp(path.data());
  if (fd < 0) FailImport("Cannot create output bundle");
  temporaryPath_ = path;
  GiveDefaultMode(fd);
  stream_ = ::fdopen(fd, "wb");
  if (stream_ == nullptr) {
    ::close(fd);
    Abandon();
    FailImport("Cannot create output bundle");
  }
  streamBuffer_ = std::make_unique<char[]>(kStreamBufferSize);
  std::setvbuf(stream_, streamBuffer_.get(), _IOFBF, kStreamBufferSize);
}

BundleWriter::~BundleWriter() {
  Abandon();
}

void BundleWriter::WriteHeader(uint32_t recordCount) {
  // The magic's own write is not checked: a failing stream shows at the next byte.
  std::fwrite(kBundleMagic, 1, sizeof(kBundleMagic), stream_);
  PutLittle(recordCount, 4);
}

void BundleWriter::WriteRecord(std::string_view name, std::span<const uint8_t> data) {
  PutLittle(name.size(), 2);
  PutLittle(data.size(), 4);
  PutBlock({reinterpret_cast<const uint8_t*>(name.data()), name.size()});
  PutBlock(data);
}

void BundleWriter::Commit() {
  bool closed = FlushSyncClose();
  if (!closed || !StillReplaceable(replacedFile_) ||
      ::rename(temporaryPath_.c_str(), replacedFile_.c_str()) != 0) {
    Abandon();
    FailImport("Bundle close failed");
  }
  temporaryPath_.clear();
  SyncFolderOf(replacedFile_);
}

void BundleWriter::Abandon() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
  temporaryPath_.clear();
}

void BundleWriter::PutByte(uint8_t byte) {
  if (std::fputc(byte, stream_) == EOF) FailImport("Write failed");
}

void BundleWriter::PutLittle(uint64_t value, int byteCount) {
  for (int i = 0; i < byteCount; ++i) PutByte(static_cast<uint8_t>(value >> (8 * i)));
}

void BundleWriter::PutBlock(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) {
    FailImport("Write failed");
  }
}

// The stream counts as closed afterwards, whatever the outcome.
bool BundleWriter::FlushSyncClose() {
  std::FILE* stream = std::exchange(stream_, nullptr);
  bool ok = std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0;
  return std::fclose(stream) == 0 && ok;
}

}  // namespace kestrine
