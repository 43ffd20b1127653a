// Runs a program as a child process with a time limit: a run that outlasts
// it is killed, so that a hang shows up as a result rather than a stuck test.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrine::test {

struct TimedRun {
  int exitCode = -1;      // when the program exited
  int signal = 0;         // when a signal ended it
  bool timedOut = false;  // killed at the time limit
  std::string err;        // its standard error
};

// Runs `argv` (the program first) with standard output discarded and
// standard error written to `errFile`, then read back.
TimedRun RunTimed(const std::vector<std::string>& argv, const std::filesystem::path& errFile,
                  std::chrono::milliseconds limit);

}  // namespace kestrine::test
