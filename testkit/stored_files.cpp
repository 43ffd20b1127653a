#include "testkit/stored_files.h"

#include "storage/load_storage.h"
#include "storage/storage.h"

namespace kestrine::testkit {

void AddStoredFiles(InstallationPlan& layout, std::span<const StoredFile> files) {
  for (const StoredFile& file : files) layout.files.push_back({file.ekey, file.encoded});
}

StorageHandle OpenWithContentEntries(const std::filesystem::path& path,
                                     std::span<const StoredFile> files) {
  SetLocalIndexHookForTesting(
      [files](TCascStorage& storage) { InsertContentEntries(storage, files); });
  StorageOpenArgs args{};
  args.size = sizeof(args);
  StorageHandle storage = OpenStorage(path.string().c_str(), &args);
  const uint32_t error = GetCascError();
  SetLocalIndexHookForTesting(nullptr);
  SetCascError(error);
  return storage;
}

}  // namespace kestrine::testkit
