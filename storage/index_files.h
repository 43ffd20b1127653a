// Local index files: where each encoded file lies in the data archives.
#pragma once

#include <cstdint>

namespace kestrine {

struct TCascStorage;
struct ContentEntry;

// The loaded index files and the index map; lives only during the open.
class LocalIndex {
 public:
  LocalIndex() = default;
  ~LocalIndex() = default;
};

[[nodiscard]] uint32_t LoadIndexFiles(TCascStorage& storage);
bool LocateEncodedFile(TCascStorage& storage, ContentEntry& entry);

}  // namespace kestrine
