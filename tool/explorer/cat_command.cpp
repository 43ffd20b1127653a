// cat: a file's decoded content on standard output.
#include <cstdio>

#include "commands.h"
#include "content_copy.h"
#include "storage_session.h"

namespace kestrine::explorer {

int RunCat(const CommandLine& line) {
  const Storage storage = OpenCommandStorage(line);
  if (!storage) return 1;
  const CopyResult copy = CopyFileContent(storage, line.name.c_str(), [](auto bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
  });
  if (copy.error != kErrorSuccess) {
    std::fflush(stdout);
    std::fprintf(stderr, "kestrine-casc: cannot read %s, error %u\n", line.name.c_str(),
                 copy.error);
    return 1;
  }
  if (copy.sinkFailed || std::fflush(stdout) != 0) {
    std::perror("kestrine-casc: standard output");
    return 1;
  }
  return 0;
}

}  // namespace kestrine::explorer
