// Name normalisation and selection over arbitrary storage names.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tool/asset_selection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string storageName(reinterpret_cast<const char*>(data), size);
  std::string assetName = kestrine::NormalizeAssetName(storageName);
  // Normalising is idempotent apart from one more "sd/" that may surface.
  std::string again = kestrine::NormalizeAssetName(assetName);
  if (again != assetName && "sd/" + again != assetName) __builtin_trap();
  for (char c : assetName) {
    if ((c >= 'A' && c <= 'Z') || c == '\\') __builtin_trap();
  }
  bool kept = kestrine::IsClassicAsset(assetName);
  if (kept && assetName.find("..") != std::string::npos) __builtin_trap();
  return 0;
}
