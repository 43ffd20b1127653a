// The load sequence of an open storage.
#pragma once

#include <cstdint>
#include <functional>

#include "kestrine.h"
#include "storage/build_file.h"
#include "storage/storage.h"

namespace kestrine {

// Data directory names, tried in this order below the installation root.
inline constexpr const char* kDataDirectoryNames[] = {"data\\casc", "data",       "Data",
                                                      "SC2Data",    "HeroesData", "BNTData"};

// Runs the load sequence on a fresh storage: build information and
// configuration files, key tables and the local index. `args` is complete
// (size 88). Returns 0 or the error number; the storage keeps what was
// loaded either way and the caller drops it on failure.
[[nodiscard]] uint32_t LoadStorage(TCascStorage& storage, StorageOpenArgs& args,
                                   const BuildFileInfo& buildFile, uint32_t initialFeatures);

// Tests only: called after the local index is loaded, before the open
// releases it. Pass an empty function to remove.
void SetLocalIndexHookForTesting(std::function<void(TCascStorage&)> hook);

}  // namespace kestrine
