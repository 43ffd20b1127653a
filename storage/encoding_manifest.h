// The ENCODING manifest: for every CKey of the build, its content size and
// the EKeys of its encoded forms. Loading it creates most content entries.
#pragma once

#include <cstdint>
#include <span>

#include "storage/storage.h"

namespace kestrine {

// Creates one content entry per CKey-page entry of `manifest` (CKey, first
// EKey, content size), locates each in the local index and enters it into
// both key maps; entries beyond the array's capacity are skipped. The key
// tables must exist. Returns 0, 11 (bad header) or 1392 (a page outside the
// file or not starting with the page table's key).
[[nodiscard]] uint32_t ParseEncodingManifest(TCascStorage& storage,
                                             std::span<const uint8_t> manifest);

// The open's encoding step: locates, reads and parses the manifest named by
// the build configuration (retrying once online when the storage allows it),
// then inserts the configuration's other manifest entries. Returns 0 or the
// error number (2 when the manifest cannot be found, 1223 cancelled).
[[nodiscard]] uint32_t LoadEncodingManifest(TCascStorage& storage);

}  // namespace kestrine
