#include "storage/load_storage.h"

#include <cctype>
#include <span>

#include "common/path_builder.h"
#include "common/platform.h"
#include "encoded/decryption_keys.h"
#include "encoded/stream.h"
#include "online/online_open.h"
#include "online/transfer.h"
#include "roots/load_root.h"
#include "storage/build_info.h"
#include "storage/config_entries.h"
#include "storage/config_files.h"
#include "storage/download_manifest.h"
#include "storage/encoding_manifest.h"
#include "storage/index_files.h"

namespace kestrine {

namespace {

// Builds whose configuration names no build number get one derived from the
// install manifest's size; this one is known to be the "wow" product.
constexpr uint32_t kBuildNumberBase = 21742;
constexpr uint32_t kWowBuildWithoutProduct = 22267;

// Where the location sits in an index entry, and the archive-offset bits, of
// storages keyed by full EKeys.
constexpr uint32_t kFullKeyLocationPosition = 16;
constexpr uint32_t kFullKeyOffsetBits = 40;

constexpr size_t kProductCodeEnd = offsetof(StorageOpenArgs, productCode) + 8;
constexpr size_t kRegionEnd = offsetof(StorageOpenArgs, region) + 8;
constexpr size_t kLocaleMaskEnd = offsetof(StorageOpenArgs, localeMask) + 4;
constexpr size_t kFlagsEnd = offsetof(StorageOpenArgs, flags) + 4;
constexpr size_t kBuildKeyEnd = offsetof(StorageOpenArgs, buildKey) + 8;
constexpr size_t kCdnHostEnd = offsetof(StorageOpenArgs, cdnHost) + 8;

std::string CopyField(const StorageOpenArgs& args, const char* StorageOpenArgs::*field,
                      size_t fieldEnd) {
  const char* value = args.size >= fieldEnd ? args.*field : nullptr;
  return value ? value : "";
}

void CopyArguments(TCascStorage& storage, StorageOpenArgs& args) {
  storage.openArgs = &args;
  storage.cdnHostArg = CopyField(args, &StorageOpenArgs::cdnHost, kCdnHostEnd);
  storage.productCode = CopyField(args, &StorageOpenArgs::productCode, kProductCodeEnd);
  storage.region = CopyField(args, &StorageOpenArgs::region, kRegionEnd);
  storage.buildKeyOverride = CopyField(args, &StorageOpenArgs::buildKey, kBuildKeyEnd);
}

uint32_t ArgsFlags(const StorageOpenArgs& args) {
  return args.size >= kFlagsEnd ? args.flags : 0;
}

void SetDirectories(TCascStorage& storage) {
  if (storage.kind == BUILD_CONFIG) {
    storage.dataPath = ParentPath(storage.buildFile);
    storage.rootPath = ParentPath(storage.dataPath);
    storage.locationPosition = kFullKeyLocationPosition;
    storage.archiveOffsetBits = kFullKeyOffsetBits;
  } else {
    storage.rootPath = ParentPath(storage.buildFile);
  }
}

// The first of the known data directory names below the root that holds a
// "config" folder and a "data" (or "darch") folder.
void FindDataDirectory(TCascStorage& storage) {
  for (const char* name : kDataDirectoryNames) {
    std::string data = CombinePath({storage.rootPath, name});
    std::string config = CombinePath({data, "config"});
    if (!platform::IsDirectory(data) || !platform::IsDirectory(config)) continue;
    for (const char* archives : {"data", "darch"}) {
      std::string archive = CombinePath({data, archives});
      if (!platform::IsDirectory(archive)) continue;
      storage.dataPath = data;
      storage.configPath = config;
      storage.archivePath = archive;
      return;
    }
  }
  storage.features &= ~STF_DATA_DIRS;
}

// Two characters that read, upper-cased, as '0'..'9', ':'..'@' or 'A'..'F'.
bool IsHexFolderName(std::string_view name) {
  if (name.size() != 2) return false;
  for (char c : name) {
    int upper = std::toupper(static_cast<unsigned char>(c));
    if (upper < 0x30 || upper > 0x46) return false;
  }
  return true;
}

void FindHexDataDirectory(TCascStorage& storage) {
  std::string data = CombinePath({storage.rootPath, "data"});
  bool found = storage.IsOnline();
  if (!found) {
    platform::ListDirectory(data, [&](std::string_view name, bool isDirectory) {
      found = isDirectory && IsHexFolderName(name);
      return !found;
    });
  }
  if (found) {
    storage.hexDataPath = data;
  } else {
    storage.features &= ~STF_HEX_DATA_DIR;
  }
}

uint32_t LoadBuildInformation(TCascStorage& storage) {
  switch (storage.kind) {
    case BUILD_DB:
      return LoadBuildDb(storage, storage.buildFile);
    case BUILD_INFO:
      return LoadBuildInfo(storage, storage.buildFile);
    case BUILD_CONFIG: {
      WholeFile file;
      if (uint32_t error = ReadWholeLocalFile(storage.buildFile, file)) {
        return error == kErrorNotEnoughMemory ? error : kErrorFileNotFound;
      }
      return ParseBuildConfig(storage, file.bytes);
    }
    case BUILD_VERSIONS:
      return LoadServiceTables(storage);
    default:
      return kErrorNotSupported;
  }
}

// A local storage opens without its CDN configuration: that file only
// matters to online storages. Running out of memory still fails the open.
uint32_t LoadCdnConfiguration(TCascStorage& storage) {
  if (storage.cdnConfigKey.empty()) return kErrorSuccess;
  uint32_t result = ProgressCancelled(storage, kStageConfig, "CDN config", 0, 0)
                        ? kErrorCancelled
                        : LoadKeyedConfig(storage, storage.cdnConfigKey, ParseCdnConfig);
  return storage.IsOnline() || result == kErrorNotEnoughMemory ? result : kErrorSuccess;
}

uint32_t LoadBuildConfiguration(TCascStorage& storage) {
  if (storage.kind == BUILD_CONFIG) return kErrorSuccess;
  if (ProgressCancelled(storage, kStageConfig, "CDN build", 0, 0)) return kErrorCancelled;
  return LoadKeyedConfig(storage, storage.buildConfigKey, ParseBuildConfig);
}

void ApplyBuildNumberFallback(TCascStorage& storage) {
  if (storage.buildNumber == 0) {
    storage.buildNumber = storage.installEntry.contentSize + kBuildNumberBase;
  }
  if (storage.productCode.empty() && storage.buildNumber == kWowBuildWithoutProduct) {
    storage.productCode = "wow";
  }
}

uint32_t CreateKeyTables(TCascStorage& storage) {
  size_t ekeyLength = storage.kind == BUILD_CONFIG ? 16 : 9;
  return storage.contents.Create(storage.encodingEntry.contentSize,
                                 storage.downloadEntry.contentSize, ekeyLength);
}

std::function<void(TCascStorage&)>& LocalIndexHook() {
  static std::function<void(TCascStorage&)> hook;
  return hook;
}

uint32_t LoadLocalIndex(TCascStorage& storage) {
  if (storage.kind == BUILD_CONFIG) {
    // These storages have no index files: their build configuration
    // locates every file it names.
    InsertConfigEntries(storage);
    return kErrorSuccess;
  }
  // An online storage has no local index: the content servers' archive
  // indexes tell where each encoded file is.
  if (storage.kind == BUILD_VERSIONS) return LoadArchiveIndexes(storage);
  if (ProgressCancelled(storage, kStageIndexFiles, nullptr, 0, 0)) return kErrorCancelled;
  uint32_t result = LoadIndexFiles(storage);
  if (result == kErrorSuccess && LocalIndexHook()) LocalIndexHook()(storage);
  return result;
}

// The encoding manifest creates most content entries; the download manifest
// adds the files known only by EKey, priorities and tags. A storage keyed by
// its build configuration has only the entries that configuration names.
uint32_t LoadManifests(TCascStorage& storage) {
  if (storage.kind == BUILD_CONFIG) return kErrorSuccess;
  if (uint32_t error = LoadEncodingManifest(storage)) return error;
  return LoadDownloadManifest(storage);
}

uint32_t RunLoadSteps(TCascStorage& storage) {
  SetDirectories(storage);
  if (storage.kind != BUILD_CONFIG) {
    if (storage.features & STF_DATA_DIRS) FindDataDirectory(storage);
    if (storage.features & STF_HEX_DATA_DIR) FindHexDataDirectory(storage);
  }
  if (storage.IsOnline()) {
    // Shared connections to the content servers live while an online
    // storage is open.
    OnlineStorageOpened();
    storage.countedOnline = true;
  }
  if (uint32_t error = LoadBuildInformation(storage)) return error;
  if (uint32_t error = LoadCdnConfiguration(storage)) return error;
  if (uint32_t error = LoadBuildConfiguration(storage)) return error;
  ApplyBuildNumberFallback(storage);
  if (uint32_t error = CreateKeyTables(storage)) return error;
  if (uint32_t error = LoadLocalIndex(storage)) return error;
  if (uint32_t error = LoadManifests(storage)) return error;
  return LoadRootStep(storage);
}

}  // namespace

void SetLocalIndexHookForTesting(std::function<void(TCascStorage&)> hook) {
  LocalIndexHook() = std::move(hook);
}

uint32_t LoadStorage(TCascStorage& storage, StorageOpenArgs& args, const BuildFileInfo& buildFile,
                     uint32_t initialFeatures) {
  CopyArguments(storage, args);
  storage.requestedLocaleMask = args.size >= kLocaleMaskEnd ? args.localeMask : 0;
  storage.kind = buildFile.kind;
  // Of the features found before the open: the data folder's layout and online access.
  constexpr uint32_t kKeptFeatures =
      STF_DATA_DIRS | STF_HEX_DATA_DIR | STF_ONLINE | STF_ONLINE_FALLBACK;
  storage.features |= (initialFeatures & kKeptFeatures) | (ArgsFlags(args) & STF_VERSIONS_FLAG) |
                      (buildFile.kind == BUILD_VERSIONS ? STF_ONLINE : 0);
  storage.buildFile = buildFile.path;

  uint32_t result = RunLoadSteps(storage);
  if (result == kErrorSuccess) FillKnownDecryptionKeys(storage);

  // The index files and their map are needed only while the open copies
  // locations into content entries.
  storage.localIndex.reset();
  storage.openArgs = nullptr;
  return result;
}

}  // namespace kestrine
