// Search over the names of a storage, then over its unnamed content entries.
#include "roots/search.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <span>

#include "common/api_boundary.h"
#include "common/errors.h"
#include "common/handle.h"
#include "roots/root_handler.h"

namespace kestrine {

namespace {

constexpr uint32_t kResultLocal = 0x1;  // the encoded form is in the local archives

void ResetResult(SearchResult& result) {
  result.fileName[0] = '\0';
  std::memset(result.ckey, 0, sizeof result.ckey);
  std::memset(result.ekey, 0, sizeof result.ekey);
  result.tagBitMask = 0;
  result.fileSize = ~uint64_t{0};
  result.plainNameOffset = 0;
  result.fileDataId = 0xFFFFFFFF;
  result.localeFlags = 0xFFFFFFFF;
  result.contentFlags = 0xFFFFFFFF;
  result.spanCount = 1;
  result.resultFlags &= ~kResultLocal;
  result.nameType = kNameFull;
}

// Where the name behind the last separator starts.
uint32_t PlainNameOffset(const char* name) {
  uint32_t plain = 0;
  for (uint32_t at = 0; name[at] != '\0'; ++at) {
    if (name[at] == '/' || name[at] == '\\') plain = at + 1;
  }
  return plain;
}

void GenerateName(const ContentEntry& entry, SearchResult& result) {
  if (result.fileDataId != 0xFFFFFFFF) {
    std::snprintf(result.fileName, sizeof result.fileName, "FILE%08X.dat", result.fileDataId);
    result.nameType = kNameFileId;
  } else if (entry.flags & EF_CKEY) {
    FormatHexKey(entry.ckey, result.fileName);
    result.nameType = kNameCKey;
  } else if (entry.flags & EF_EKEY) {
    FormatHexKey(entry.ekey, result.fileName);
    result.nameType = kNameEKey;
  }
}

bool IsUnnamed(const ContentEntry& entry) {
  return entry.refCount == 0 && (entry.flags & kNotReportedUnnamed) == 0 &&
         (entry.flags & (EF_IN_ENCODING | EF_IN_DOWNLOAD | EF_MANIFEST)) != 0;
}

// The list file is read for roots that attach names from it; a list file
// that cannot be read leaves the search without one.
void LoadListFile(TCascSearch& search) {
  if (search.listFilePath.empty()) return;
  const uint32_t lastError = GetCascError();
  try {
    auto listFile = std::make_unique<WholeFile>();
    if (ReadWholeFile(search.listFilePath, *listFile) == kErrorSuccess) {
      search.listFile = std::move(listFile);
    }
  } catch (const std::bad_alloc&) {
  }
  SetCascError(lastError);
}

bool StepRootNames(TCascSearch& search, SearchResult& result) {
  ResetResult(result);
  TRootHandler* root = search.storage->root.get();
  ContentEntry* entry = root != nullptr ? root->SearchNext(search, result) : nullptr;
  if (entry == nullptr) return false;
  FillSearchResult(*search.storage, *entry, result);
  return true;
}

bool StepUnnamedEntries(TCascSearch& search, SearchResult& result) {
  ResetResult(result);
  std::span<ContentEntry> entries = search.storage->contents.entries();
  while (search.nextIndex < entries.size()) {
    const ContentEntry& entry = entries[search.nextIndex++];
    if (!IsUnnamed(entry)) continue;
    FillSearchResult(*search.storage, entry, result);
    return true;
  }
  return false;
}

// One step: phases run 0 -> 1 -> 2 -> 3 and never go back. A failed step
// sets no error.
bool SearchStep(TCascSearch& search, SearchResult& result) {
  if (search.phase() == kSearchNotStarted) {
    LoadListFile(search);
    search.EnterPhase(kSearchRootNames);
  }
  if (search.phase() == kSearchRootNames) {
    if (StepRootNames(search, result)) return true;
    search.EnterPhase(kSearchUnnamedEntries);
  }
  if (search.phase() == kSearchUnnamedEntries) {
    // Unnamed entries match only the mask that matches everything.
    if (search.mask != "*") return false;
    if (StepUnnamedEntries(search, result)) return true;
    search.EnterPhase(kSearchFinished);
  }
  return false;
}

TCascSearch* SearchFromHandle(SearchHandle handle) {
  if (!HasSignature(handle, "CASCFIND")) return nullptr;
  return reinterpret_cast<TCascSearch*>(handle);
}

}  // namespace

TCascSearch::~TCascSearch() {
  std::memset(signature, 0, sizeof signature);
  ReleaseStorage(storage);
}

uint64_t SpanFileSize(TCascStorage& storage, const ContentEntry& entry) {
  if (entry.spanCount == 0) return 0;
  const size_t count = SpanEntryCount(storage, entry);
  if (count == 0) return ~uint64_t{0};
  const std::span<const ContentEntry> spans(&entry, count);
  for (uint32_t ContentEntry::*size : {&ContentEntry::contentSize, &ContentEntry::encodedSize}) {
    uint64_t total = 0;
    bool known = true;
    for (const ContentEntry& span : spans) {
      known = known && span.*size != kUnknownSize;
      total += span.*size;
    }
    if (known) return total;
  }
  return ~uint64_t{0};
}

void FillSearchResult(TCascStorage& storage, const ContentEntry& entry, SearchResult& result) {
  std::memcpy(result.ckey, entry.ckey.data(), sizeof result.ckey);
  std::memcpy(result.ekey, entry.ekey.data(), sizeof result.ekey);
  result.tagBitMask = entry.tagBitMask;
  result.spanCount = entry.spanCount;
  result.resultFlags = (result.resultFlags & ~kResultLocal) | (entry.flags & EF_LOCAL ? 1 : 0);
  if (result.fileSize == ~uint64_t{0}) result.fileSize = SpanFileSize(storage, entry);
  if (result.fileName[0] == '\0') GenerateName(entry, result);
  result.plainNameOffset = PlainNameOffset(result.fileName);
}

// A null mask is the mask that matches everything.
extern "C" KESTRINE_API KestrineSearch* kestrine_search_first(KestrineStorage* storageHandle,
                                                              const char* mask,
                                                              KestrineSearchResult* result,
                                                              const char* listFile) try {
  TCascStorage* storage = StorageFromHandle(storageHandle);
  if (storage == nullptr || result == nullptr) {
    SetCascError(kErrorInvalidParameter);
    return nullptr;
  }
  auto search = std::make_unique<TCascSearch>();
  search->mask = mask != nullptr ? mask : "*";
  if (listFile != nullptr) search->listFilePath = listFile;
  search->storage = AcquireStorage(storage);
  std::memset(result, 0, sizeof *result);
  if (!SearchStep(*search, *result)) {
    SetCascError(kErrorFileNotFound);
    return nullptr;  // the handle goes, and its storage reference with it
  }
  return reinterpret_cast<KestrineSearch*>(search.release());
} catch (...) {
  return FailFromException<KestrineSearch*>(nullptr);
}

extern "C" KESTRINE_API bool kestrine_search_next(KestrineSearch* handle,
                                                  KestrineSearchResult* result) try {
  TCascSearch* search = SearchFromHandle(handle);
  if (search == nullptr || result == nullptr) return FailWith(kErrorInvalidParameter);
  return SearchStep(*search, *result);
} catch (...) {
  return FailFromException(false);
}

extern "C" KESTRINE_API bool kestrine_search_close(KestrineSearch* handle) try {
  TCascSearch* search = SearchFromHandle(handle);
  if (search == nullptr) return FailWith(kErrorInvalidParameter);
  delete search;
  return true;
} catch (...) {
  return FailFromException(false);
}

}  // namespace kestrine
