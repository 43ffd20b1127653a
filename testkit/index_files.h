// Writers of local index files (versions 7 and 5, and the paged layout),
// remote archive index files and "data.%03u" data archives, from parameters.
// Each writer can also lay down the faults a reader must notice.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/hex_key.h"

namespace kestrine::testkit {

// One 18-byte index entry: the first 9 bytes of the EKey, the 40-bit storage
// offset and the encoded size (the archive's 30-byte record header included).
struct IndexEntry {
  Key16 ekey{};
  uint64_t storageOffset = 0;
  uint32_t encodedSize = 0;
};

std::array<uint8_t, 18> IndexEntryBytes(const IndexEntry& entry);
uint64_t PackStorageOffset(uint32_t archive, uint64_t offset, uint32_t offsetBits = 30);

// A key whose bytes all derive from `seed` (distinct seeds, distinct keys).
Key16 MakeKey(uint32_t seed);

// The bucket the folder writer files a key under: the nine key bytes folded
// into one nibble. The reader does not check buckets against keys.
uint32_t IndexBucketOf(const Key16& ekey);

// "%02x%08x.idx" (upper-case digits and extension when asked) and "data.i%x%x".
std::string IndexFileName(uint32_t bucket, uint32_t version, bool upperCase = false);
std::string DataIndexFileName(uint32_t bucket, uint32_t version);

enum class EntryHashScheme {
  kHashlittle2,        // hashlittle2 carried over all entries
  kChainedHashlittle,  // hashlittle of each entry, seeded with the previous result
};

struct IndexFileV7 {
  uint8_t bucket = 0;
  uint8_t offsetBits = 30;
  EntryHashScheme scheme = EntryHashScheme::kHashlittle2;
  std::vector<IndexEntry> entries;
  // Shape and faults.
  std::optional<uint8_t> headerBucket;  // the bucket written into the header
  uint32_t headerHashSize = 16;         // bytes at offset 8 covered by the header hash
  bool badHeaderHash = false;
  bool badEntriesHash = false;
  std::optional<uint32_t> entriesSize;  // the stored entries size, when not the real one
  size_t padTo = 0;                     // zero bytes appended up to this size
};
std::vector<uint8_t> WriteIndexFileV7(const IndexFileV7& file);

struct IndexFileV5 {
  uint8_t bucket = 0;
  uint8_t offsetBits = 30;
  std::vector<IndexEntry> firstList;
  std::vector<IndexEntry> secondList;
  std::vector<IndexEntry> trailing;  // after both lists, covered by no hash
  // Faults.
  std::optional<uint8_t> headerBucket;
  uint64_t nonZeroField = 1;
  bool badHeaderHash = false;
  bool badSecondListHash = false;
};
std::vector<uint8_t> WriteIndexFileV5(const IndexFileV5& file);

// A version-7 header without a verifiable entries area, then from offset 4096
// blocks of 512 bytes of guarded 24-byte records (at most 21 per block).
struct PagedIndexFile {
  uint8_t bucket = 0;
  uint8_t offsetBits = 30;
  std::vector<std::vector<IndexEntry>> blocks;
  // (block, record) whose guard is written wrong.
  std::optional<std::pair<size_t, size_t>> badGuard;
  size_t minimumSize = 30752;  // smaller files are not read as paged
};
inline constexpr size_t kPagedRecordsPerBlock = 21;
std::vector<uint8_t> WritePagedIndexFile(const PagedIndexFile& file);

// Remote archive index: entries packed into blocks, a block table the reader
// skips, and the 20-byte footer.
struct RemoteIndexEntry {
  Key16 ekey{};
  uint32_t encodedSize = 0;
  uint32_t offset = 0;
};
struct RemoteArchiveIndexFile {
  std::vector<RemoteIndexEntry> entries;
  uint8_t blockSizeKb = 4;
  uint8_t keyLength = 16;
  uint8_t sizeLength = 4;
  uint8_t offsetLength = 4;
  // Entries after which the writer starts a new block (indexes into entries).
  std::vector<size_t> blockBreaks;
  // Faults.
  uint8_t version = 1;
  uint16_t zeroField = 0;
  uint8_t checksumLength = 8;
  bool badChecksum = false;
};
std::vector<uint8_t> WriteRemoteArchiveIndex(const RemoteArchiveIndexFile& file);

// Where a stored blob went.
struct StoredBlob {
  Key16 ekey{};
  uint32_t archive = 0;
  uint32_t offset = 0;       // of its 30-byte record header
  uint32_t encodedSize = 0;  // header and blob

  IndexEntry AsIndexEntry(uint32_t offsetBits = 30) const {
    return {ekey, PackStorageOffset(archive, offset, offsetBits), encodedSize};
  }
};

inline constexpr size_t kArchiveRecordHeaderSize = 30;

// The record header in front of a blob of `encodedSize` bytes, header included.
std::vector<uint8_t> ArchiveRecordHeader(const Key16& ekey, uint32_t encodedSize);

// Data archives "data.%03u": each blob is stored behind a 30-byte record
// header (the EKey, the size of header and blob as u32le, then zeros), which
// the reader skips.
class DataArchiveWriter {
 public:
  StoredBlob Add(const Key16& ekey, std::span<const uint8_t> encoded);
  // Later blobs go into this archive (appended after what it holds).
  void UseArchive(uint32_t archive) { current_ = archive; }
  const std::vector<StoredBlob>& blobs() const { return blobs_; }
  const std::map<uint32_t, std::vector<uint8_t>>& archives() const { return archives_; }
  std::vector<IndexEntry> IndexEntries(uint32_t offsetBits = 30) const;
  // Writes every archive into the OS folder `folder`. False on an I/O error.
  bool WriteTo(const std::string& folder) const;

 private:
  uint32_t current_ = 0;
  std::map<uint32_t, std::vector<uint8_t>> archives_;
  std::vector<StoredBlob> blobs_;
};

std::string DataArchiveName(uint32_t archive);

// Writes `bytes` to the OS path, creating missing folders. False on failure.
bool WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes);

// Version-7 index files for a whole folder: every entry is filed under
// IndexBucketOf(its key); buckets 0 to bucketCount - 1 get a file (possibly
// without entries), named with `version`.
struct IndexFolder {
  std::vector<IndexEntry> entries;
  uint32_t version = 1;
  size_t bucketCount = 16;
  uint8_t offsetBits = 30;
  EntryHashScheme scheme = EntryHashScheme::kHashlittle2;
  bool upperCaseNames = false;
};
bool WriteIndexFolder(const std::string& folder, const IndexFolder& index);

}  // namespace kestrine::testkit
