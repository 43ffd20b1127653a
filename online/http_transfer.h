// One "http:" request as a libcurl easy handle, with the response checks the
// transfer makes itself (libcurl takes any status and any length):
//   - only the final response counts (after redirects and 1xx answers);
//   - its status must be 200, or 206 for a range request, else 2, and no byte
//     of another status's body reaches the sink;
//   - a Content-Length of 0 or above kMaxResponseSize is refused (11);
//   - a body read to the close must end in CR LF, which the sink drops;
//   - a range answered with 206 must start at the requested offset and hold
//     exactly the requested length; one answered with 200 (the server ignored
//     the range) gives the sink just the requested bytes and stops there.
#pragma once

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "online/connection_share.h"
#include "online/response_progress.h"
#include "online/transfer.h"

namespace kestrine {

class HttpTransfer {
 public:
  // Builds the easy handle for `request`. Returns 0, 87 (no host) or 8.
  [[nodiscard]] static uint32_t Create(const TransferRequest& request, BodySink& sink,
                                       std::unique_ptr<HttpTransfer>& out);
  ~HttpTransfer();
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  CURL* handle() const { return easy_; }
  // The request's number once libcurl ended it with `code`.
  [[nodiscard]] uint32_t Finish(CURLcode code);

 private:
  // How the body of the final response is taken.
  enum class BodyMode { kExact, kChunked, kToClose, kSlice };

  HttpTransfer(const TransferRequest& request, BodySink& sink);
  uint32_t Configure();

  static size_t OnHeader(char* data, size_t size, size_t count, void* user);
  static size_t OnBody(char* data, size_t size, size_t count, void* user);
  static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  bool TakeHeaderLine(std::string_view line);
  bool TakeBody(std::span<const uint8_t> bytes);
  // Decides on the final response's header; false when the transfer must end.
  bool Judge();
  uint32_t JudgeHeader();
  uint32_t CheckCompleteBody();

  TransferRequest request_;
  BodySink& sink_;
  // Declared before the easy handle: the handle goes first.
  std::shared_ptr<ConnectionShare> share_;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;

  // libcurl's low-speed limit averages over seconds, so a server that sent a
  // few bytes and then went silent would keep the request alive for longer
  // than the stall time; the time of the last byte is watched here too.
  std::chrono::milliseconds stallTime_;
  std::optional<std::chrono::steady_clock::time_point> lastByte_;
  bool stalled_ = false;

  std::string headerBlock_;
  bool judged_ = false;
  uint32_t error_ = 0;      // set by a callback that ended the transfer
  bool sliceDone_ = false;  // a 200 answer to a range gave all requested bytes
  BodyMode mode_ = BodyMode::kExact;
  HttpHeaderFacts facts_;
  uint64_t received_ = 0;   // body bytes of the final response
  uint64_t delivered_ = 0;  // bytes given to the sink
  std::array<uint8_t, 2> lastTwo_{};
};

// Maps a libcurl failure to the transfer's numbers.
uint32_t CurlErrorNumber(CURLcode code);

}  // namespace kestrine
