// Requests to the patch service and the content servers of online storages.
//
// A request names its server and path as a stream name does:
// "http://host[:port]/path" (port 80 when absent) or
// "ribbit://host[:port]/path" (port 1119). "http:" goes through libcurl;
// "ribbit:" is a plain TCP exchange (the path line out, the answer read to
// the close, a MIME document whose data is the body).
//
// Whatever the transport, a request ends with one of these numbers:
//   0     the whole body reached the sink
//   2     an HTTP status other than 200 (206 for a range request), also
//         after more than five redirects
//   8     out of memory
//   11    a malformed or incomplete response: no header end, a body shorter
//         than its Content-Length, an empty body (also Content-Length: 0), a
//         body read to the close that does not end in CR LF, an expected
//         size above 0x40000000 bytes, a connection closed or reset while
//         the response was still coming
//   38, 50, 1003   a Ribbit answer whose MIME document has no usable data
//   87    a URL without a host, with a bad port or an unknown scheme
//   5035  no connection: refused, no address connects, the connect or the
//         wait for the next byte timed out, or the request could not be sent
//   11001 the host name does not resolve
//   or the sink's own error (112 when the cache file cannot be written).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kestrine.h"

namespace kestrine {

// A response whose expected total passes this is abandoned (11).
inline constexpr uint64_t kMaxResponseSize = 0x40000000;

// How long a request waits for its connection, and for the next byte once
// connected (a stalled server ends the request with 5035).
struct TransferTimeouts {
  uint32_t connectMs = 30000;
  uint32_t stallMs = 30000;
};
// Process-wide; the explorer and the tests set them, requests read them.
TransferTimeouts GetTransferTimeouts();
void SetTransferTimeouts(const TransferTimeouts& timeouts);

// Receives a response body as it arrives.
class BodySink {
 public:
  virtual ~BodySink() = default;
  // Before the first byte, with the body's length when the response gave one.
  [[nodiscard]] virtual uint32_t Start(std::optional<uint64_t> /*length*/) { return 0; }
  [[nodiscard]] virtual uint32_t Append(std::span<const uint8_t> bytes) = 0;
  // A body read to the connection's close ends in CR LF that is not content;
  // the sink forgets its last `count` bytes.
  [[nodiscard]] virtual uint32_t DropTail(uint64_t count) = 0;
  // Forgets everything received, before a retry from another host.
  [[nodiscard]] virtual uint32_t Reset() = 0;
};

// A body collected in memory.
class MemorySink final : public BodySink {
 public:
  uint32_t Append(std::span<const uint8_t> bytes) override;
  uint32_t DropTail(uint64_t count) override;
  uint32_t Reset() override;
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

struct ByteRange {
  uint64_t offset = 0;
  uint64_t length = 0;  // at least 1
};

struct TransferRequest {
  std::string url;                 // "http://..." or "ribbit://..."
  std::optional<ByteRange> range;  // "http:" only: just these bytes of the file
};

// Performs one request on the calling thread, the body going to `sink`.
// Returns 0 or one of the numbers above.
[[nodiscard]] uint32_t PerformRequest(const TransferRequest& request, BodySink& sink);

// Several requests at once, all driven by the calling thread: at most
// `maxInFlight` are running, the others wait in the order they were added.
class TransferBatch {
 public:
  using Done = std::function<void(uint32_t error)>;

  explicit TransferBatch(size_t maxInFlight = 16);
  ~TransferBatch();
  TransferBatch(const TransferBatch&) = delete;
  TransferBatch& operator=(const TransferBatch&) = delete;

  // Queues a request. `done` runs on the calling thread, inside Run(), when
  // the request ended (0 or its error); it may Add() more requests or Stop().
  // The sink must live until then.
  void Add(TransferRequest request, BodySink& sink, Done done);
  // Runs until no request is waiting or running, or Stop() was called.
  void Run();
  // Abandons the waiting and running requests; their `done` is not called.
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Open online storages are counted: connections to the content servers are
// kept for reuse while at least one is open, and closed after the last.
void OnlineStorageOpened();
void OnlineStorageClosed();

}  // namespace kestrine
