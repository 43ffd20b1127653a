// The WoW root. All numbers little-endian. Three layouts:
//
//   1. "TSFM" with a header of 20 bytes (the data at least 21 bytes long):
//        OFFSET SIZE FIELD
//        0      4    "TSFM"
//        4      4    header size: the blocks start there (at 4 when below 5)
//        8      4    version, 1 or 2: the block version
//        12     4    total file count
//        16     4    named file count, at most the total
//   2. "TSFM" otherwise: total file count at 4 and named file count at 8 (at
//      most the total); blocks from 12, block version 0.
//   3. Anything else has no header: blocks from 0, block version 0, old
//      entry layout. It must be longer than 12 + 28 * (first u32) bytes.
//
// Layouts 1 and 2 list their files in the new entry layout. Block, repeated
// to the end of the data:
//
//   header, versions 0 and 1 (12 bytes): file count, content flags, locale flags
//   header, version 2 (17 bytes): file count, locale flags, u32 a, u32 b,
//     u8 c; the content flags are a | b | (c << 17)
//   file count x u32 file-id delta: the first id is its delta, each further
//     id the previous one + 1 + its delta
//   old entry layout: file count x (CKey 16, name hash 8)
//   new entry layout: file count x CKey 16, then, unless the content flags
//     carry 0x10000000, file count x name hash 8
//
// A name hash is NameHash of the file's name; 0 means none.
#include "roots/wow_root.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "common/byte_reader.h"
#include "common/errors.h"
#include "roots/root_loaders.h"
#include "roots/search.h"

namespace kestrine {

namespace {

constexpr size_t kMinimumRootSize = 13;
constexpr size_t kHeadedRootSize = 21;
constexpr size_t kShortHeaderSize = 12;
constexpr uint32_t kSmallestHeaderSize = 5;  // a header size below it means 4
constexpr size_t kSignatureSize = 4;
constexpr uint64_t kHeaderlessBase = 12;
constexpr uint64_t kHeaderlessPerFile = 28;
constexpr size_t kDeltaSize = 4;
constexpr size_t kCKeySize = 16;
constexpr size_t kNameHashSize = 8;
constexpr uint32_t kLocaleEnGB = 0x200;
constexpr uint32_t kLocaleEnUS = 0x2;
constexpr uint32_t kLocalePtPT = 0x10000;
constexpr uint32_t kLocalePtBR = 0x4000;
// Files entered per batch of prefetches.
constexpr size_t kBatchFiles = 64;
// Files per folder that the tree is sized for ahead of the list file.
constexpr uint64_t kFilesPerFolder = 16;

struct RootLayout {
  WowEntryLayout entries = WowEntryLayout::kOld;
  uint32_t blocksAt = 0;
  uint32_t blockVersion = 0;
  uint32_t unnamedFiles = 0;
  uint32_t features = kWowFeaturesHeaderless;
};

// False when the data is in none of the three layouts.
bool RecogniseLayout(std::span<const uint8_t> data, RootLayout& layout) {
  if (data.size() < kMinimumRootSize) return false;
  ByteReader header(data);
  const bool tsfm = std::memcmp(header.bytes(kSignatureSize).data(), "TSFM", 4) == 0;
  const uint32_t at4 = header.u32le();
  const uint32_t at8 = header.u32le();
  if (tsfm && data.size() >= kHeadedRootSize && (at8 == 1 || at8 == 2)) {
    const uint32_t total = header.u32le();
    const uint32_t named = header.u32le();
    if (total >= named) {
      const uint32_t blocksAt = at4 < kSmallestHeaderSize ? kSignatureSize : at4;
      layout = {WowEntryLayout::kNew, blocksAt, at8, total - named, kWowFeaturesHeaded};
      return true;
    }
  }
  if (tsfm && at4 >= at8) {
    layout = {WowEntryLayout::kNew, kShortHeaderSize, 0, at4 - at8, kWowFeaturesHeaded};
    return true;
  }
  const uint32_t first = ByteReader(data).u32le();
  if (data.size() <= kHeaderlessBase + kHeaderlessPerFile * first) return false;
  layout = {};
  return true;
}

struct BlockHeader {
  uint32_t fileCount = 0;
  uint32_t contentFlags = 0;
  uint32_t localeFlags = 0;
};

BlockHeader ReadBlockHeader(ByteReader& reader, uint32_t version) {
  BlockHeader header;
  header.fileCount = reader.u32le();
  if (version < 2) {
    header.contentFlags = reader.u32le();
    header.localeFlags = reader.u32le();
  } else {
    header.localeFlags = reader.u32le();
    header.contentFlags = reader.u32le();
    header.contentFlags |= reader.u32le();
    header.contentFlags |= uint32_t{reader.u8()} << 17;
  }
  return header;
}

bool HasNameHashes(const BlockHeader& header, WowEntryLayout layout) {
  return layout == WowEntryLayout::kOld || (header.contentFlags & kWowContentNoNameHash) == 0;
}

// Bytes behind the header: deltas and entries. At most 28 * 2^32, so no
// overflow in 64 bits.
uint64_t BlockBodySize(const BlockHeader& header, WowEntryLayout layout) {
  const uint64_t perFile =
      kDeltaSize + kCKeySize + (HasNameHashes(header, layout) ? kNameHashSize : 0);
  return perFile * header.fileCount;
}

bool BlockSelected(const BlockHeader& header, uint32_t pass, uint32_t localeMask) {
  if (header.contentFlags & kWowContentSkipped) return false;
  if (((header.contentFlags & kWowContentSecondPass) != 0) != (pass != 0)) return false;
  return header.localeFlags == 0 || (header.localeFlags & localeMask) != 0;
}

struct BlockFile {
  uint32_t id = 0;
  std::span<const uint8_t> ckey;
  uint64_t nameHash = 0;
};

// The files of one block whose body has been checked to lie within the data.
class BlockFiles {
 public:
  BlockFiles(ByteReader body, const BlockHeader& header, WowEntryLayout layout)
      : count_(header.fileCount) {
    deltas_ = body.sub(size_t{count_} * kDeltaSize);
    if (layout == WowEntryLayout::kOld) {
      // Each CKey is followed by its hash, read from the same reader.
      ckeys_ = body.sub(size_t{count_} * (kCKeySize + kNameHashSize));
      hashes_ = &ckeys_;
    } else {
      ckeys_ = body.sub(size_t{count_} * kCKeySize);
      hashSection_ = body.sub(HasNameHashes(header, layout) ? size_t{count_} * kNameHashSize : 0);
      if (HasNameHashes(header, layout)) hashes_ = &hashSection_;
    }
  }
  BlockFiles(const BlockFiles&) = delete;
  BlockFiles& operator=(const BlockFiles&) = delete;

