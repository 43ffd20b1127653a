// Configuration parsers: any text parses into a fresh storage, as a build
// configuration of either key kind and as a CDN configuration.
#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/config_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrine;
  if (size > (1 << 16)) return 0;
  std::span<const uint8_t> text(data, size);

  TCascStorage build;
  build.cdnPath = "tpr/fuzz";
  (void)ParseBuildConfig(build, text);
  TCascStorage fullKeys;
  fullKeys.kind = BUILD_CONFIG;
  (void)ParseBuildConfig(fullKeys, text);
  TCascStorage cdn;
  (void)ParseCdnConfig(cdn, text);
  return 0;
}
