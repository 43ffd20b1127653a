#include "online/cdn_download.h"

#include <algorithm>

#include "kestrine.h"
#include "online/cdn_cache.h"

namespace kestrine {

namespace {

constexpr size_t kMaxHostLength = 259;
constexpr std::string_view kTempPrefix = ".kestrine-";

std::string ParentFolder(const std::string& path) {
  size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

// Writes the body into the temporary file as it arrives.
class CdnDownload::FileSink final : public BodySink {
 public:
  explicit FileSink(platform::File& file) : file_(file) {}

  uint32_t Start(std::optional<uint64_t> length) override {
    return length && *length > kMaxCdnFileSize ? kErrorBadFormat : kErrorSuccess;
  }
  uint32_t Append(std::span<const uint8_t> bytes) override {
    if (bytes.size() > kMaxCdnFileSize - std::min(size_, kMaxCdnFileSize)) return kErrorBadFormat;
    uint32_t error = file_.WriteAt(size_, bytes.data(), bytes.size());
    if (error != kErrorSuccess) return kErrorDiskFull;
    size_ += bytes.size();
    return kErrorSuccess;
  }
  uint32_t DropTail(uint64_t count) override {
    size_ -= std::min(count, size_);
    return file_.Resize(size_) == kErrorSuccess ? kErrorSuccess : kErrorDiskFull;
  }
  uint32_t Reset() override { return DropTail(size_); }
  uint64_t size() const { return size_; }

 private:
  platform::File& file_;
  uint64_t size_ = 0;
};

CdnDownload::CdnDownload(std::vector<std::string> hosts, std::string remotePath,
                         std::optional<ByteRange> range, std::string localPath, bool deferred)
    : hosts_(std::move(hosts)),
      remotePath_(std::move(remotePath)),
      range_(range),
      localPath_(std::move(localPath)),
      deferred_(deferred) {}

CdnDownload::~CdnDownload() {
  Discard();
}

uint32_t CdnDownload::Prepare() {
  Discard();
  if (uint32_t error = file_.CreateUnique(ParentFolder(localPath_), kTempPrefix, &tempPath_)) {
    tempPath_.clear();
    return error == kErrorNotEnoughMemory ? error : kErrorDiskFull;
  }
  sink_ = std::make_unique<FileSink>(file_);
  return kErrorSuccess;
}

TransferRequest CdnDownload::Request() const {
  const std::string& host = hosts_[host_];
  bool hasScheme = host.find("://") != std::string::npos;
  std::string url = (hasScheme ? "" : "http://") + host;
  if (url.empty() || url.back() != '/') url += '/';
  return {url + remotePath_, range_};
}

BodySink& CdnDownload::sink() {
  return *sink_;
}

std::optional<uint32_t> CdnDownload::Finish(uint32_t error) {
  if (error == kErrorSuccess) {
    uint32_t committed = deferred_ ? Complete(false) : Commit();
    // A host that delivered nothing usable is passed over like one that
    // failed; the cache itself failing ends the download.
    if (committed != kErrorBadFormat) return committed;
  } else if (error == kErrorNotEnoughMemory || error == kErrorDiskFull) {
    return error;
  }
  if (sink_->Reset() != kErrorSuccess) return kErrorDiskFull;
  ++host_;
  if (!HasHost()) return kErrorFileNotFound;
  return std::nullopt;
}

uint32_t CdnDownload::Run() {
  if (!HasHost()) return kErrorFileNotFound;
  if (uint32_t error = Prepare()) return error;
  for (;;) {
    if (std::optional<uint32_t> result = Finish(PerformRequest(Request(), *sink_))) return *result;
  }
}

uint32_t CdnDownload::Complete(bool sync) {
  uint64_t size = sink_->size();
  if (size == 0 || size > kMaxCdnFileSize) return kErrorBadFormat;
  if (range_ && size != range_->length) return kErrorBadFormat;
  if (sync && file_.Sync() != kErrorSuccess) return kErrorDiskFull;
  file_.Close();
  ready_ = true;
  return kErrorSuccess;
}

uint32_t CdnDownload::Commit() {
  if (uint32_t error = Complete(true)) return error;
  return CommitSynced();
}

uint32_t CdnDownload::CommitSynced() {
  if (!ready_) return kErrorFileNotFound;
  if (platform::RenameFile(tempPath_, localPath_) != kErrorSuccess) return kErrorDiskFull;
  tempPath_.clear();
  return kErrorSuccess;
}

void CdnDownload::Discard() {
  ready_ = false;
  sink_.reset();
  file_.Close();
  if (!tempPath_.empty()) (void)platform::RemoveFile(tempPath_);
  tempPath_.clear();
}

std::vector<std::string> SplitCdnHosts(std::string_view hosts) {
  std::vector<std::string> result;
  size_t at = 0;
  while (at < hosts.size()) {
    while (at < hosts.size() && IsBlank(hosts[at])) ++at;
    size_t end = at;
    while (end < hosts.size() && !IsBlank(hosts[end])) ++end;
    if (end > at && end - at <= kMaxHostLength) result.emplace_back(hosts.substr(at, end - at));
    at = end;
  }
  return result;
}

}  // namespace kestrine
