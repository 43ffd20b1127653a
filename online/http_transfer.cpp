#include "online/http_transfer.h"

#include <algorithm>
#include <new>

#include "kestrine.h"
#include "online/remote_name.h"

namespace kestrine {

namespace {

constexpr long kMaxRedirects = 5;
// A header block longer than this is not a header libcurl should keep
// handing over.
constexpr size_t kMaxHeaderBlock = 0x10000;
constexpr uint32_t kStatusOk = 200;
constexpr uint32_t kStatusPartial = 206;

bool IsRedirect(uint32_t status) {
  return status >= 300 && status < 400;
}

long StallSeconds(uint32_t stallMs) {
  // libcurl measures low speed in whole seconds.
  return std::max<long>(1, static_cast<long>((static_cast<uint64_t>(stallMs) + 999) / 1000));
}

}  // namespace

uint32_t CurlErrorNumber(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return kErrorSuccess;
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
      return kErrorNetworkUnreachable;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kErrorHostNotFound;
    case CURLE_OUT_OF_MEMORY:
      return kErrorNotEnoughMemory;
    case CURLE_URL_MALFORMAT:
      return kErrorInvalidParameter;
    case CURLE_TOO_MANY_REDIRECTS:
      return kErrorFileNotFound;
    default:
      // Partial bodies, resets and closes mid-response, replies that are not
      // HTTP, broken chunk framing.
      return kErrorBadFormat;
  }
}

HttpTransfer::HttpTransfer(const TransferRequest& request, BodySink& sink)
    : request_(request),
      sink_(sink),
      share_(CurrentConnectionShare()),
      stallTime_(GetTransferTimeouts().stallMs) {}

HttpTransfer::~HttpTransfer() {
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
  curl_slist_free_all(headers_);
}

uint32_t HttpTransfer::Create(const TransferRequest& request, BodySink& sink,
                              std::unique_ptr<HttpTransfer>& out) {
  // libcurl would look up an empty host name; a URL without one is refused.
  // The rest of the URL (ports, IPv6 literals in brackets) is libcurl's.
  std::string_view rest;
  if (SchemeOf(request.url, rest).empty() || rest.empty() || rest.front() == '/' ||
      rest.front() == ':') {
    return kErrorInvalidParameter;
  }
  EnsureCurlStarted();
  std::unique_ptr<HttpTransfer> transfer(new HttpTransfer(request, sink));
  if (uint32_t error = transfer->Configure()) return error;
  out = std::move(transfer);
  return kErrorSuccess;
}

uint32_t HttpTransfer::Configure() {
  easy_ = curl_easy_init();
  if (easy_ == nullptr) return kErrorNotEnoughMemory;
  // libcurl adds "Accept: */*" unless told to leave it out.
  for (const char* line : {"Accept:", "Connection: Keep-Alive"}) {
    curl_slist* more = curl_slist_append(headers_, line);
    if (more == nullptr) return kErrorNotEnoughMemory;
    headers_ = more;
  }
  const TransferTimeouts timeouts = GetTransferTimeouts();
  bool ok = curl_easy_setopt(easy_, CURLOPT_URL, request_.url.c_str()) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connectMs)) ==
        CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, StallSeconds(timeouts.stallMs)) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, OnProgress) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, OnHeader) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, OnBody) == CURLE_OK;
  ok &= curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this) == CURLE_OK;
  if (share_ && share_->handle() != nullptr) {
    ok &= curl_easy_setopt(easy_, CURLOPT_SHARE, share_->handle()) == CURLE_OK;
  }
  if (request_.range) {
    const ByteRange& range = *request_.range;
    if (range.length == 0 || range.length - 1 > UINT64_MAX - range.offset)
      return kErrorInvalidParameter;
    const std::string bytes =
        std::to_string(range.offset) + "-" + std::to_string(range.offset + range.length - 1);
    ok &= curl_easy_setopt(easy_, CURLOPT_RANGE, bytes.c_str()) == CURLE_OK;
  }
  return ok ? kErrorSuccess : kErrorNotEnoughMemory;
}

size_t HttpTransfer::OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<HttpTransfer*>(user);
  const size_t length = size * count;
  try {
    return transfer->TakeHeaderLine(std::string_view(data, length)) ? length : 0;
  } catch (const std::bad_alloc&) {
    transfer->error_ = kErrorNotEnoughMemory;
    return 0;
  }
}

size_t HttpTransfer::OnBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<HttpTransfer*>(user);
  const size_t length = size * count;
  try {
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(data), length);
    return transfer->TakeBody(bytes) ? length : 0;
  } catch (const std::bad_alloc&) {
    transfer->error_ = kErrorNotEnoughMemory;
    return 0;
  }
}

int HttpTransfer::OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* transfer = static_cast<HttpTransfer*>(user);
  // Before the first byte libcurl's own low-speed limit does the watching.
  if (!transfer->lastByte_) return 0;
  transfer->stalled_ =
      std::chrono::steady_clock::now() - *transfer->lastByte_ > transfer->stallTime_;
  return transfer->stalled_ ? 1 : 0;
}

