#include "tests/explorer/explorer_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kestrine::test {

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Spawns the explorer with standard output to `outPath` and standard error
// to `errPath` (a file, or a terminal's device).
pid_t Spawn(const std::vector<std::string>& args, const std::string& outPath,
            const std::string& errPath, int errFlags) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), errFlags, 0644);
  std::vector<char*> argv{const_cast<char*>(KESTRINE_EXPLORER_PATH)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, KESTRINE_EXPLORER_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start kestrine-casc");
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Everything the terminal's other side receives until the last writer
// closes it (reads then fail with EIO).
std::string DrainTerminal(int master) {
  std::string text;
  char buffer[4096];
  pollfd poll{master, POLLIN, 0};
  while (::poll(&poll, 1, 60000) > 0) {
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

}  // namespace

ExplorerRun RunExplorer(const std::vector<std::string>& args, const fs::path& scratch) {
  const std::string outPath = (scratch / "explorer.out").string();
  const std::string errPath = (scratch / "explorer.err").string();
  ExplorerRun run;
  run.exitCode = Wait(Spawn(args, outPath, errPath, O_WRONLY | O_CREAT | O_TRUNC));
  run.out = ReadAll(outPath);
  run.err = ReadAll(errPath);
  fs::remove(outPath);
  fs::remove(errPath);
  return run;
}

ExplorerRun RunExplorerOnTerminal(const std::vector<std::string>& args, const fs::path& scratch) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  const std::string outPath = (scratch / "explorer.out").string();
  ExplorerRun run;
  const pid_t pid = Spawn(args, outPath, ptsname(master), O_RDWR | O_NOCTTY);
  run.err = DrainTerminal(master);
  run.exitCode = Wait(pid);
  close(master);
  run.out = ReadAll(outPath);
  fs::remove(outPath);
  return run;
}

}  // namespace kestrine::test
