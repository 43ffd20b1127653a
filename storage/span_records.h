// Records of files made of several encoded files (spans). A root that names
// such a file binds the name to the first of n consecutive records, one per
// span; reading the file walks the n records. The records live with the
// storage rather than with the root that made them, so that names adopted
// by a later root (a root loaded again) still point at live records, and
// they never move: the table grows in new blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "storage/content_entry.h"

namespace kestrine {

struct TCascStorage;

class SpanRecordTable {
 public:
  static constexpr size_t kBlockRecords = 65536;

  // n consecutive records (value-initialised) in one block; null when n is 0
  // or larger than a block. Throws std::bad_alloc when a block cannot be had.
  ContentEntry* Append(size_t n);
  // Gives back the n records of the last Append (a file passed over).
  void DropLast(size_t n);
  // True when `first` and the n - 1 records behind it were appended.
  bool Holds(const ContentEntry* first, size_t n) const;
  size_t blockCount() const { return blocks_.size(); }

 private:
  struct Block {
    std::unique_ptr<ContentEntry[]> records;
    size_t used = 0;
  };
  std::vector<Block> blocks_;
};

// The number of entries forming the file whose first entry is `first`: 1
// for one span (a span count of 0 reads as 1), else its span count when that
// many entries follow it, itself included, in the storage's entry array or
// in its span records; 0 when fewer do.
size_t SpanEntryCount(TCascStorage& storage, const ContentEntry& first);

}  // namespace kestrine
