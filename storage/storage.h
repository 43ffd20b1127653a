// The storage handle ("CASCSTOR"): everything an open storage holds.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "kestrine.h"
#include "storage/content_entry.h"
#include "storage/key_tables.h"
#include "storage/span_records.h"

namespace kestrine {

class LocalIndex;
class TRootHandler;
class DataArchiveTable;
class DecryptionKeyTable;
class RemoteArchiveMap;

enum BuildFileKind : uint32_t {
  BUILD_NONE = 0,
  BUILD_DB = 1,        // ".build.db"
  BUILD_INFO = 2,      // ".build.info"
  BUILD_CONFIG = 3,    // "data\.build.config"
  BUILD_VERSIONS = 4,  // "versions" (online)
};

// Storage feature flags.
inline constexpr uint32_t STF_HAS_TAGS = 0x4;
inline constexpr uint32_t STF_DATA_DIRS = 0x100;
inline constexpr uint32_t STF_HEX_DATA_DIR = 0x200;
inline constexpr uint32_t STF_ONLINE = 0x400;
inline constexpr uint32_t STF_VERSIONS_FLAG = 0x1000;  // read by the online version fetch only
// STF_ONLINE_FALLBACK (0x2000) is public, in kestrine.h.

// Progress stages reported through ProgressCallback.
inline constexpr uint32_t kStageConfig = 0;
inline constexpr uint32_t kStageManifest = 1;
inline constexpr uint32_t kStageIndexFiles = 3;
inline constexpr uint32_t kStageArchiveIndexes = 4;

// A list of 16-byte keys (a single key for the configuration keys).
using KeyList = std::vector<Key16>;

struct DownloadTag {
  std::string name;
  uint32_t type = 0;
};

struct TCascStorage {
  TCascStorage();
  ~TCascStorage();
  TCascStorage(const TCascStorage&) = delete;
  TCascStorage& operator=(const TCascStorage&) = delete;

  // identity
  char signature[8] = {'C', 'A', 'S', 'C', 'S', 'T', 'O', 'R'};
  StorageOpenArgs* openArgs = nullptr;  // only during the open
  std::mutex lock;                      // guards the archive stream table

  // strings; empty means "not set"
  std::string productCode;
  std::string rootPath;     // installation root
  std::string dataPath;     // data directory
  std::string archivePath;  // index files and data archives
  std::string hexDataPath;  // "data" folder with two-hex-digit sub-folders
  std::string configPath;   // configuration folder
  std::string buildFile;    // path of the build file
  std::string cdnHostArg;   // CDN host from the arguments
  std::string cdnHosts;     // from the build information
  std::string cdnPath;      // from the build information
  std::string region;
  std::string buildKeyOverride;

  // numbers
  uint32_t localeMask = 0;           // from the build information's tags or the region
  uint32_t requestedLocaleMask = 0;  // from the open arguments; 0 = the storage's own
  uint32_t buildNumber = 0;
  std::atomic<uint32_t> refCount{1};
  uint32_t features = 0;  // STF_*
  BuildFileKind kind = BUILD_NONE;
  RootFormat rootFormat = kRootNone;  // of the handler in `root`

  // configuration keys and the CDN configuration's lists
  KeyList cdnConfigKey;
  KeyList buildConfigKey;
  KeyList archiveGroup;
  KeyList archives;
  KeyList patchArchives;
  KeyList patchArchiveGroup;
  KeyList builds;

  // manifest entries named by the build configuration
  ContentEntry encodingEntry;
  ContentEntry downloadEntry;
  ContentEntry installEntry;
  ContentEntry patchEntry;
  ContentEntry rootEntry;
  ContentEntry sizeEntry;
  ContentEntry vfsRootEntry;
  std::vector<ContentEntry> vfsRootEntries;

  // local index: the loaded index files and the index map live only during
  // the open; the two numbers stay.
  std::unique_ptr<LocalIndex> localIndex;
  uint32_t locationPosition = 0;   // where the location sits in an index entry; 0 unknown
  uint32_t archiveOffsetBits = 0;  // low bits of a storage offset; 0 unknown (read as 30)

  // key tables
  ContentTables contents;
  std::vector<DownloadTag> downloadTags;
  size_t entriesAfterDownload = 0;
  size_t entriesAtEnd = 0;      // BUILD_CONFIG storages
  SpanRecordTable spanRecords;  // files of several spans named by the root

  std::unique_ptr<TRootHandler> root;

  // encoded file access: the "data.%03u" archive streams, opened on first
  // use under `lock`, and the frame-decryption keys
  std::unique_ptr<DataArchiveTable> dataArchives;
  std::unique_ptr<DecryptionKeyTable> decryptionKeys;

  // online storages: where the archive indexes of the content servers place
  // each encoded file, and whether the storage counts among the open ones
  std::unique_ptr<RemoteArchiveMap> remoteArchives;
  bool countedOnline = false;

  uint32_t OffsetBits() const { return archiveOffsetBits ? archiveOffsetBits : 30; }
  bool IsOnline() const { return (features & STF_ONLINE) != 0; }
  // The locale the root is read for: the caller's, else the storage's own.
  uint32_t EffectiveLocaleMask() const {
    return requestedLocaleMask != 0 ? requestedLocaleMask : localeMask;
  }
};

// Takes one more reference to the storage (a search handle or an open file).
TCascStorage* AcquireStorage(TCascStorage* storage);
// Drops one reference; the last one destroys the storage.
void ReleaseStorage(TCascStorage* storage);
// One reference to a storage, dropped when the owner goes: a storage being
// opened is held by one, so that every way out of the open releases it.
struct StorageReferenceDrop {
  void operator()(TCascStorage* storage) const { ReleaseStorage(storage); }
};
using StorageReference = std::unique_ptr<TCascStorage, StorageReferenceDrop>;
// The storage behind a public handle, or null when the handle is not one.
TCascStorage* StorageFromHandle(StorageHandle handle);
// The public handle of a storage record (which starts with its signature).
inline StorageHandle HandleOf(TCascStorage* storage) {
  return reinterpret_cast<StorageHandle>(storage);
}

// Reports progress to the open's callback, if any. True when the callback
// asks to cancel the open.
bool ProgressCancelled(TCascStorage& storage, uint32_t stage, const char* name, uint32_t current,
                       uint32_t total);

}  // namespace kestrine
