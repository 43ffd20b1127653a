// Small helpers of the online transfer tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "online/transfer.h"

namespace kestrine::test {

// A request's number and the body its sink holds.
struct Fetched {
  uint32_t error = 0;
  std::string body;
};
Fetched Fetch(const std::string& url, std::optional<ByteRange> range = std::nullopt);

// A loopback port nobody listens on: bound once, then released.
uint16_t UnusedPort();

// Sets the transfer timeouts for one test and restores them after.
class ScopedTimeouts {
 public:
  explicit ScopedTimeouts(TransferTimeouts timeouts) : old_(GetTransferTimeouts()) {
    SetTransferTimeouts(timeouts);
  }
  ~ScopedTimeouts() { SetTransferTimeouts(old_); }
  ScopedTimeouts(const ScopedTimeouts&) = delete;
  ScopedTimeouts& operator=(const ScopedTimeouts&) = delete;

 private:
  TransferTimeouts old_;
};

// Milliseconds taken by `run`.
template <typename Run>
int64_t MillisecondsOf(Run&& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

// One line of the scripted server's log: "<client port> <kind> <path> active=<n>".
struct LoggedRequest {
  uint16_t clientPort = 0;
  std::string kind;
  std::string path;
  int active = 0;
};
std::vector<LoggedRequest> ParseLog(const std::vector<std::string>& lines);

}  // namespace kestrine::test
