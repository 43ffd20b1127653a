// Local index file parser over every layout: the first input byte picks the
// bucket, the rest is the file. The map must never fill, and an entry found
// through it must come back located.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "storage/content_entry.h"
#include "storage/index_files.h"
#include "storage/storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Large enough for the paged layout (above 30,751 bytes) and a few blocks.
  if (size == 0 || size > (1u << 16)) return 0;
  const std::span<const uint8_t> file(data + 1, size - 1);
  kestrine::TCascStorage storage;
  storage.localIndex = std::make_unique<kestrine::LocalIndex>();
  kestrine::LocalIndex& index = *storage.localIndex;
  if (index.CreateMap(file.size()) != 0) return 0;
  (void)index.ParseIndexFile(storage, data[0] & 0x0F, file);
  if (index.map().size() >= index.map().bucketCount()) __builtin_trap();

  // Look up the keys at the places entries start in the version-7 and
  // version-5 layouts.
  for (size_t at : {size_t{40}, size_t{48}, size_t{4100}}) {
    if (file.size() < at + 16) continue;
    kestrine::ContentEntry entry;
    std::copy_n(file.begin() + at, 16, entry.ekey.begin());
    const bool found = kestrine::LocateEncodedFile(storage, entry);
    if (found != ((entry.flags & kestrine::EF_LOCAL) != 0)) __builtin_trap();
  }
  return 0;
}
