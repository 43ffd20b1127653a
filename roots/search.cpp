// Search over the names of a storage.
#include "common/errors.h"
#include "common/handle.h"

namespace kestrine {

namespace {
constexpr char kStorageSignature[] = "CASCSTOR";
constexpr char kSearchSignature[] = "CASCFIND";
}  // namespace

// No storage of this build carries a root yet, so no search can start.
SearchHandle SearchFirst(StorageHandle storage, const char* mask, SearchResult* result,
                         const char* /*listFile*/) {
  if (!HasSignature(storage, kStorageSignature) || mask == nullptr || result == nullptr) {
    SetCascError(kErrorInvalidParameter);
    return nullptr;
  }
  SetCascError(kErrorNotSupported);
  return nullptr;
}

bool SearchNext(SearchHandle search, SearchResult* result) {
  if (!HasSignature(search, kSearchSignature) || result == nullptr) {
    return FailWith(kErrorInvalidParameter);
  }
  return FailWith(kErrorNotSupported);
}

bool SearchClose(SearchHandle search) {
  if (!HasSignature(search, kSearchSignature)) return FailWith(kErrorInvalidParameter);
  return FailWith(kErrorNotSupported);
}

}  // namespace kestrine
