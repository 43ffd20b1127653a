// A server of the tests on 127.0.0.1: a Python script from tests/online/,
// started on a free port and stopped when the object goes.
//
// The script is run as `python3 SCRIPT --port 0 --log LOGFILE ARGS...`. It
// binds 127.0.0.1 on a port of its choice, prints "PORT <n>" as its first
// line on standard output once it accepts connections, and appends one line
// per request it received to LOGFILE (flushed at once), so that a test can
// count what reached the server.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "testkit/build_files.h"

namespace kestrine::test {

class LoopbackServer {
 public:
  // `script` is a file name in tests/online/. Throws when the server does
  // not report its port within ten seconds.
  LoopbackServer(const std::string& script, const std::vector<std::string>& args);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t port() const { return port_; }
  // "127.0.0.1:<port>".
  std::string HostPort() const;
  // "<scheme>://127.0.0.1:<port>" followed by `path`.
  std::string Url(std::string_view scheme, std::string_view path = "") const;
  // The lines the server logged so far, one per request.
  std::vector<std::string> Requests() const;
  // Forgets the requests logged so far.
  void ClearRequests();

 private:
  testkit::TempFolder scratch_;
  std::string logPath_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

}  // namespace kestrine::test
