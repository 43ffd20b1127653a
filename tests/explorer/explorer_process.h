// Runs the kestrine-casc executable as a child process and collects what it
// wrote: standard output, standard error (through a file, or through a
// pseudo-terminal to see what a user at a terminal sees) and the exit code.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kestrine::test {

struct ExplorerRun {
  int exitCode = -1;  // -1 when a signal ended it
  std::string out;
  std::string err;
};

// `scratch` receives the captured output files.
ExplorerRun RunExplorer(const std::vector<std::string>& args, const std::filesystem::path& scratch);

// The same with standard error on a pseudo-terminal.
ExplorerRun RunExplorerOnTerminal(const std::vector<std::string>& args,
                                  const std::filesystem::path& scratch);

}  // namespace kestrine::test
