// Open files ("CASCFILE"): the caller's view of one stored file, built from
// one or more encoded files (spans) made of BLTE frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/raw_allocation.h"
#include "encoded/blte.h"
#include "kestrine.h"
#include "storage/content_entry.h"
#include "storage/storage.h"

namespace kestrine {

// Open-file flags.
inline constexpr uint32_t FF_VERIFY_FRAMES = 0x1;
inline constexpr uint32_t FF_ONLINE = 0x2;
inline constexpr uint32_t FF_OWN_STREAMS = 0x4;

enum class ReadStrategy : uint32_t {
  kWholeFile = 1,  // all frames of each span in one pass (manifests)
  kFrames = 2,     // only the frames a request touches (the default)
};

inline constexpr uint64_t kUnknownFileSize = ~uint64_t{0};

// A reusable page-aligned block. Positioned reads into a large block that
// does not start on a page boundary were measured several times slower.
class PageBuffer {
 public:
  static constexpr size_t kPageSize = 4096;

  // Makes room for `size` bytes, keeping nothing; false when out of memory.
  [[nodiscard]] bool Reserve(size_t size);
  void Release() {
    block_.reset();
    capacity_ = 0;
  }
  uint8_t* data() const { return block_.get(); }
  size_t capacity() const { return capacity_; }
  bool empty() const { return capacity_ == 0; }
  void swap(PageBuffer& other) noexcept {
    block_.swap(other.block_);
    std::swap(capacity_, other.capacity_);
  }

 private:
  std::unique_ptr<uint8_t, RawAllocationDeleter> block_;
  size_t capacity_ = 0;
};

struct TCascFile {
  TCascFile() = default;
  ~TCascFile();
  TCascFile(const TCascFile&) = delete;
  TCascFile& operator=(const TCascFile&) = delete;

  char signature[8] = {'C', 'A', 'S', 'C', 'F', 'I', 'L', 'E'};
  TCascStorage* storage = nullptr;  // one reference held
  ContentEntry* entries = nullptr;  // spanCount consecutive entries
  std::vector<TFileSpan> spans;
  uint64_t contentSize = kUnknownFileSize;
  uint64_t encodedSize = kUnknownFileSize;
  uint64_t filePointer = 0;
  uint32_t spanCount = 0;
  uint32_t flags = 0;  // FF_*
  // The one-frame cache: the decoded content of the last frame that a
  // frame-by-frame read left partly unread.
  uint64_t cacheStart = 0;
  uint64_t cacheEnd = 0;
  PageBuffer cache;
  ReadStrategy strategy = ReadStrategy::kFrames;
  // A frame decoded for the reader itself (not straight into the caller's
  // buffer); it trades places with the cache.
  PageBuffer frameBuffer;
};

// The public handle of an open file (whose record starts with its signature).
inline FileHandle HandleOf(TCascFile* file) {
  return reinterpret_cast<FileHandle>(file);
}

// Opens the file whose first span is `entry` (for internal callers: the
// manifests, the roots, opens by key). Returns 0 or the error number.
[[nodiscard]] uint32_t OpenFileByEntry(TCascStorage& storage, ContentEntry& entry, uint32_t flags,
                                       TCascFile*& file);
// Opens by CKey or by EKey through the storage's key maps: 0 or 2.
[[nodiscard]] uint32_t OpenFileByCKey(TCascStorage& storage, const Key16& ckey, TCascFile*& file);
[[nodiscard]] uint32_t OpenFileByEKey(TCascStorage& storage, const Key16& ekey, TCascFile*& file);
// Loads the spans' frame lists when needed and completes unknown sizes.
[[nodiscard]] uint32_t EnsureFileSpans(TCascFile& file);
void SetReadStrategy(TCascFile& file, ReadStrategy strategy);
// The file's decoded size; all ones when unknown.
uint64_t FileContentSize(const TCascFile& file);

// The file-data id a name stands for: "File" and decimal digits, or "FILE"
// and exactly eight hex digits (not FFFFFFFF), each ending the name or
// followed by '.'. False for any other name.
bool ParseFileDataIdName(const char* name, uint32_t* fileDataId);

}  // namespace kestrine
