// The root step of the storage open: the root file is read and handed to the
// loader its signature picks, the INSTALL manifest stands in when no loader
// accepts it, and the manifests are named in the tree.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "storage/storage.h"

namespace kestrine {

// Reads the decoded content of a stored file whole (`entry` may be null:
// 2). Returns 0 or the error number.
using StoredFileReader =
    std::function<uint32_t(TCascStorage& storage, ContentEntry* entry, std::vector<uint8_t>& out)>;

// Runs the root step with LoadManifestFile as the reader. Returns 0 or the
// error number; on success the storage has a root handler.
[[nodiscard]] uint32_t LoadRootStep(TCascStorage& storage);
[[nodiscard]] uint32_t LoadRootStep(TCascStorage& storage, const StoredFileReader& read);

// Hands the root to the loader its first four bytes pick; roots without a
// known signature go to the OW, plain-text and WoW loaders in turn, each
// trying the next when one answers 11.
[[nodiscard]] uint32_t DispatchRoot(TCascStorage& storage, std::span<const uint8_t> data,
                                    uint32_t localeMask);

// Enters "ENCODING", "DOWNLOAD", "INSTALL", "PATCH", "ROOT" and "SIZE" into
// the root handler for each of those manifests that the storage holds, and
// marks their entries EF_MANIFEST. Returns 0, or 8 when the tree could not
// take a name.
[[nodiscard]] uint32_t NameManifests(TCascStorage& storage);

}  // namespace kestrine
