#include "online/ribbit_request.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "kestrine.h"
#include "online/mime.h"
#include "online/remote_name.h"
#include "online/response_progress.h"

namespace kestrine {

namespace {

constexpr int kResolveAttempts = 4;
constexpr auto kResolveRetryPause = std::chrono::milliseconds(100);
constexpr size_t kReceiveChunk = 32768;

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

struct AddressListFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressListFree>;

uint32_t Resolve(const RemoteName& name, AddressList& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  const std::string service = std::to_string(name.port);
  for (int attempt = 0;; ++attempt) {
    addrinfo* list = nullptr;
    const int result = getaddrinfo(name.host.c_str(), service.c_str(), &hints, &list);
    if (result == 0) {
      out.reset(list);
      return kErrorSuccess;
    }
    if (result == EAI_MEMORY) return kErrorNotEnoughMemory;
    if (result != EAI_AGAIN || attempt + 1 == kResolveAttempts) return kErrorHostNotFound;
    std::this_thread::sleep_for(kResolveRetryPause);
  }
}

// Waits for `events` on `fd`; false when the time ran out or polling failed.
bool WaitFor(int fd, short events, uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{fd, events, 0};
    const int ready = poll(&wait, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// A non-blocking connect to one address, bounded by the connect timeout.
std::unique_ptr<Socket> ConnectTo(const addrinfo& address, uint32_t timeoutMs) {
  auto socket = std::make_unique<Socket>(::socket(
      address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol));
  if (socket->fd() < 0) return nullptr;
  if (connect(socket->fd(), address.ai_addr, address.ai_addrlen) == 0) return socket;
  if (errno != EINPROGRESS || !WaitFor(socket->fd(), POLLOUT, timeoutMs)) return nullptr;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(socket->fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
    return nullptr;
  return socket;
}

uint32_t Connect(const RemoteName& name, uint32_t timeoutMs, std::unique_ptr<Socket>& out) {
  AddressList addresses;
  if (uint32_t error = Resolve(name, addresses)) return error;
  for (const addrinfo* address = addresses.get(); address != nullptr; address = address->ai_next) {
    out = ConnectTo(*address, timeoutMs);
    if (out) return kErrorSuccess;
  }
  return kErrorNetworkUnreachable;
}

uint32_t SendAll(const Socket& socket, std::string_view line, uint32_t stallMs) {
  while (!line.empty()) {
    const ssize_t sent = send(socket.fd(), line.data(), line.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      line.remove_prefix(static_cast<size_t>(sent));
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(socket.fd(), POLLOUT, stallMs)) return kErrorNetworkUnreachable;
    } else {
      return kErrorNetworkUnreachable;
    }
  }
  return kErrorSuccess;
}

// Reads until the peer closes (or resets) the connection or the response
// is complete; the progress follows every byte.
uint32_t ReceiveAnswer(const Socket& socket, uint32_t stallMs, std::vector<uint8_t>& answer,
                       ResponseProgress& progress) {
  std::vector<uint8_t> chunk(kReceiveChunk);
  while (!progress.complete()) {
    const ssize_t got = recv(socket.fd(), chunk.data(), chunk.size(), 0);
    if (got > 0) {
      answer.insert(answer.end(), chunk.begin(), chunk.begin() + got);
      progress.Update(answer);
      if (progress.tooLarge()) return kErrorBadFormat;
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(socket.fd(), POLLIN, stallMs)) return kErrorNetworkUnreachable;
    } else {
      break;  // closed, or reset: the answer is what arrived
    }
  }
  return kErrorSuccess;
}

// The data an answer stands for: an HTTP response's content when the
// service answered as a web server, else the MIME document's data.
uint32_t AnswerData(const ResponseProgress& progress, std::span<const uint8_t> answer,
                    std::vector<uint8_t>& data) {
  std::span<const uint8_t> content;
  if (uint32_t error = FinishedContent(progress, answer, content)) return error;
  if (progress.protocol() == ResponseProgress::Protocol::kHttp) {
    if (progress.status() != 200) return kErrorFileNotFound;
    data.assign(content.begin(), content.end());
    return kErrorSuccess;
  }
  return ParseRibbitAnswer(answer, data);
}

uint32_t Exchange(const RemoteName& name, std::vector<uint8_t>& data) {
  const TransferTimeouts timeouts = GetTransferTimeouts();
  std::unique_ptr<Socket> socket;
  if (uint32_t error = Connect(name, timeouts.connectMs, socket)) return error;
  std::string_view path = name.path;
  if (path.starts_with('/')) path.remove_prefix(1);
  if (uint32_t error = SendAll(*socket, std::string(path) + "\r\n", timeouts.stallMs)) return error;
  std::vector<uint8_t> answer;
  ResponseProgress progress;
  if (uint32_t error = ReceiveAnswer(*socket, timeouts.stallMs, answer, progress)) return error;
  return AnswerData(progress, answer, data);
}

}  // namespace

uint32_t PerformRibbitRequest(std::string_view rest, BodySink& sink) {
  RemoteName name;
  if (uint32_t error = SplitRemoteName(rest, kRibbitPort, name)) return error;
  std::vector<uint8_t> data;
  try {
    if (uint32_t error = Exchange(name, data)) return error;
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  if (uint32_t error = sink.Start(data.size())) return error;
  return sink.Append(data);
}

}  // namespace kestrine