bool HttpTransfer::TakeHeaderLine(std::string_view line) {
  lastByte_ = std::chrono::steady_clock::now();
  // Each response (a redirect, a 1xx answer, the final one) starts with its
  // status line; only the last block is judged.
  if (line.starts_with("HTTP/")) {
    headerBlock_.clear();
    judged_ = false;
  }
  // Trailer fields behind a chunked body change nothing.
  if (judged_) return true;
  if (headerBlock_.size() + line.size() > kMaxHeaderBlock) {
    error_ = kErrorBadFormat;
    return false;
  }
  headerBlock_ += line;
  if (line != "\r\n" && line != "\n") return true;
  facts_ = ReadHttpHeader(headerBlock_);
  // A redirect is followed by libcurl and an interim answer is followed by
  // the real one; the judgement waits for their body or the end.
  if (facts_.status < kStatusOk || IsRedirect(facts_.status)) return true;
  return Judge();
}

bool HttpTransfer::Judge() {
  judged_ = true;
  error_ = JudgeHeader();
  if (error_ == kErrorSuccess) {
    std::optional<uint64_t> length = facts_.contentLength;
    if (request_.range) length = request_.range->length;
    error_ = sink_.Start(mode_ == BodyMode::kExact || request_.range ? length : std::nullopt);
  }
  return error_ == kErrorSuccess;
}

uint32_t HttpTransfer::JudgeHeader() {
  const bool ranged = request_.range.has_value();
  if (facts_.status != kStatusOk && !(ranged && facts_.status == kStatusPartial)) {
    return kErrorFileNotFound;
  }
  if (facts_.contentLength &&
      (*facts_.contentLength == 0 || *facts_.contentLength > kMaxResponseSize)) {
    return kErrorBadFormat;
  }
  if (facts_.status == kStatusPartial) {
    if (facts_.rangeStart != request_.range->offset) return kErrorBadFormat;
    if (facts_.contentLength && *facts_.contentLength != request_.range->length)
      return kErrorBadFormat;
  }
  if (ranged && facts_.status == kStatusOk) {
    mode_ = BodyMode::kSlice;
  } else if (facts_.contentLength) {
    mode_ = BodyMode::kExact;
  } else {
    mode_ = facts_.chunked ? BodyMode::kChunked : BodyMode::kToClose;
  }
  return kErrorSuccess;
}

bool HttpTransfer::TakeBody(std::span<const uint8_t> bytes) {
  lastByte_ = std::chrono::steady_clock::now();
  if (!judged_ && !Judge()) return false;
  const uint64_t before = received_;
  received_ += bytes.size();
  if (received_ > kMaxResponseSize) {
    error_ = kErrorBadFormat;
    return false;
  }
  if (mode_ == BodyMode::kSlice) {
    // Only [offset, offset + length) of the whole file is wanted.
    const ByteRange& range = *request_.range;
    const uint64_t from = std::max(before, range.offset);
    const uint64_t to = std::min(received_, range.offset + range.length);
    if (from < to) {
      error_ = sink_.Append(
          bytes.subspan(static_cast<size_t>(from - before), static_cast<size_t>(to - from)));
      delivered_ += to - from;
    }
    if (error_ != kErrorSuccess) return false;
    sliceDone_ = delivered_ == range.length;
    return !sliceDone_;
  }
  for (uint8_t byte : bytes) lastTwo_ = {lastTwo_[1], byte};
  error_ = sink_.Append(bytes);
  delivered_ += bytes.size();
  return error_ == kErrorSuccess;
}

uint32_t HttpTransfer::Finish(CURLcode code) {
  if (error_ != kErrorSuccess) return error_;
  if (sliceDone_) return kErrorSuccess;
  if (stalled_) return kErrorNetworkUnreachable;
  if (code != CURLE_OK) return CurlErrorNumber(code);
  if (!judged_) {
    // A final response without a body, or a redirect libcurl did not follow.
    if (!Judge()) return error_;
  }
  return CheckCompleteBody();
}

uint32_t HttpTransfer::CheckCompleteBody() {
  if (facts_.status == kStatusPartial && received_ != request_.range->length)
    return kErrorBadFormat;
  switch (mode_) {
    case BodyMode::kExact:
      return received_ == facts_.contentLength ? kErrorSuccess : kErrorBadFormat;
    case BodyMode::kSlice:
      return kErrorBadFormat;  // the body ended before the requested bytes
    case BodyMode::kChunked:
      return received_ != 0 ? kErrorSuccess : kErrorBadFormat;
    case BodyMode::kToClose:
      if (received_ <= 2 || lastTwo_[0] != '\r' || lastTwo_[1] != '\n') return kErrorBadFormat;
      return sink_.DropTail(2);
  }
  return kErrorBadFormat;
}

}  // namespace kestrine