  bool Next(BlockFile& file) {
    if (read_ == count_) return false;
    const uint32_t delta = deltas_.u32le();
    lastId_ = read_++ == 0 ? delta : lastId_ + 1 + delta;
    file.id = lastId_;
    file.ckey = ckeys_.bytes(kCKeySize);
    file.nameHash = hashes_ != nullptr ? hashes_->u64le() : 0;
    return true;
  }

 private:
  uint32_t count_;
  uint32_t read_ = 0;
  uint32_t lastId_ = 0;
  ByteReader deltas_;
  ByteReader ckeys_;
  ByteReader hashSection_;
  ByteReader* hashes_ = nullptr;
};

// Files of unknown CKeys are passed over; the id 0xFFFFFFFF is never entered.
// The first block to enter an id keeps it; its name hash is that of the
// latest block giving it one.
uint32_t EnterFile(TCascStorage& storage, FileTree& tree, const BlockFile& file,
                   const BlockHeader& header) {
  ContentEntry* entry = storage.contents.FindByCKey(file.ckey.data());
  if (entry == nullptr || file.id == kNoFileId) return kErrorSuccess;
  if (tree.InsertFileId(entry, file.id, header.localeFlags, header.contentFlags) == nullptr) {
    return kErrorNotEnoughMemory;
  }
  if (file.nameHash != 0) tree.SetNameHash(tree.FindFileId(file.id), file.nameHash);
  return kErrorSuccess;
}

// Files are entered in batches: the CKey map's buckets and the tree's hash
// buckets of a whole batch are fetched first, then the content entries, so
// that the cache misses of millions of random look-ups overlap.
uint32_t EnterBlockFiles(TCascStorage& storage, FileTree& tree, BlockFiles& files,
                         const BlockHeader& header) {
  std::array<BlockFile, kBatchFiles> batch;
  for (;;) {
    size_t count = 0;
    while (count < batch.size() && files.Next(batch[count])) ++count;
    if (count == 0) return kErrorSuccess;
    for (size_t i = 0; i < count; ++i) {
      storage.contents.ckeyMap().PrefetchBucket(batch[i].ckey.data());
      tree.PrefetchHash(batch[i].nameHash);
    }
    for (size_t i = 0; i < count; ++i) {
      storage.contents.ckeyMap().PrefetchEntry(batch[i].ckey.data());
    }
    for (size_t i = 0; i < count; ++i) {
      if (uint32_t error = EnterFile(storage, tree, batch[i], header)) return error;
    }
  }
}

// The locale read after the storage's own, for the locales that have no
// full set of files of their own.
uint32_t FallbackLocale(uint32_t localeMask) {
  if (localeMask == kLocaleEnGB) return kLocaleEnUS;
  if (localeMask == kLocalePtPT) return kLocalePtBR;
  return 0;
}

// The files of the blocks either pass selects for the mask or its fallback,
// counted up to the first damaged block: each is checked against the data,
// so the count stays below the data's size.
uint64_t SelectedFiles(std::span<const uint8_t> blocks, uint32_t version, WowEntryLayout layout,
                       uint32_t localeMask) {
  const uint32_t fallback = FallbackLocale(localeMask);
  uint64_t files = 0;
  ByteReader reader(blocks);
  while (reader.remaining() > 0) {
    const BlockHeader header = ReadBlockHeader(reader, version);
    const uint64_t bodySize = BlockBodySize(header, layout);
    if (!reader.ok() || bodySize > reader.remaining()) break;
    reader.skip(static_cast<size_t>(bodySize));
    for (uint32_t pass : {0u, 1u}) {
      if (BlockSelected(header, pass, localeMask) ||
          (fallback != 0 && BlockSelected(header, pass, fallback))) {
        files += header.fileCount;
        break;
      }
    }
  }
  return files;
}

// The second pass reads the blocks flagged with bit 31; each pass reads the
// storage's locale first, so its files win the ids they share with the
// fallback locale's.
uint32_t ReadAllBlocks(TRootHandler_WoW& root, TCascStorage& storage,
                       std::span<const uint8_t> blocks, uint32_t version, uint32_t localeMask) {
  const uint32_t fallback = FallbackLocale(localeMask);
  for (uint32_t pass : {0u, 1u}) {
    if (uint32_t error = root.ReadBlocks(storage, blocks, version, pass, localeMask)) return error;
    if (fallback != 0) (void)root.ReadBlocks(storage, blocks, version, pass, fallback);
  }
  return kErrorSuccess;
}

}  // namespace

TRootHandler_WoW::TRootHandler_WoW(WowEntryLayout layout, uint32_t unnamedFiles)
    : TFileTreeRoot(FTREE_FILE_IDS | FTREE_LOCALE_FLAGS | FTREE_CONTENT_FLAGS),
      layout_(layout),
      unnamedFiles_(unnamedFiles) {}

ContentEntry* TRootHandler_WoW::SearchNext(TCascSearch& search, SearchResult& result) {
  if (search.listFile && (search.state & kSearchListFileApplied) == 0) {
    ApplyWowListFile(tree(), layout_, *search.listFile);
    search.state |= kSearchListFileApplied;
  }
  return TFileTreeRoot::SearchNext(search, result);
}

// Every block is checked against the data, used or not, so that a damaged
// root fails the same way whatever the locale.
uint32_t TRootHandler_WoW::ReadBlocks(TCascStorage& storage, std::span<const uint8_t> blocks,
                                      uint32_t blockVersion, uint32_t pass, uint32_t localeMask) {
  filesSeen_ = 0;
  ByteReader reader(blocks);
  while (reader.remaining() > 0) {
    const BlockHeader header = ReadBlockHeader(reader, blockVersion);
    const uint64_t bodySize = BlockBodySize(header, layout_);
    if (!reader.ok() || bodySize > reader.remaining()) return kErrorBadFormat;
    const ByteReader body = reader.sub(static_cast<size_t>(bodySize));
    filesSeen_ += header.fileCount;
    if (!BlockSelected(header, pass, localeMask)) continue;
    BlockFiles files(body, header, layout_);
    if (uint32_t error = EnterBlockFiles(storage, tree(), files, header)) return error;
  }
  return kErrorSuccess;
}

uint32_t LoadWowRoot(TCascStorage& storage, std::span<const uint8_t> data, uint32_t localeMask) {
  RootLayout layout;
  if (!RecogniseLayout(data, layout)) return kErrorBadFormat;
  ByteReader reader(data);
  if (!reader.seek(layout.blocksAt)) return kErrorBadFormat;
  const std::span<const uint8_t> blocks = reader.bytes(reader.remaining());
  try {
    auto root = std::make_unique<TRootHandler_WoW>(layout.entries, layout.unnamedFiles);
    root->SetFeatures(layout.features);
    // Room for the files and, roughly, the folders a list file adds later.
    const uint64_t files = SelectedFiles(blocks, layout.blockVersion, layout.entries, localeMask);
    if (!root->tree().Reserve(static_cast<size_t>(files + files / kFilesPerFolder))) {
      return kErrorNotEnoughMemory;
    }
    if (uint32_t error = ReadAllBlocks(*root, storage, blocks, layout.blockVersion, localeMask)) {
      return error;
    }
    storage.root = std::move(root);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  return kErrorSuccess;
}

}  // namespace kestrine
