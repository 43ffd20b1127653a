// The content entry a TVFS file's span stands for.
//
// A span names its encoded file by the EKey of its container-file table
// entry (9 or 16 bytes) and gives its content size. Storages marked by
// "data\.build.config" have no index files: there the EKey's bytes 9 to 15
// are the storage offset itself (56 bits big-endian: archive number above
// the 40 offset bits), and the table entry gives the encoded size.
#pragma once

#include <cstdint>
#include <span>

#include "storage/storage.h"

namespace kestrine {

// The record for one span: EKey (zero-padded behind a 9-byte key), content
// size = `spanSize`, span count 1; location and encoded size unknown, no
// flags. For a BUILD_CONFIG storage: storage offset from EKey bytes 9 to 15,
// encoded size = `encodedSize`, flags EF_LOCAL | EF_EKEY.
ContentEntry MakeSpanRecord(const TCascStorage& storage, std::span<const uint8_t> ekey,
                            uint32_t spanSize, uint32_t encodedSize);

// Appends the entry for a span whose EKey the storage does not list. It keeps
// the record's flags (so a BUILD_CONFIG file stays located) and adds
// EF_EKEY, and EF_EKEY_PARTIAL for a 9-byte EKey; other storages take its
// location and encoded size from the local index. The entry is entered in
// the EKey map while that has room. Null when the entry array is full.
ContentEntry* AppendSpanEntry(TCascStorage& storage, const ContentEntry& record, size_t ekeySize);

}  // namespace kestrine
