// Open files ("CASCFILE"): the caller's view of one stored file, built from
// one or more encoded files (spans) made of BLTE frames.
#pragma once

#include <cstdint>

#include "kestrine.h"
#include "storage/content_entry.h"
#include "storage/storage.h"

namespace kestrine {

// Open-file flags.
inline constexpr uint32_t FF_VERIFY_FRAMES = 0x1;
inline constexpr uint32_t FF_ONLINE = 0x2;
inline constexpr uint32_t FF_OWN_STREAMS = 0x4;

enum class ReadStrategy : uint32_t {
  kWholeFile = 1,  // all frames of each span in one pass (manifests)
  kFrames = 2,     // only the frames a request touches (the default)
};

struct TCascFile;

// Opens the file whose first span is `entry` (for internal callers: the
// manifests, the roots, opens by key). Returns 0 or the error number.
[[nodiscard]] uint32_t OpenFileByEntry(TCascStorage& storage, ContentEntry& entry, uint32_t flags,
                                       TCascFile*& file);
// Loads the spans' frame lists when needed and completes unknown sizes.
[[nodiscard]] uint32_t EnsureFileSpans(TCascFile& file);
void SetReadStrategy(TCascFile& file, ReadStrategy strategy);
// The file's decoded size; all ones when unknown.
uint64_t FileContentSize(const TCascFile& file);

}  // namespace kestrine
