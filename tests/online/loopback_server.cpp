#include "tests/online/loopback_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kestrine::test {

namespace {

constexpr int kStartMilliseconds = 10000;

// The first line the child writes on `fd`, waiting at most the start time.
std::string ReadFirstLine(int fd) {
  std::string line;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMilliseconds);
  while (line.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd wait{fd, POLLIN, 0};
    int ready = poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[256];
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    line.append(buffer, static_cast<size_t>(got));
  }
  return line.substr(0, line.find('\n'));
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

}  // namespace

LoopbackServer::LoopbackServer(const std::string& script, const std::vector<std::string>& args)
    : logPath_(scratch_ / "requests.log") {
  std::ofstream(logPath_).close();
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);

  std::vector<std::string> words{
      "python3", std::string(KESTRINE_SOURCE_DIR) + "/tests/online/" + script,
      "--port",  "0",
      "--log",   logPath_};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    throw std::runtime_error("cannot start python3");
  }
  std::string line = ReadFirstLine(pipeFds[0]);
  close(pipeFds[0]);
  if (line.rfind("PORT ", 0) != 0) {
    Stop(pid_);
    throw std::runtime_error(script + " did not report its port: " + line);
  }
  port_ = static_cast<uint16_t>(std::stoul(line.substr(5)));
}

LoopbackServer::~LoopbackServer() {
  Stop(pid_);
}

std::string LoopbackServer::HostPort() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string LoopbackServer::Url(std::string_view scheme, std::string_view path) const {
  return std::string(scheme) + "://" + HostPort() + std::string(path);
}

std::vector<std::string> LoopbackServer::Requests() const {
  std::vector<std::string> lines;
  std::ifstream in(logPath_);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void LoopbackServer::ClearRequests() {
  std::ofstream(logPath_, std::ios::trunc).close();
}

}  // namespace kestrine::test
