#include "tests/online/transfer_helpers.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

namespace kestrine::test {

Fetched Fetch(const std::string& url, std::optional<ByteRange> range) {
  MemorySink sink;
  Fetched fetched;
  fetched.error = PerformRequest(TransferRequest{url, range}, sink);
  fetched.body.assign(sink.bytes().begin(), sink.bytes().end());
  return fetched;
}

uint16_t UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("no free port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

std::vector<LoggedRequest> ParseLog(const std::vector<std::string>& lines) {
  std::vector<LoggedRequest> requests;
  for (const std::string& line : lines) {
    std::istringstream in(line);
    LoggedRequest request;
    std::string active;
    in >> request.clientPort >> request.kind >> request.path >> active;
    if (active.starts_with("active=")) request.active = std::stoi(active.substr(7));
    requests.push_back(request);
  }
  return requests;
}

}  // namespace kestrine::test
