#include "storage/storage.h"

#include "common/handle.h"
#include "encoded/data_archives.h"
#include "encoded/decryption_keys.h"
#include "online/transfer.h"
#include "roots/root_handler.h"
#include "storage/index_files.h"
#include "storage/remote_index.h"

namespace kestrine {

TCascStorage::TCascStorage() {
  vfsRootEntries.reserve(16);
}

TCascStorage::~TCascStorage() {
  if (countedOnline) OnlineStorageClosed();
}

TCascStorage* AcquireStorage(TCascStorage* storage) {
  storage->refCount.fetch_add(1, std::memory_order_relaxed);
  return storage;
}

void ReleaseStorage(TCascStorage* storage) {
  if (storage != nullptr && storage->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete storage;
  }
}

TCascStorage* StorageFromHandle(StorageHandle handle) {
  if (!HasSignature(handle, "CASCSTOR")) return nullptr;
  return reinterpret_cast<TCascStorage*>(handle);
}

bool ProgressCancelled(TCascStorage& storage, uint32_t stage, const char* name, uint32_t current,
                       uint32_t total) {
  StorageOpenArgs* args = storage.openArgs;
  if (args == nullptr || args->size < offsetof(StorageOpenArgs, progressContext) + 8 ||
      args->progressCallback == nullptr) {
    return false;
  }
  return args->progressCallback(args->progressContext, stage, name, current, total);
}

}  // namespace kestrine
