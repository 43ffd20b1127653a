// INSTALL manifest, big-endian:
//
//   OFFSET SIZE FIELD
//   0      2    signature "IN"
//   2      1    version, 1
//   3      1    hash size, at most 16 (CKeys are read as 16 bytes whatever it says)
//   4      2    tag count T
//   6      4    entry count N
//   10     ...  T tags: NUL-terminated name, 2-byte type, bitmap of ceil(N / 8)
//               bytes (one bit per entry); skipped
//   ...    ...  N entries: NUL-terminated file name, CKey (16), size (4, unused)
//
// A tag bitmap that runs past the end is cut there; entries are read while
// whole ones remain.
#include "roots/install_root.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string_view>

#include "common/byte_reader.h"
#include "common/errors.h"
#include "roots/root_loaders.h"
#include "storage/text_table.h"

namespace kestrine {

namespace {

constexpr size_t kHeaderSize = 10;
constexpr uint8_t kVersion = 1;
constexpr uint8_t kMaxHashSize = 16;
constexpr size_t kCKeySize = 16;
constexpr size_t kFileSizeSize = 4;

struct InstallHeader {
  uint16_t tagCount = 0;
  uint32_t entryCount = 0;
};

bool ReadHeader(ByteReader& reader, InstallHeader& header) {
  if (reader.size() < kHeaderSize) return false;
  const uint16_t signature = reader.u16be();
  const uint8_t version = reader.u8();
  const uint8_t hashSize = reader.u8();
  header.tagCount = reader.u16be();
  header.entryCount = reader.u32be();
  return signature == ('I' << 8 | 'N') && version == kVersion && hashSize <= kMaxHashSize;
}

void SkipTags(ByteReader& reader, const InstallHeader& header) {
  const uint64_t bitmapSize = (uint64_t{header.entryCount} + 7) / 8;
  for (uint32_t tag = 0; tag < header.tagCount && reader.remaining() > 0; ++tag) {
    reader.until('\0');
    if (!reader.ok()) {  // a name running to the end: no entries follow
      reader.seek(reader.size());
      return;
    }
    reader.skip(std::min<uint64_t>(2, reader.remaining()));
    reader.skip(std::min<uint64_t>(bitmapSize, reader.remaining()));
  }
}

uint32_t EnterEntries(TCascStorage& storage, ByteReader& reader, uint32_t entryCount,
                      TRootHandler_Install& root) {
  for (uint32_t i = 0; i < entryCount && reader.remaining() > 0; ++i) {
    const std::string_view name = AsText(reader.until('\0'));
    const auto ckey = reader.bytes(kCKeySize);
    reader.skip(kFileSizeSize);
    if (!reader.ok()) break;
    ContentEntry* entry = storage.contents.FindByCKey(ckey.data());
    if (entry != nullptr && root.tree().InsertFile(entry, name, kNoFileId) == nullptr) {
      return kErrorNotEnoughMemory;
    }
  }
  return kErrorSuccess;
}

}  // namespace

uint32_t LoadInstallRoot(TCascStorage& storage, std::span<const uint8_t> data,
                         uint32_t /*localeMask*/) {
  ByteReader reader(data);
  InstallHeader header;
  if (!ReadHeader(reader, header)) return kErrorBadFormat;
  try {
    auto root = std::make_unique<TRootHandler_Install>();
    SkipTags(reader, header);
    if (uint32_t error = EnterEntries(storage, reader, header.entryCount, *root)) return error;
    storage.root = std::move(root);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  return kErrorSuccess;
}

}  // namespace kestrine
