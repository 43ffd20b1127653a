// The request entry points: one request on the calling thread, the
// process-wide timeouts, and the in-memory sink.
#include "online/transfer.h"

#include <mutex>
#include <new>

#include "kestrine.h"
#include "online/http_transfer.h"
#include "online/remote_name.h"
#include "online/ribbit_request.h"
#include "online/transfer_dispatch.h"

namespace kestrine {

namespace {

struct TimeoutSetting {
  std::mutex lock;
  TransferTimeouts timeouts;
};

TimeoutSetting& Timeouts() {
  static TimeoutSetting setting;
  return setting;
}

uint32_t PerformHttpRequest(const TransferRequest& request, BodySink& sink) {
  std::unique_ptr<HttpTransfer> transfer;
  if (uint32_t error = HttpTransfer::Create(request, sink, transfer)) return error;
  return transfer->Finish(curl_easy_perform(transfer->handle()));
}

}  // namespace

TransferTimeouts GetTransferTimeouts() {
  TimeoutSetting& setting = Timeouts();
  std::lock_guard guard(setting.lock);
  return setting.timeouts;
}

void SetTransferTimeouts(const TransferTimeouts& timeouts) {
  TimeoutSetting& setting = Timeouts();
  std::lock_guard guard(setting.lock);
  setting.timeouts = timeouts;
}

uint32_t MemorySink::Append(std::span<const uint8_t> bytes) {
  try {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  return kErrorSuccess;
}

uint32_t MemorySink::DropTail(uint64_t count) {
  bytes_.resize(count < bytes_.size() ? bytes_.size() - static_cast<size_t>(count) : 0);
  return kErrorSuccess;
}

uint32_t MemorySink::Reset() {
  bytes_.clear();
  return kErrorSuccess;
}

TransportKind KindOf(const TransferRequest& request, std::string_view& rest) {
  const std::string scheme = SchemeOf(request.url, rest);
  if (scheme == "ribbit") return TransportKind::kRibbit;
  return scheme.empty() ? TransportKind::kUnknown : TransportKind::kHttp;
}

uint32_t PerformRequest(const TransferRequest& request, BodySink& sink) {
  try {
    std::string_view rest;
    switch (KindOf(request, rest)) {
      case TransportKind::kHttp:
        return PerformHttpRequest(request, sink);
      case TransportKind::kRibbit:
        return PerformRibbitRequest(rest, sink);
      case TransportKind::kUnknown:
        break;
    }
    return kErrorInvalidParameter;
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
}

}  // namespace kestrine
