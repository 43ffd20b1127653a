// Several requests driven by one libcurl multi handle on the calling thread.
// Ribbit requests have no multi interface and run to their end when their
// turn comes.
#include <curl/curl.h>

#include <algorithm>
#include <deque>
#include <new>
#include <vector>

#include "kestrine.h"
#include "online/http_transfer.h"
#include "online/ribbit_request.h"
#include "online/transfer.h"
#include "online/transfer_dispatch.h"

namespace kestrine {

namespace {

constexpr int kPollMilliseconds = 1000;

struct Waiting {
  TransferRequest request;
  BodySink* sink;
  TransferBatch::Done done;
};

struct Running {
  std::unique_ptr<HttpTransfer> transfer;
  TransferBatch::Done done;
};

}  // namespace

struct TransferBatch::State {
  size_t maxInFlight = 1;
  CURLM* multi = nullptr;
  std::deque<Waiting> waiting;
  std::vector<Running> running;
  bool stopped = false;

  ~State() {
    DropRunning();
    if (multi != nullptr) curl_multi_cleanup(multi);
  }

  void DropRunning() {
    for (Running& entry : running) curl_multi_remove_handle(multi, entry.transfer->handle());
    running.clear();
  }

  // Starts waiting requests in their order while there is room.
  void StartWaiting() {
    while (!stopped && running.size() < maxInFlight && !waiting.empty()) {
      Waiting next = std::move(waiting.front());
      waiting.pop_front();
      Start(next);
    }
  }

  void Start(Waiting& next) {
    std::string_view rest;
    const TransportKind kind = KindOf(next.request, rest);
    if (kind == TransportKind::kRibbit) return next.done(PerformRibbitRequest(rest, *next.sink));
    if (kind == TransportKind::kUnknown) return next.done(kErrorInvalidParameter);
    std::unique_ptr<HttpTransfer> transfer;
    uint32_t error = HttpTransfer::Create(next.request, *next.sink, transfer);
    if (error == kErrorSuccess && curl_multi_add_handle(multi, transfer->handle()) != CURLM_OK) {
      error = kErrorNotEnoughMemory;
    }
    if (error != kErrorSuccess) return next.done(error);
    running.push_back(Running{std::move(transfer), std::move(next.done)});
  }

  // Hands the ended requests to their `done`; true when any ended.
  bool CollectEnded() {
    bool any = false;
    int left = 0;
    while (!stopped) {
      CURLMsg* message = curl_multi_info_read(multi, &left);
      if (message == nullptr) break;
      if (message->msg != CURLMSG_DONE) continue;
      auto entry = std::find_if(running.begin(), running.end(), [&](const Running& r) {
        return r.transfer->handle() == message->easy_handle;
      });
      if (entry == running.end()) continue;
      const CURLcode code = message->data.result;
      curl_multi_remove_handle(multi, entry->transfer->handle());
      Running ended = std::move(*entry);
      running.erase(entry);
      const uint32_t error = ended.transfer->Finish(code);
      ended.transfer.reset();
      ended.done(error);
      any = true;
    }
    return any;
  }
};

TransferBatch::TransferBatch(size_t maxInFlight) : state_(std::make_unique<State>()) {
  EnsureCurlStarted();
  state_->maxInFlight = std::max<size_t>(1, maxInFlight);
  state_->multi = curl_multi_init();
  if (state_->multi == nullptr) throw std::bad_alloc();
}

TransferBatch::~TransferBatch() = default;

void TransferBatch::Add(TransferRequest request, BodySink& sink, Done done) {
  state_->waiting.push_back(Waiting{std::move(request), &sink, std::move(done)});
}

void TransferBatch::Run() {
  State& state = *state_;
  state.stopped = false;
  while (!state.stopped) {
    state.StartWaiting();
    if (state.stopped || state.running.empty()) {
      if (state.waiting.empty()) break;
      continue;
    }
    int active = 0;
    curl_multi_perform(state.multi, &active);
    if (state.CollectEnded() || state.stopped) continue;
    curl_multi_poll(state.multi, nullptr, 0, kPollMilliseconds, nullptr);
  }
}

void TransferBatch::Stop() {
  state_->stopped = true;
  state_->waiting.clear();
  state_->DropRunning();
}

}  // namespace kestrine
