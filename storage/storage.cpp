#include "storage/storage.h"

#include "roots/root_handler.h"
#include "storage/index_files.h"

namespace kestrine {

TCascStorage::TCascStorage() { vfsRootEntries.reserve(16); }

TCascStorage::~TCascStorage() = default;

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
