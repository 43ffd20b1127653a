// kestrine: a reader of CASC game storages.
//
// Handles are opaque pointers to records that begin with an 8-byte signature
// ("CASCSTOR" storage, "CASCFIND" search, "CASCFILE" open file). A handle is
// valid when it is neither null nor all ones and starts with its signature.
// Operations return a success flag, a handle or an error number; on failure
// the calling thread's last error (GetCascError) holds the reason.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrine {

// ---- Error numbers (Windows-style, kept as the storages' tools know them) ----
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorBadFormat = 11;
inline constexpr uint32_t kErrorHandleEof = 38;  // read past the end
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorDiskFull = 112;  // short write
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorCanNotComplete = 1003;  // size unknown
inline constexpr uint32_t kErrorBlockReadFailed = 1006;
inline constexpr uint32_t kErrorCancelled = 1223;
inline constexpr uint32_t kErrorFileCorrupt = 1392;
inline constexpr uint32_t kErrorNetworkUnreachable = 5035;
inline constexpr uint32_t kErrorUnknownFileKey = 6002;

// The calling thread's last error number.
uint32_t GetCascError();
void SetCascError(uint32_t error);

// ---- Handles ----
using StorageHandle = void*;
using SearchHandle = void*;
using FileHandle = void*;

// ---- Storage open ----

// Called before each major step of the open; returning true cancels it (1223).
using ProgressCallback = bool (*)(void* context, uint32_t stage, const char* name, uint32_t current,
                                  uint32_t total);

// Called when a ".build.info" lists several active products and none was
// chosen; stores the chosen index. False, or an index not below the count,
// cancels the open (1223).
using ProductCallback = bool (*)(void* context, const char** productCodes, uint64_t count,
                                 uint64_t* selectedIndex);

// Open-argument flags.
inline constexpr uint32_t STF_ONLINE_FALLBACK = 0x2000;  // fetch missing manifests online

// Caller-owned; read only during the open. A field is read only when `size`
// covers it (product code from 24, region from 32, locale mask and flags from
// 68, build key from 80, CDN host from 88). The parameter-string segments are
// stored here for the duration of OpenStorage; the caller's own values are
// back in place when it returns.
struct StorageOpenArgs {
  uint64_t size;                      // sizeof(StorageOpenArgs) = 88
  const char* localPath;              // first segment of the parameter string
  const char* productCode;            // optional, one product of the installation
  const char* region;                 // optional two-letter region code
  ProgressCallback progressCallback;  // optional
  void* progressContext;
  ProductCallback productCallback;  // optional
  void* productContext;
  uint32_t localeMask;   // 0: the storage's default
  uint32_t flags;        // STF_ONLINE_FALLBACK, 0x1000
  const char* buildKey;  // optional, 32 hex digits (online storages)
  const char* cdnHost;   // optional host or URL of a content server
};
static_assert(sizeof(void*) == 8, "the record layout assumes 64-bit pointers");
static_assert(offsetof(StorageOpenArgs, productCode) + 8 == 24);
static_assert(offsetof(StorageOpenArgs, region) + 8 == 32);
static_assert(offsetof(StorageOpenArgs, localeMask) + 4 == 68);
static_assert(offsetof(StorageOpenArgs, buildKey) + 8 == 80);
static_assert(sizeof(StorageOpenArgs) == 88);

// Parameter string: local path, then optionally "*" and a CDN host (recognised
// by a '.', '/' or "://"), then optionally "*" product code, "*" region and
// "*" build key. Returns the storage handle, or null with the last error set.
StorageHandle OpenStorage(const char* parameters, StorageOpenArgs* args);

// Drops the caller's reference; the storage goes when its last holder does.
bool CloseStorage(StorageHandle storage);

// ---- Search ----

inline constexpr size_t kMaxPath = 260;

enum SearchNameType : uint32_t {
  kNameFull = 0,    // full name from the root
  kNameFileId = 1,  // "FILE%08X.dat"
  kNameCKey = 2,    // CKey in lower-case hex
  kNameEKey = 3,    // EKey in lower-case hex
};

struct SearchResult {
  char fileName[kMaxPath];  // full path or generated name
  uint8_t ckey[16];
  uint8_t ekey[16];
  uint64_t tagBitMask;
  uint64_t fileSize;      // all ones when unknown
  char* plainName;        // points into fileName, behind the last separator
  uint32_t fileDataId;    // 0xFFFFFFFF when none
  uint32_t localeFlags;   // 0xFFFFFFFF when none
  uint32_t contentFlags;  // 0xFFFFFFFF when none
  uint32_t spanCount;
  uint32_t resultFlags;  // bit 0: the encoded form is present locally
  uint32_t nameType;     // SearchNameType
};

