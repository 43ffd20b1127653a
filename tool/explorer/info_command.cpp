// info: what kind of storage it is, one "key: value" line each.
#include <cinttypes>
#include <cstdio>

#include "commands.h"
#include "storage_session.h"

namespace kestrine::explorer {

namespace {

const char* BuildFileKindName(uint32_t kind) {
  static const char* const kNames[] = {"none", ".build.db", ".build.info", "data\\.build.config",
                                       "versions"};
  return kind < std::size(kNames) ? kNames[kind] : "unknown";
}

const char* RootFormatName(uint32_t format) {
  static const char* const kNames[] = {"none", "plain text", "TVFS", "install manifest",
                                       "WoW",  "Diablo III"};
  return format < std::size(kNames) ? kNames[format] : "unknown";
}

const char* OrDash(const char* text) {
  return text[0] != '\0' ? text : "-";
}

void PrintInfo(const StorageInfo& info) {
  std::printf("build file kind: %s\n", BuildFileKindName(info.buildFileKind));
  std::printf("product: %s\n", OrDash(info.productCode));
  std::printf("build number: %u\n", info.buildNumber);
  std::printf("region: %s\n", OrDash(info.region));
  std::printf("locale mask: 0x%x\n", info.localeMask);
  std::printf("root format: %s\n", RootFormatName(info.rootFormat));
  std::printf("content entries: %" PRIu64 "\n", info.contentEntries);
  std::printf("named files: %" PRIu64 "\n", info.namedFiles);
  std::printf("local encoded files: %" PRIu64 "\n", info.localEncodedFiles);
  std::printf("total content size: %" PRIu64 "\n", info.totalContentSize);
  std::printf("online: %s\n", info.online ? "yes" : "no");
  if (info.online) std::printf("cache: %s\n", OrDash(info.cacheFolder));
}

}  // namespace

int RunInfo(const CommandLine& line) {
  const Storage storage = OpenCommandStorage(line);
  if (!storage) return 1;
  StorageInfo info{};
  try {
    info = storage.info();
  } catch (const Error& failure) {
    std::fprintf(stderr, "kestrine-casc: cannot describe %s, error %u\n", line.storage.c_str(),
                 failure.code());
    return 1;
  }
  PrintInfo(info);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace kestrine::explorer
