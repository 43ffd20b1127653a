#include "tests/tool/timed_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "tests/tool/test_util.h"

extern char** environ;

namespace kestrine::test {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::filesystem::path& errFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for `pid` until `limit` has passed, polling at short intervals (a
// run takes milliseconds); kills it then. False when it had to be killed.
bool WaitWithin(pid_t pid, std::chrono::milliseconds limit, int& status) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  useconds_t pause = 100;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return false;
    }
    ::usleep(pause);
    pause = std::min<useconds_t>(pause * 2, 2000);
  }
  return true;
}

}  // namespace

TimedRun RunTimed(const std::vector<std::string>& argv, const std::filesystem::path& errFile,
                  std::chrono::milliseconds limit) {
  TimedRun run;
  const pid_t pid = Spawn(argv, errFile);
  if (pid < 0) {
    run.err = "cannot start " + argv[0];
    return run;
  }
  int status = 0;
  run.timedOut = !WaitWithin(pid, limit, status);
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.err = ReadFile(errFile);
  return run;
}

}  // namespace kestrine::test
