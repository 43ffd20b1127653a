// The four commands of kestrine-casc. Each returns the process's exit code.
#pragma once

#include "command_line.h"

namespace kestrine::explorer {

int RunList(const CommandLine& line);
int RunCat(const CommandLine& line);
int RunExtract(const CommandLine& line);
int RunInfo(const CommandLine& line);

}  // namespace kestrine::explorer