// Starts a search of `mask` ("*" and "?" wildcards); fills the first result.
SearchHandle SearchFirst(StorageHandle storage, const char* mask, SearchResult* result,
                         const char* listFile);
bool SearchNext(SearchHandle search, SearchResult* result);
bool SearchClose(SearchHandle search);

// ---- Files ----

// Opens by full name, by file-data-id name ("File123.dat", "FILE0000007B.dat")
// or by 32 hex digits (CKey first, then EKey).
bool OpenFileByName(StorageHandle storage, const char* name, FileHandle* file);

// Gives the decoded size of the open file; returns 0 or an error number.
uint32_t GetFileContentSize(FileHandle file, uint64_t* contentSize);

// Reads from the file pointer on and advances it; `bytesRead` may be null.
bool ReadOpenFile(FileHandle file, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead);

// Gives the content key (CKey, the MD5 of the decoded content) of a file
// made of one encoded file whose CKey the storage knows. Fails with 2 when
// the file has no such key (several spans, or a CKey the storage never
// learned), 6 for a bad handle, 87 for a null `ckey`. Callers that promise
// exact content compare it with what they read: the storage's reading rules
// are lenient (a truncated archive reads as zeros, an unchecked frame may
// inflate to other bytes), the key is not.
bool GetFileContentKey(FileHandle file, uint8_t ckey[16]);

bool CloseFile(FileHandle file);

// ---- Frame-decryption keys ----

// Adds a 16-byte key for encrypted frames under its 8-byte name (the name's
// bytes read little-endian). A name already known keeps its first key. Fails
// with 87 for a bad storage handle or a null key. Not to be called while
// files of the storage are read on other threads.
bool AddDecryptionKey(StorageHandle storage, uint64_t keyName, const uint8_t key[16]);

// ---- Content keys ----

// An incremental MD5 of decoded content, for callers that read a file in
// pieces and compare the result with GetFileContentKey. Start, then any
// number of updates, then Finish (which leaves the state to be started again).
struct ContentKeyHash {
  alignas(8) uint8_t state[128];
};
void ContentKeyHashStart(ContentKeyHash* hash);
void ContentKeyHashUpdate(ContentKeyHash* hash, const void* data, size_t size);
void ContentKeyHashFinish(ContentKeyHash* hash, uint8_t key[16]);

// ---- Storage information ----

// The mask bit of a four-letter locale code ("enUS" 0x2, "enGB" 0x200,
// "ptPT" 0x10000, ...), compared byte for byte; 0 for a code not in the table.
uint32_t LocaleMaskFromCode(const char* code);

// How the storage found its root.
enum RootFormat : uint32_t {
  kRootNone = 0,             // no root was loaded
  kRootPlainText = 1,        // "name|CKey" lines
  kRootTvfs = 2,             // "TVFS" directory
  kRootInstallManifest = 3,  // the INSTALL manifest, for want of a root
  kRootWow = 4,
  kRootDiablo = 5,
};

// What the storage is, for display. The caller sets `size`; the fields that
// it covers are filled (size 8 fills none), so that a caller built against an
// older, shorter record keeps working.
struct StorageInfo {
  uint64_t size;               // sizeof(StorageInfo)
  char productCode[32];        // empty when the storage names none
  char region[8];              // empty when none
  uint32_t buildFileKind;      // 0 none, 1 ".build.db", 2 ".build.info",
                               // 3 "data\.build.config", 4 "versions"
  uint32_t buildNumber;        // 0 when unknown
  uint32_t localeMask;         // the mask the root was loaded with
  uint32_t rootFormat;         // RootFormat
  uint64_t contentEntries;     // content entries the storage knows
  uint64_t namedFiles;         // files the root names (by name or file id)
  uint64_t localEncodedFiles;  // content entries located in the local archives
  uint64_t totalContentSize;   // sum of the known content sizes of the entries
  uint32_t online;             // 1 for a storage read from content servers
  uint32_t reserved;
  char cacheFolder[260];       // online storages: the local cache folder, else empty
};

// Fills `info` for an open storage. Fails with 87 for a bad storage handle,
// a null `info` or a `size` below 8.
bool GetStorageInfo(StorageHandle storage, StorageInfo* info);

}  // namespace kestrine
