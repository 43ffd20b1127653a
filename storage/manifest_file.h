// Reading a whole stored file during the open: the manifests and the root.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/storage.h"

namespace kestrine {

// Reads the decoded content of `entry` into `out` (replaced), verifying every
// frame; an online storage may fetch it. The size is the entry's content size
// or, when unknown, the one the frame headers give. Returns 0 or the error
// number: 2 for a null entry, 8 when the buffer cannot be allocated, 1392 when
// the size stays unknown, exceeds 32 bits, the read comes up short or the
// content's MD5 differs from the entry's CKey (checked for every single-span
// file whose CKey is known); a failed open, span load or read passes its own.
// On failure `out` is left empty.
[[nodiscard]] uint32_t LoadManifestFile(TCascStorage& storage, ContentEntry* entry,
                                        std::vector<uint8_t>& out);

// Runs `attempt`; when it fails and the storage may fetch missing manifests
// (STF_ONLINE_FALLBACK), runs it once more as an online storage.
template <typename Attempt>
[[nodiscard]] uint32_t WithOnlineFallback(TCascStorage& storage, Attempt attempt) {
  uint32_t result = attempt();
  if (result == kErrorSuccess || (storage.features & STF_ONLINE_FALLBACK) == 0) return result;
  const uint32_t wasOnline = storage.features & STF_ONLINE;
  storage.features |= STF_ONLINE;
  result = attempt();
  storage.features = (storage.features & ~STF_ONLINE) | wasOnline;
  return result;
}

}  // namespace kestrine
