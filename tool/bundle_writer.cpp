#include "tool/bundle_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <utility>

#include "tool/import_error.h"

namespace kestrine {

namespace {

// Large enough that the data of most assets goes to the file in few calls.
constexpr size_t kStreamBufferSize = 1 << 20;

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// "dir/.name.XXXXXX": hidden, in the output's own folder so that the final
// rename stays on one file system and is atomic.
std::string TemporaryTemplate(const std::string& outputPath) {
  size_t slash = outputPath.rfind('/');
  std::string folder = slash == std::string::npos ? "" : outputPath.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
  return folder + "." + name + ".XXXXXX";
}

// mkstemp creates files readable by the owner only; a bundle gets the mode an
// ordinary new file would get.
void GiveDefaultMode(int fd) {
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
}

void SyncFolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

BundleWriter::BundleWriter(std::string outputPath) : outputPath_(std::move(outputPath)) {
  if (outputPath_.empty() || outputPath_.back() == '/' || IsDirectory(outputPath_)) {
    FailImport("Cannot create output bundle");
  }
  std::string path = TemporaryTemplate(outputPath_);
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
  if (!closed || ::rename(temporaryPath_.c_str(), outputPath_.c_str()) != 0) {
    Abandon();
    FailImport("Bundle close failed");
  }
  temporaryPath_.clear();
  SyncFolderOf(outputPath_);
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
