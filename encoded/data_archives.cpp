#include "encoded/data_archives.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "common/errors.h"
#include "common/path_builder.h"
#include "storage/storage.h"

namespace kestrine {

std::string DataArchiveFileName(const TCascStorage& storage, uint32_t archiveIndex) {
  char name[32];
  if (storage.kind == BUILD_CONFIG) {
    std::snprintf(name, sizeof(name), "%02u-%08x.data", archiveIndex >> 8, archiveIndex & 0xFF);
  } else {
    std::snprintf(name, sizeof(name), "data.%03u", archiveIndex);
  }
  return name;
}

TStream* SharedArchiveStream(TCascStorage& storage, uint32_t archiveIndex) {
  if (archiveIndex >= kMaxDataArchives) {
    FailWith(kErrorFileNotFound);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(storage.lock);
  if (!storage.dataArchives) storage.dataArchives = std::make_unique<DataArchiveTable>();
  StreamPtr& slot = storage.dataArchives->streams[archiveIndex];
  if (!slot) {
    std::string path =
        CombinePath({storage.archivePath, DataArchiveFileName(storage, archiveIndex)});
    slot.reset(OpenLocalStream(path, kArchiveOpenFlags));
  }
  return slot.get();
}

StreamPtr OpenOwnArchiveStream(const TCascStorage& storage, uint32_t archiveIndex) {
  std::string path = CombinePath({storage.dataPath, DataArchiveFileName(storage, archiveIndex)});
  return StreamPtr(OpenLocalStream(path, kArchiveOpenFlags));
}

}  // namespace kestrine
