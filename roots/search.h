// The search handle ("CASCFIND"): a walk over the root's names matching a
// wildcard mask and then, for the mask "*", over the content entries no name
// refers to. Each step fills one SearchResult.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "encoded/stream.h"
#include "kestrine.h"
#include "storage/storage.h"

namespace kestrine {

enum SearchPhase : uint32_t {
  kSearchNotStarted = 0,
  kSearchRootNames = 1,
  kSearchUnnamedEntries = 2,
  kSearchFinished = 3,
};
inline constexpr uint32_t kSearchPhaseBits = 0xFF;
// Set by a root that applies the search's list file once (bit 8).
inline constexpr uint32_t kSearchListFileApplied = 0x100;

struct TCascSearch {
  TCascSearch() = default;
  ~TCascSearch();
  TCascSearch(const TCascSearch&) = delete;
  TCascSearch& operator=(const TCascSearch&) = delete;

  char signature[8] = {'C', 'A', 'S', 'C', 'F', 'I', 'N', 'D'};
  TCascStorage* storage = nullptr;      // one reference held
  std::string listFilePath;             // empty: no list file
  std::unique_ptr<WholeFile> listFile;  // loaded on the first step
  std::string mask;
  uint64_t nextIndex = 0;
  uint64_t steps = 0;  // of the root's id enumeration: the work the search did
  uint32_t state = 0;  // phase in the low 8 bits, kSearchListFileApplied

  SearchPhase phase() const { return static_cast<SearchPhase>(state & kSearchPhaseBits); }
  void EnterPhase(SearchPhase phase) {
    state = (state & ~kSearchPhaseBits) | phase;
    nextIndex = 0;
  }
};

// Content entries whose flags carry either bit are never reported unnamed:
// the directory files a root reads its names from, and the later spans of a
// file named through its first.
inline constexpr uint16_t kNotReportedUnnamed = EF_ROOT_DIRECTORY | EF_SPAN_CONTINUATION;

// Fills the result's keys, sizes and flags from `entry`, and a generated
// name when the root gave none: "FILE%08X.dat" for a file id, else the CKey
// or the EKey in lower-case hex.
void FillSearchResult(TCascStorage& storage, const ContentEntry& entry, SearchResult& result);

// The decoded size of the file whose first span is `entry`: the sum of the
// spans' content sizes, else of their encoded sizes, else all ones.
uint64_t SpanFileSize(TCascStorage& storage, const ContentEntry& entry);

}  // namespace kestrine
