// The import: `kestrine INSTALL_DIRECTORY OUTPUT_BUNDLE` from storage to bundle.
#pragma once

#include <cstdint>
#include <cstdio>

#include "tool/storage_api.h"

namespace kestrine {

inline constexpr uint64_t kMaxAssetSize = 0x4000000;   // 64 MiB, inclusive
inline constexpr uint64_t kMaxTotalSize = 0x20000000;  // 512 MiB, inclusive
inline constexpr size_t kProgressInterval = 100;
inline constexpr uint32_t kImportLocaleMask = 0x2;  // enUS

// Opens the storage at `installDirectory`, selects the classic assets and
// writes them into the bundle at `outputPath`. Prints progress and the summary
// on `out` and the one failure line on `err`. Returns the exit code: 0 on
// success, 1 on any failure; on failure an existing bundle stays unchanged.
int ImportClassicAssets(StorageApi& api, const char* installDirectory, const char* outputPath,
                        std::FILE* out, std::FILE* err);

// The same over this library's storage reader, stdout and stderr.
int ImportClassicAssets(const char* installDirectory, const char* outputPath);

}  // namespace kestrine
