// kestrine-casc's command line: a command, its positional arguments and the
// options, which may come before or after them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "option_values.h"

namespace kestrine::explorer {

enum class Command { kList, kCat, kExtract, kInfo };

struct StorageOptions {
  uint32_t localeMask = 0;  // 0: the storage's own
  std::optional<std::string> productCode;
  std::optional<std::string> listFile;
  std::vector<DecryptionKey> keys;  // --key ones first, then the keys files'
  bool online = false;              // STORAGE's first segment is a cache folder
  bool onlineFallback = false;      // fetch manifests missing locally
};

struct CommandLine {
  Command command = Command::kList;
  std::string storage;
  std::string mask = "*";    // list (optional there) and extract
  std::string name;          // cat
  std::string outputFolder;  // extract
  StorageOptions options;
};

// What parsing came to: a command to run, or the exit code of a run that
// ends here (0 after --help or --version, 2 after a usage error, with the
// text written to standard output or standard error).
struct ParsedCommandLine {
  std::optional<CommandLine> commandLine;
  int exitCode = 0;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage lines, as written on a usage error.
extern const char* const kUsage;

}  // namespace kestrine::explorer
