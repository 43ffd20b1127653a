// The DOWNLOAD manifest: files known by EKey, with their download priority
// and the download tags (platform, locale, ...) that list them.
#pragma once

#include <cstdint>
#include <span>

#include "storage/storage.h"

namespace kestrine {

// Marks the entries of `manifest` known by EKey as downloadable (completing a
// partial EKey and an unknown encoded size), creates EKey-only entries for the
// others, fills storage.downloadTags and the entries' tag masks (the first 64
// tags only) and records storage.entriesAfterDownload. The key tables must
// exist. Returns 0, 8 (memory) or 11 (bad header).
[[nodiscard]] uint32_t ParseDownloadManifest(TCascStorage& storage,
                                             std::span<const uint8_t> manifest);

// The open's download step. A storage without a download manifest (2) or
// with an empty one loads fine. Returns 0 or the error number.
[[nodiscard]] uint32_t LoadDownloadManifest(TCascStorage& storage);

}  // namespace kestrine
