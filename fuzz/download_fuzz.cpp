// DOWNLOAD manifest parser: any bytes either parse or are refused. Two
// entries are known beforehand (one by a partial EKey) so that the update
// path runs too; no entry may lose its EKey, the tag table never holds more
// tags than the header announced, and tags are seen only when announced.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/content_entry.h"
#include "storage/download_manifest.h"
#include "storage/storage.h"

namespace {

// A known entry whose EKey is the 16 input bytes at `at` (zero-padded).
void AddKnown(kestrine::TCascStorage& storage, std::span<const uint8_t> input, size_t at,
              uint16_t flags) {
  kestrine::ContentEntry entry;
  if (at < input.size()) {
    std::copy_n(input.begin() + at, std::min<size_t>(16, input.size() - at), entry.ekey.begin());
  }
  entry.flags = flags;
  (void)storage.contents.Insert(entry);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 18)) return 0;
  const std::span<const uint8_t> input(data, size);
  kestrine::TCascStorage storage;
  if (storage.contents.Create(kestrine::kUnknownSize, static_cast<uint32_t>(size), 9) != 0) {
    return 0;
  }
  // Where the first entry starts in a version-3 and a version-1 manifest.
  AddKnown(storage, input, 16, kestrine::EF_EKEY | kestrine::EF_EKEY_PARTIAL);
  AddKnown(storage, input, 11, kestrine::EF_EKEY);

  const uint32_t result = kestrine::ParseDownloadManifest(storage, input);
  if (result != 0 && result != kestrine::kErrorBadFormat) __builtin_trap();
  if (result != 0) return 0;

  const uint16_t tagCount = static_cast<uint16_t>(data[9] << 8 | data[10]);
  if (storage.downloadTags.size() > tagCount) __builtin_trap();
  if (((storage.features & kestrine::STF_HAS_TAGS) != 0) != (tagCount != 0)) __builtin_trap();
  if (storage.entriesAfterDownload != storage.contents.size()) __builtin_trap();
  for (const kestrine::ContentEntry& entry : storage.contents.entries()) {
    if ((entry.flags & kestrine::EF_EKEY) == 0) __builtin_trap();
    if (storage.contents.FindByEKey(entry.ekey.data()) == nullptr) __builtin_trap();
  }
  return 0;
}
