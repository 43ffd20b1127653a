// TRootHandler: how a storage maps names and file ids to content entries.
//
// Whatever its root format, a storage keeps one root handler. It answers
// which content entry has a name or a file id, what the name at an index of
// its enumeration is, and which entry a search step finds next. Every handler
// of this library is a TFileTreeRoot (roots/file_tree_root.h); the concrete
// classes only parse their format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kestrine.h"

namespace kestrine {

struct ContentEntry;
struct TCascStorage;
struct TCascSearch;

// What the tree knows of the file that names an entry (DescribeEntry).
struct FileDescription {
  uint64_t nameHash = 0;
  uint32_t fileDataId = 0xFFFFFFFF;
  uint32_t localeFlags = 0xFFFFFFFF;
  uint32_t contentFlags = 0xFFFFFFFF;
};

class TRootHandler {
 public:
  virtual ~TRootHandler() = default;

  // Enters a full name for `entry`. Returns 0, or 1003 when no node could be
  // allocated (87 for a null name).
  [[nodiscard]] virtual uint32_t InsertName(const char* name, ContentEntry* entry) = 0;
  // The entry of a full name, or null. The storage is not needed by the tree.
  virtual ContentEntry* LookupName(TCascStorage* storage, const char* name) const = 0;
  // The entry of a file id, or null.
  virtual ContentEntry* LookupFileId(TCascStorage* storage, uint32_t fileId) const = 0;
  // The entry at an enumeration index, or null; `buffer` receives the full
  // name of the node there (empty when there is none).
  virtual ContentEntry* NameAtIndex(uint64_t index, char* buffer, size_t size) const = 0;
  // The entry of the next name matching the search's mask, from the search's
  // next index on, with the result's name and per-file fields filled; null
  // when the root holds no further match.
  virtual ContentEntry* SearchNext(TCascSearch& search, SearchResult& result) = 0;
  // True when a file node names `entry`; fills `description` from it.
  virtual bool DescribeEntry(const ContentEntry* entry, FileDescription& description) const = 0;
  // Enters every named entry of `other`; returns the number of names offered.
  virtual size_t AdoptNames(const TRootHandler& other) = 0;
  // Exclusive upper bound of the indices NameAtIndex and SearchNext visit.
  virtual uint64_t IndexLimit() const = 0;
  // Files the root names, by full name or by file id.
  virtual size_t FileCount() const = 0;
  // The first index at or above `from` where NameAtIndex may find a name;
  // IndexLimit() when none. Enumerations step with it, so that a root whose
  // indices are sparse (file ids up to 2^32) is walked at the cost of its
  // names, not of its highest index.
  virtual uint64_t NextIndex(uint64_t from) const = 0;
};

}  // namespace kestrine
