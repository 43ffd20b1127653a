// kestrine-casc: looks inside CASC game storages (list, cat, extract, info).
#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "kestrine.hpp"

namespace {

int RunCommand(const kestrine::explorer::CommandLine& line) {
  using namespace kestrine::explorer;
  switch (line.command) {
    case Command::kList:
      return RunList(line);
    case Command::kCat:
      return RunCat(line);
    case Command::kExtract:
      return RunExtract(line);
    case Command::kInfo:
      return RunInfo(line);
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrine::explorer;
  const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
  if (!parsed.commandLine) return parsed.exitCode;
  try {
    return RunCommand(*parsed.commandLine);
  } catch (const kestrine::Error& failure) {
    // The commands report the failures they expect; any other is named here.
    std::fprintf(stderr, "kestrine-casc: %s\n", failure.what());
    return 1;
  }
}
