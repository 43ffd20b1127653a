// Indexes of the remote data archives of an online storage: which archive
// holds each encoded file, at which offset, and how long it is. Unlike the
// local index they stay for the life of the storage.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/hex_key.h"
#include "common/key_hash_map.h"

namespace kestrine {

struct TCascStorage;

struct RemoteArchiveRecord {
  Key16 key{};            // EKey, zero-padded when the index keys are shorter
  uint64_t location = 0;  // archive number << (8 * offset-field length) | offset
  uint32_t encodedSize = 0;
};

// The records of every archive index, and a KeyHashMap over their full keys
// (built once after the last archive; the first record of a key wins).
class RemoteArchiveMap {
 public:
  RemoteArchiveMap() = default;
  RemoteArchiveMap(const RemoteArchiveMap&) = delete;  // the map refers to records_
  RemoteArchiveMap& operator=(const RemoteArchiveMap&) = delete;

  // Appends one record: room for 65,536 at first, doubling. 0 or 8.
  [[nodiscard]] uint32_t Append(const RemoteArchiveRecord& record);
  // Builds the hash map over all records appended so far. 0 or 8.
  [[nodiscard]] uint32_t BuildHashMap();
  // The record of this 16-byte key, or null (also before BuildHashMap).
  const RemoteArchiveRecord* Find(const uint8_t* key) const;

  size_t size() const { return records_.size(); }
  std::span<const RemoteArchiveRecord> records() const { return records_; }

 private:
  // Buckets of a record's position + 1; 0 is empty.
  struct Records {
    using Bucket = uint32_t;
    static bool IsEmpty(Bucket bucket) { return bucket == 0; }
    bool Holds(Bucket bucket, const uint8_t* key) const {
      const Key16& held = (*records)[bucket - 1].key;
      return std::equal(held.begin(), held.end(), key);
    }

    const std::vector<RemoteArchiveRecord>* records = nullptr;
  };

  std::vector<RemoteArchiveRecord> records_;
  KeyHashMap<Records> map_;
};

// Checks one archive index file (its footer) and appends a record per entry,
// with `archiveNumber` packed into the location. When `storage` is given and
// has no archive-offset bits or location position yet, they become 8 * the
// offset-field length and the key length. Returns 0, 8 or 11.
[[nodiscard]] uint32_t ParseRemoteArchiveIndex(std::span<const uint8_t> file,
                                               uint32_t archiveNumber, RemoteArchiveMap& map,
                                               TCascStorage* storage);

}  // namespace kestrine
