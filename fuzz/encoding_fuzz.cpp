// ENCODING manifest parser: any bytes either parse or are refused. Every
// entry created is an encoding entry with both keys, and the CKey map finds,
// for each entry's CKey, an entry with that CKey.
#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/content_entry.h"
#include "storage/encoding_manifest.h"
#include "storage/storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 18)) return 0;
  kestrine::TCascStorage storage;
  // Sized as the open sizes it: from the manifest's content size.
  if (storage.contents.Create(static_cast<uint32_t>(size), kestrine::kUnknownSize, 9) != 0) {
    return 0;
  }
  const uint32_t result = kestrine::ParseEncodingManifest(storage, {data, size});
  if (result != 0 && result != kestrine::kErrorBadFormat && result != kestrine::kErrorFileCorrupt) {
    __builtin_trap();
  }
  constexpr uint16_t kFlags = kestrine::EF_CKEY | kestrine::EF_EKEY | kestrine::EF_IN_ENCODING;
  for (const kestrine::ContentEntry& entry : storage.contents.entries()) {
    if ((entry.flags & kFlags) != kFlags || entry.spanCount != 1) __builtin_trap();
    const kestrine::ContentEntry* found = storage.contents.FindByCKey(entry.ckey.data());
    if (found == nullptr || found->ckey != entry.ckey) __builtin_trap();
  }
  return 0;
}
