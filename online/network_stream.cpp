// The "http:" and "ribbit:" stream providers: the stream's name is the
// request's URL without its scheme; the first read or size query performs
// the one request and keeps the whole body in memory, and every read is
// served from it. The providers can only be read.
#include <algorithm>
#include <cstring>
#include <vector>

#include "encoded/stream_internal.h"
#include "kestrine.h"
#include "online/remote_name.h"
#include "online/transfer.h"

namespace kestrine {

namespace {

class NetworkProvider final : public BaseProvider {
 public:
  NetworkProvider(bool ribbit, bool zeroFill) : BaseProvider(zeroFill), ribbit_(ribbit) {}

  uint32_t Open(std::string_view path, bool /*writable*/) override {
    // The Ribbit client reads host and port itself; libcurl takes any
    // other form of URL, IPv6 literals included.
    RemoteName name;
    if (ribbit_) {
      if (uint32_t error = SplitRemoteName(path, kRibbitPort, name)) return error;
    } else if (path.empty() || path.front() == '/' || path.front() == ':') {
      return kErrorInvalidParameter;
    }
    url_ = std::string(ribbit_ ? "ribbit://" : "http://") + std::string(path);
    return kErrorSuccess;
  }

  uint32_t LoadSize() override {
    std::lock_guard guard(lock_);
    return Download();
  }

  bool setsReadOnly() const override { return true; }

 private:
  // Performs the request once; a failure is kept and reported again.
  uint32_t Download() {
    if (downloaded_) return downloadError_;
    downloaded_ = true;
    MemorySink sink;
    downloadError_ = PerformRequest(TransferRequest{url_, std::nullopt}, sink);
    if (downloadError_ == kErrorSuccess) {
      data_ = std::move(sink.bytes());
      fileSize_ = data_.size();
    }
    return downloadError_;
  }

  uint32_t ReadLocked(uint64_t offset, void* buffer, size_t length, size_t* bytesRead) override {
    *bytesRead = 0;
    if (uint32_t error = Download()) return error;
    const uint64_t available = offset < data_.size() ? data_.size() - offset : 0;
    *bytesRead = static_cast<size_t>(std::min<uint64_t>(available, length));
    if (*bytesRead != 0) {
      std::span<const uint8_t> from =
          std::span(data_).subspan(static_cast<size_t>(offset), *bytesRead);
      std::memcpy(buffer, from.data(), from.size());
    }
    return *bytesRead == length ? kErrorSuccess : kErrorHandleEof;
  }

  bool ribbit_;
  std::string url_;
  bool downloaded_ = false;
  uint32_t downloadError_ = kErrorSuccess;
  std::vector<uint8_t> data_;
};

}  // namespace

std::unique_ptr<BaseProvider> MakeNetworkProvider(bool ribbit, bool zeroFill) {
  return std::make_unique<NetworkProvider>(ribbit, zeroFill);
}

}  // namespace kestrine
