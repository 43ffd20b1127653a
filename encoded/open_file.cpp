// Open files: name resolution, sizes and reading.
#include "common/errors.h"
#include "common/handle.h"

namespace kestrine {

namespace {
constexpr char kStorageSignature[] = "CASCSTOR";
constexpr char kFileSignature[] = "CASCFILE";
}  // namespace

// No storage of this build holds files yet.
bool OpenFileByName(StorageHandle storage, const char* name, FileHandle* file) {
  if (!HasSignature(storage, kStorageSignature)) return FailWith(kErrorInvalidHandle);
  if (name == nullptr || name[0] == '\0' || file == nullptr) {
    return FailWith(kErrorInvalidParameter);
  }
  return FailWith(kErrorFileNotFound);
}

uint32_t GetFileContentSize(FileHandle file, uint64_t* contentSize) {
  if (!HasSignature(file, kFileSignature)) return kErrorInvalidHandle;
  if (contentSize == nullptr) return kErrorInvalidParameter;
  return kErrorNotSupported;
}

bool ReadOpenFile(FileHandle file, void* buffer, uint32_t /*bytesToRead*/,
                  uint32_t* /*bytesRead*/) {
  if (!HasSignature(file, kFileSignature)) return FailWith(kErrorInvalidHandle);
  if (buffer == nullptr) return FailWith(kErrorInvalidParameter);
  return FailWith(kErrorNotSupported);
}

bool CloseFile(FileHandle file) {
  if (!HasSignature(file, kFileSignature)) return FailWith(kErrorInvalidHandle);
  return FailWith(kErrorNotSupported);
}

}  // namespace kestrine
