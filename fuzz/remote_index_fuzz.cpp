// Remote archive index parser: any bytes either parse or are refused; every
// record carries the archive number above the storage's offset bits.
#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/remote_index.h"
#include "storage/storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 18)) return 0;
  constexpr uint32_t kArchive = 5;
  kestrine::TCascStorage storage;
  kestrine::RemoteArchiveMap map;
  if (kestrine::ParseRemoteArchiveIndex({data, size}, kArchive, map, &storage) != 0) return 0;
  if (map.BuildHashMap() != 0) return 0;
  for (const kestrine::RemoteArchiveRecord& record : map.records()) {
    if (record.location >> storage.archiveOffsetBits != kArchive) __builtin_trap();
    const kestrine::RemoteArchiveRecord* found = map.Find(record.key.data());
    if (found == nullptr || found->key != record.key) __builtin_trap();
  }
  return 0;
}
