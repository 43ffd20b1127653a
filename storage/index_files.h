// Local index files: where each encoded file lies in the data archives.
//
// The archive folder holds sixteen index files, one per bucket of EKeys, each
// in several versions of which the newest counts. During the open they are
// read whole and every 18-byte entry is copied into one map keyed by the
// first nine EKey bytes; both are released at the end of the open.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/key_hash_map.h"

namespace kestrine {

struct TCascStorage;
struct ContentEntry;

inline constexpr size_t kIndexBucketCount = 16;
inline constexpr size_t kIndexEntrySize = 18;  // key prefix, storage offset, encoded size
inline constexpr size_t kIndexKeySize = 9;

// One bucket's index file.
struct IndexFileSlot {
  std::vector<uint8_t> data;  // the whole file; empty when not loaded
  std::string path;
  uint32_t version = 0;  // newest version found by the folder scan
};

// The names index files go by. The first name recognised in a folder fixes
// the one a storage uses.
enum class IndexNameFormat : uint8_t {
  kNone,
  kHexIdx,  // "%02x%08x.idx": bucket, version
  kDataI,   // "data.i%x%x": bucket, version (one digit each)
};

// A KeyHashMap over copies of the 18-byte index entries, keyed by their
// first nine bytes. The entries sit in the buckets themselves: the open looks
// up millions of EKeys in random order, and a look-up that had to follow a
// pointer into the file buffers would miss the cache twice.
class IndexMap {
 public:
  // Bucket count: HashBucketCount(totalFileBytes / 18). False when the
  // buckets cannot be allocated.
  [[nodiscard]] bool Create(uint64_t totalFileBytes);
  // False when the map is full or holds the key already (the first entry stays).
  bool Insert(const uint8_t* entry);
  // The 18-byte entry whose key is the first nine bytes of `ekey`, or null.
  const uint8_t* Find(const uint8_t* ekey) const;
  // A hint for loops over millions of keys: fetches the key's first bucket
  // ahead of the Find.
  void PrefetchBucket(const uint8_t* ekey) const { map_.PrefetchBucket(ekey); }
  size_t size() const { return map_.size(); }
  size_t bucketCount() const { return map_.bucketCount(); }

 private:
  struct Entries {
    struct Bucket {
      std::array<uint8_t, kIndexEntrySize> entry;
      uint8_t used;
    };
    static bool IsEmpty(const Bucket& bucket) { return bucket.used == 0; }
    bool Holds(const Bucket& bucket, const uint8_t* key) const {
      return std::equal(key, key + kIndexKeySize, bucket.entry.begin());
    }
  };

  KeyHashMap<Entries> map_;
};

// The index files of one storage and their map; lives only during the open.
class LocalIndex {
 public:
  // A name from the archive folder scan: keeps the newest version per bucket.
  // False ends the scan (a bucket above 15).
  bool EnumerateIndexFile(std::string_view name);
  // The file name of a bucket's newest version in the storage's name format.
  std::string IndexFileName(size_t bucket) const;

  // Sizes the map for files of this many bytes in total; 0 or 8.
  [[nodiscard]] uint32_t CreateMap(uint64_t totalFileBytes);
  // Checks one index file of `bucket` and enters its entries into the map,
  // taking the storage's archive-offset bits and location position unless it
  // has them. Returns 0,
  // 11 (bad format) or 50 (entries that cannot be verified).
  [[nodiscard]] uint32_t ParseIndexFile(TCascStorage& storage, size_t bucket,
                                        std::span<const uint8_t> file);

  IndexNameFormat nameFormat() const { return nameFormat_; }
  size_t namesRecognised() const { return namesRecognised_; }
  std::array<IndexFileSlot, kIndexBucketCount>& slots() { return slots_; }
  const IndexMap& map() const { return map_; }

 private:
  bool MatchName(std::string_view name, IndexNameFormat format, uint32_t* bucket,
                 uint32_t* version) const;

  IndexNameFormat nameFormat_ = IndexNameFormat::kNone;
  size_t namesRecognised_ = 0;
  std::array<IndexFileSlot, kIndexBucketCount> slots_;
  IndexMap map_;
};

// The folder-scan callback: creates storage.localIndex when needed.
bool EnumerateIndexFile(std::string_view name, TCascStorage& storage);

// Finds, loads, checks and maps the index files of storage.archivePath into
// storage.localIndex. Returns 0 or the error number: 2 no index file, 3 the
// folder cannot be listed, 8 memory, 11 bad format, 50 unverifiable entries,
// 1223 cancelled; a read error passes through.
[[nodiscard]] uint32_t LoadIndexFiles(TCascStorage& storage);

// Copies the location of entry.ekey from the index map into the entry and
// sets EF_LOCAL. An online storage answers true and leaves the entry as is.
bool LocateEncodedFile(TCascStorage& storage, ContentEntry& entry);

// A prefetch hint for LocateEncodedFile of `ekey`: fetches the map's bucket.
void PrefetchLocation(const TCascStorage& storage, const uint8_t* ekey);

}  // namespace kestrine
