// list: one line per search result, "name\tsize\tname type\tfile id\n", in
// the order the search gives them. Names are written as the storage holds
// them, bytes and all.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "storage_session.h"

namespace kestrine::explorer {

namespace {

void PrintResult(const SearchResult& result) {
  std::fwrite(result.fileName, 1, std::strlen(result.fileName), stdout);
  if (result.fileSize == ~uint64_t{0}) {
    std::fputs("\t-", stdout);
  } else {
    std::printf("\t%" PRIu64, result.fileSize);
  }
  std::printf("\t%u\t", result.nameType);
  if (result.fileDataId == 0xFFFFFFFF) {
    std::fputs("-\n", stdout);
  } else {
    std::printf("%u\n", result.fileDataId);
  }
}

}  // namespace

int RunList(const CommandLine& line) {
  const Storage storage = OpenCommandStorage(line);
  if (!storage) return 1;
  const char* listFile = line.options.listFile ? line.options.listFile->c_str() : nullptr;
  // Nothing matching is an empty search: no lines. Any other failure is the
  // storage's.
  Search search;
  try {
    search = storage.search(line.mask, listFile);
  } catch (const Error& failure) {
    std::fprintf(stderr, "kestrine-casc: cannot search %s, error %u\n", line.mask.c_str(),
                 failure.code());
    return 1;
  }
  for (const SearchResult& result : search) PrintResult(result);
  if (std::fflush(stdout) != 0) {
    std::perror("kestrine-casc: standard output");
    return 1;
  }
  return 0;
}

}  // namespace kestrine::explorer
