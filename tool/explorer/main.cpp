// kestrine-casc: looks inside CASC game storages (list, cat, extract, info).
#include "command_line.h"
#include "commands.h"

int main(int argc, char** argv) {
  using namespace kestrine::explorer;
  const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
  if (!parsed.commandLine) return parsed.exitCode;
  const CommandLine& line = *parsed.commandLine;
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
