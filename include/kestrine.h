/* kestrine: a reader of CASC game storages.
 *
 * One header for C (C99 and later) and C++. The C names (kestrine_..., Kestrine...)
 * are the library's interface; C++ code may use them or the names in
 * `namespace kestrine` at the end of this header, which are the same calls.
 *
 * Handles are opaque pointers to records that begin with an 8-byte signature
 * ("CASCSTOR" storage, "CASCFIND" search, "CASCFILE" open file). The library
 * checks every handle it is given: a handle is valid when it is neither null
 * nor all ones and starts with its signature. Operations return a success
 * flag, a handle or an error number; on failure the calling thread's last
 * error (kestrine_get_last_error) holds the reason, and kestrine_error_text
 * names it.
 */
#ifndef KESTRINE_H
#define KESTRINE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

/* Marks the exported calls; the shared library hides everything else. */
#if defined(_WIN32)
#define KESTRINE_API
#elif defined(__GNUC__) || defined(__clang__)
#define KESTRINE_API __attribute__((visibility("default")))
#else
#define KESTRINE_API
#endif

/* ---- Version ----
 * The version of this header. kestrine_version() gives the library's, which
 * differs when a program runs against another build than it was compiled
 * with. The build reads its version from these lines. */
#define KESTRINE_VERSION_MAJOR 0
#define KESTRINE_VERSION_MINOR 1
#define KESTRINE_VERSION_PATCH 0
#define KESTRINE_VERSION_STRING "0.1.0"
/* Major, minor and patch packed into one number, 0xMMmmpp. */
#define KESTRINE_VERSION_NUMBER                                                         \
  (((uint32_t)KESTRINE_VERSION_MAJOR << 16) | ((uint32_t)KESTRINE_VERSION_MINOR << 8) | \
   (uint32_t)KESTRINE_VERSION_PATCH)

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Error numbers (Windows-style, kept as the storages' tools know them) ---- */
#define KESTRINE_ERROR_SUCCESS 0
#define KESTRINE_ERROR_FILE_NOT_FOUND 2
#define KESTRINE_ERROR_PATH_NOT_FOUND 3
#define KESTRINE_ERROR_TOO_MANY_OPEN_FILES 4
#define KESTRINE_ERROR_ACCESS_DENIED 5
#define KESTRINE_ERROR_INVALID_HANDLE 6
#define KESTRINE_ERROR_NOT_ENOUGH_MEMORY 8
#define KESTRINE_ERROR_BAD_FORMAT 11
#define KESTRINE_ERROR_HANDLE_EOF 38 /* read past the end */
#define KESTRINE_ERROR_NOT_SUPPORTED 50
#define KESTRINE_ERROR_INVALID_PARAMETER 87
#define KESTRINE_ERROR_DISK_FULL 112 /* short write */
#define KESTRINE_ERROR_INSUFFICIENT_BUFFER 122
#define KESTRINE_ERROR_ALREADY_EXISTS 183
#define KESTRINE_ERROR_CAN_NOT_COMPLETE 1003 /* size unknown, or a fault of the library */
#define KESTRINE_ERROR_BLOCK_READ_FAILED 1006
#define KESTRINE_ERROR_IO_DEVICE 1117
#define KESTRINE_ERROR_CANCELLED 1223
#define KESTRINE_ERROR_FILE_CORRUPT 1392
#define KESTRINE_ERROR_NETWORK_UNREACHABLE 5035
#define KESTRINE_ERROR_UNKNOWN_FILE_KEY 6002
#define KESTRINE_ERROR_HOST_NOT_FOUND 11001

/* The calling thread's last error number. */
KESTRINE_API uint32_t kestrine_get_last_error(void);
KESTRINE_API void kestrine_set_last_error(uint32_t error);

/* A few words for an error number ("file not found"); "unknown error" for a
 * number the library never reports. The text is static. */
KESTRINE_API const char* kestrine_error_text(uint32_t error);

/* The library's version, packed as KESTRINE_VERSION_NUMBER, and as text. */
KESTRINE_API uint32_t kestrine_version(void);
KESTRINE_API const char* kestrine_version_string(void);

/* ---- Handles ---- */
typedef struct KestrineStorage KestrineStorage;
typedef struct KestrineSearch KestrineSearch;
typedef struct KestrineFile KestrineFile;

/* ---- Storage open ---- */

/* Called before each major step of the open; returning true cancels it (1223). */
typedef bool (*KestrineProgressCallback)(void* context, uint32_t stage, const char* name,
                                         uint32_t current, uint32_t total);

/* Called when a ".build.info" lists several active products and none was
 * chosen; stores the chosen index. False, or an index not below the count,
 * cancels the open (1223). */
typedef bool (*KestrineProductCallback)(void* context, const char** productCodes, uint64_t count,
                                        uint64_t* selectedIndex);

/* Open-argument flags. */
#define KESTRINE_OPEN_ONLINE_FALLBACK 0x2000u /* fetch missing manifests online */

/* Caller-owned and only read: the open copies the fields that `size` covers
 * (product code from 24, region from 32, locale mask and flags from 68,
 * build key from 80, CDN host from 88) into a record of its own, adds the
 * segments of the parameter string to that copy, and works from the copy.
 * The callbacks are called during the open only; the strings need to live
 * until kestrine_open_storage returns. */
typedef struct KestrineOpenArgs {
  uint64_t size;                             /* sizeof(KestrineOpenArgs) = 88 */
  const char* localPath;                     /* first segment of the parameter string */
  const char* productCode;                   /* optional, one product of the installation */
  const char* region;                        /* optional two-letter region code */
  KestrineProgressCallback progressCallback; /* optional */
  void* progressContext;
  KestrineProductCallback productCallback; /* optional */
  void* productContext;
  uint32_t localeMask;  /* 0: the storage's default */
  uint32_t flags;       /* KESTRINE_OPEN_ONLINE_FALLBACK */
  const char* buildKey; /* optional, 32 hex digits (online storages) */
  const char* cdnHost;  /* optional host or URL of a content server */
} KestrineOpenArgs;

/* Parameter string: local path, then optionally "*" and a CDN host (recognised
 * by a '.', '/' or "://"), then optionally "*" product code, "*" region and
 * "*" build key. Returns the storage handle, or null with the last error set. */
KESTRINE_API KestrineStorage* kestrine_open_storage(const char* parameters,
                                                    const KestrineOpenArgs* args);

/* Drops the caller's reference; the storage goes when its last holder does
 * (open searches and files hold one). */
KESTRINE_API bool kestrine_close_storage(KestrineStorage* storage);

/* ---- Search ---- */

#define KESTRINE_MAX_PATH 260

/* KestrineSearchResult.nameType */
#define KESTRINE_NAME_FULL 0    /* full name from the root */
#define KESTRINE_NAME_FILE_ID 1 /* "FILE%08X.dat" */
#define KESTRINE_NAME_CKEY 2    /* CKey in lower-case hex */
#define KESTRINE_NAME_EKEY 3    /* EKey in lower-case hex */

/* A plain record: it may be copied. The plain name (behind the last
 * separator) is `fileName + plainNameOffset`. */
typedef struct KestrineSearchResult {
  char fileName[KESTRINE_MAX_PATH]; /* full path or generated name */
  uint8_t ckey[16];
  uint8_t ekey[16];
  uint64_t tagBitMask;
  uint64_t fileSize;        /* all ones when unknown */
  uint32_t plainNameOffset; /* where the plain name starts in fileName */
  uint32_t reserved;
  uint32_t fileDataId;   /* 0xFFFFFFFF when none */
  uint32_t localeFlags;  /* 0xFFFFFFFF when none */
  uint32_t contentFlags; /* 0xFFFFFFFF when none */
  uint32_t spanCount;
  uint32_t resultFlags; /* bit 0: the encoded form is present locally */
  uint32_t nameType;    /* KESTRINE_NAME_... */
} KestrineSearchResult;

/* Starts a search of `mask` ("*" and "?" wildcards; null matches everything)
 * and fills the first result. Null with 2 when nothing matches. The search
 * holds a reference to its storage. */
KESTRINE_API KestrineSearch* kestrine_search_first(KestrineStorage* storage, const char* mask,
                                                   KestrineSearchResult* result,
                                                   const char* listFile);
/* The next result; false at the end. */
KESTRINE_API bool kestrine_search_next(KestrineSearch* search, KestrineSearchResult* result);
KESTRINE_API bool kestrine_search_close(KestrineSearch* search);

/* ---- Files ---- */

/* Opens by full name, by file-data-id name ("File123.dat", "FILE0000007B.dat")
 * or by 32 hex digits (CKey first, then EKey). */
KESTRINE_API bool kestrine_open_file(KestrineStorage* storage, const char* name,
                                     KestrineFile** file);

/* Gives the decoded size of the open file; returns 0 or an error number. */
KESTRINE_API uint32_t kestrine_get_file_size(KestrineFile* file, uint64_t* contentSize);

/* Reads from the file pointer on and advances it; `bytesRead` may be null. */
KESTRINE_API bool kestrine_read_file(KestrineFile* file, void* buffer, uint32_t bytesToRead,
                                     uint32_t* bytesRead);

/* Gives the content key (CKey, the MD5 of the decoded content) of a file
 * made of one encoded file whose CKey the storage knows. Fails with 2 when
 * the file has no such key (several spans, or a CKey the storage never
 * learned), 6 for a bad handle, 87 for a null `ckey`. Callers that promise
 * exact content compare it with what they read: the storage's reading rules
 * are lenient (a truncated archive reads as zeros, an unchecked frame may
 * inflate to other bytes), the key is not. */
KESTRINE_API bool kestrine_get_file_content_key(KestrineFile* file, uint8_t ckey[16]);

KESTRINE_API bool kestrine_close_file(KestrineFile* file);

/* ---- Frame-decryption keys ---- */

/* Adds a 16-byte key for encrypted frames under its 8-byte name (the name's
 * bytes read little-endian). A name already known keeps its first key. Fails
 * with 87 for a bad storage handle or a null key. Not to be called while
 * files of the storage are read on other threads. */
KESTRINE_API bool kestrine_add_decryption_key(KestrineStorage* storage, uint64_t keyName,
                                              const uint8_t key[16]);

/* ---- Content keys ---- */

/* An incremental MD5 of decoded content, for callers that read a file in
 * pieces and compare the result with kestrine_get_file_content_key. Start,
 * then any number of updates, then finish (which leaves the state to be
 * started again). */
typedef struct KestrineContentKeyHash {
  uint64_t state[16]; /* 128 bytes, 8-byte aligned */
} KestrineContentKeyHash;
KESTRINE_API void kestrine_content_key_hash_start(KestrineContentKeyHash* hash);
KESTRINE_API void kestrine_content_key_hash_update(KestrineContentKeyHash* hash, const void* data,
                                                   size_t size);
KESTRINE_API void kestrine_content_key_hash_finish(KestrineContentKeyHash* hash, uint8_t key[16]);

/* ---- Storage information ---- */

/* The mask bit of a four-letter locale code ("enUS" 0x2, "enGB" 0x200,
 * "ptPT" 0x10000, ...), compared byte for byte; 0 for a code not in the table. */
KESTRINE_API uint32_t kestrine_locale_mask_from_code(const char* code);

/* KestrineStorageInfo.rootFormat: how the storage found its root. */
#define KESTRINE_ROOT_NONE 0             /* no root was loaded */
#define KESTRINE_ROOT_PLAIN_TEXT 1       /* "name|CKey" lines */
#define KESTRINE_ROOT_TVFS 2             /* "TVFS" directory */
#define KESTRINE_ROOT_INSTALL_MANIFEST 3 /* the INSTALL manifest, for want of a root */
#define KESTRINE_ROOT_WOW 4
#define KESTRINE_ROOT_DIABLO 5

/* What the storage is, for display. The caller sets `size`; the fields that
 * it covers are filled (size 8 fills none), so that a caller built against an
 * older, shorter record keeps working. New fields are only ever appended. */
typedef struct KestrineStorageInfo {
  uint64_t size;              /* sizeof(KestrineStorageInfo) */
  char productCode[32];       /* empty when the storage names none */
  char region[8];             /* empty when none */
  uint32_t buildFileKind;     /* 0 none, 1 ".build.db", 2 ".build.info",
                                 3 "data\.build.config", 4 "versions" */
  uint32_t buildNumber;       /* 0 when unknown */
  uint32_t localeMask;        /* the mask the root was loaded with */
  uint32_t rootFormat;        /* KESTRINE_ROOT_... */
  uint64_t contentEntries;    /* content entries the storage knows */
  uint64_t namedFiles;        /* files the root names (by name or file id) */
  uint64_t localEncodedFiles; /* content entries located in the local archives */
  uint64_t totalContentSize;  /* sum of the known content sizes of the entries */
  uint32_t online;            /* 1 for a storage read from content servers */
  uint32_t reserved;
  char cacheFolder[260]; /* online storages: the local cache folder, else empty */
} KestrineStorageInfo;

/* Fills `info` for an open storage. Fails with 87 for a bad storage handle,
 * a null `info` or a `size` below 8. */
KESTRINE_API bool kestrine_get_storage_info(KestrineStorage* storage, KestrineStorageInfo* info);

#ifdef __cplusplus
} /* extern "C" */

// ---- The same calls under the names of the library's C++ code ----
namespace kestrine {

static_assert(sizeof(void*) == 8, "the record layouts assume 64-bit pointers");

inline constexpr uint32_t kErrorSuccess = KESTRINE_ERROR_SUCCESS;
inline constexpr uint32_t kErrorFileNotFound = KESTRINE_ERROR_FILE_NOT_FOUND;
inline constexpr uint32_t kErrorPathNotFound = KESTRINE_ERROR_PATH_NOT_FOUND;
inline constexpr uint32_t kErrorTooManyOpenFiles = KESTRINE_ERROR_TOO_MANY_OPEN_FILES;
inline constexpr uint32_t kErrorAccessDenied = KESTRINE_ERROR_ACCESS_DENIED;
inline constexpr uint32_t kErrorInvalidHandle = KESTRINE_ERROR_INVALID_HANDLE;
inline constexpr uint32_t kErrorNotEnoughMemory = KESTRINE_ERROR_NOT_ENOUGH_MEMORY;
inline constexpr uint32_t kErrorBadFormat = KESTRINE_ERROR_BAD_FORMAT;
inline constexpr uint32_t kErrorHandleEof = KESTRINE_ERROR_HANDLE_EOF;
inline constexpr uint32_t kErrorNotSupported = KESTRINE_ERROR_NOT_SUPPORTED;
inline constexpr uint32_t kErrorInvalidParameter = KESTRINE_ERROR_INVALID_PARAMETER;
inline constexpr uint32_t kErrorDiskFull = KESTRINE_ERROR_DISK_FULL;
inline constexpr uint32_t kErrorInsufficientBuffer = KESTRINE_ERROR_INSUFFICIENT_BUFFER;
inline constexpr uint32_t kErrorAlreadyExists = KESTRINE_ERROR_ALREADY_EXISTS;
inline constexpr uint32_t kErrorCanNotComplete = KESTRINE_ERROR_CAN_NOT_COMPLETE;
inline constexpr uint32_t kErrorBlockReadFailed = KESTRINE_ERROR_BLOCK_READ_FAILED;
inline constexpr uint32_t kErrorIoDevice = KESTRINE_ERROR_IO_DEVICE;
inline constexpr uint32_t kErrorCancelled = KESTRINE_ERROR_CANCELLED;
inline constexpr uint32_t kErrorFileCorrupt = KESTRINE_ERROR_FILE_CORRUPT;
inline constexpr uint32_t kErrorNetworkUnreachable = KESTRINE_ERROR_NETWORK_UNREACHABLE;
inline constexpr uint32_t kErrorUnknownFileKey = KESTRINE_ERROR_UNKNOWN_FILE_KEY;
inline constexpr uint32_t kErrorHostNotFound = KESTRINE_ERROR_HOST_NOT_FOUND;

inline uint32_t GetCascError() {
  return kestrine_get_last_error();
}
inline void SetCascError(uint32_t error) {
  kestrine_set_last_error(error);
}
inline const char* ErrorText(uint32_t error) {
  return kestrine_error_text(error);
}
inline uint32_t LibraryVersion() {
  return kestrine_version();
}
inline const char* LibraryVersionString() {
  return kestrine_version_string();
}

using StorageHandle = KestrineStorage*;
using SearchHandle = KestrineSearch*;
using FileHandle = KestrineFile*;

using ProgressCallback = KestrineProgressCallback;
using ProductCallback = KestrineProductCallback;
inline constexpr uint32_t STF_ONLINE_FALLBACK = KESTRINE_OPEN_ONLINE_FALLBACK;

using StorageOpenArgs = KestrineOpenArgs;
static_assert(offsetof(StorageOpenArgs, productCode) + 8 == 24);
static_assert(offsetof(StorageOpenArgs, region) + 8 == 32);
static_assert(offsetof(StorageOpenArgs, localeMask) + 4 == 68);
static_assert(offsetof(StorageOpenArgs, buildKey) + 8 == 80);
static_assert(sizeof(StorageOpenArgs) == 88);

inline StorageHandle OpenStorage(const char* parameters, const StorageOpenArgs* args) {
  return kestrine_open_storage(parameters, args);
}
inline bool CloseStorage(StorageHandle storage) {
  return kestrine_close_storage(storage);
}

inline constexpr size_t kMaxPath = KESTRINE_MAX_PATH;

enum SearchNameType : uint32_t {
  kNameFull = KESTRINE_NAME_FULL,
  kNameFileId = KESTRINE_NAME_FILE_ID,
  kNameCKey = KESTRINE_NAME_CKEY,
  kNameEKey = KESTRINE_NAME_EKEY,
};

using SearchResult = KestrineSearchResult;

// The plain name of a result: behind the last separator of its full name.
inline const char* PlainName(const SearchResult& result) {
  return result.fileName + result.plainNameOffset;
}

inline SearchHandle SearchFirst(StorageHandle storage, const char* mask, SearchResult* result,
                                const char* listFile) {
  return kestrine_search_first(storage, mask, result, listFile);
}
inline bool SearchNext(SearchHandle search, SearchResult* result) {
  return kestrine_search_next(search, result);
}
inline bool SearchClose(SearchHandle search) {
  return kestrine_search_close(search);
}

inline bool OpenFileByName(StorageHandle storage, const char* name, FileHandle* file) {
  return kestrine_open_file(storage, name, file);
}
inline uint32_t GetFileContentSize(FileHandle file, uint64_t* contentSize) {
  return kestrine_get_file_size(file, contentSize);
}
inline bool ReadOpenFile(FileHandle file, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead) {
  return kestrine_read_file(file, buffer, bytesToRead, bytesRead);
}
inline bool GetFileContentKey(FileHandle file, uint8_t ckey[16]) {
  return kestrine_get_file_content_key(file, ckey);
}
inline bool CloseFile(FileHandle file) {
  return kestrine_close_file(file);
}

inline bool AddDecryptionKey(StorageHandle storage, uint64_t keyName, const uint8_t key[16]) {
  return kestrine_add_decryption_key(storage, keyName, key);
}

using ContentKeyHash = KestrineContentKeyHash;
inline void ContentKeyHashStart(ContentKeyHash* hash) {
  kestrine_content_key_hash_start(hash);
}
inline void ContentKeyHashUpdate(ContentKeyHash* hash, const void* data, size_t size) {
  kestrine_content_key_hash_update(hash, data, size);
}
inline void ContentKeyHashFinish(ContentKeyHash* hash, uint8_t key[16]) {
  kestrine_content_key_hash_finish(hash, key);
}

inline uint32_t LocaleMaskFromCode(const char* code) {
  return kestrine_locale_mask_from_code(code);
}

enum RootFormat : uint32_t {
  kRootNone = KESTRINE_ROOT_NONE,
  kRootPlainText = KESTRINE_ROOT_PLAIN_TEXT,
  kRootTvfs = KESTRINE_ROOT_TVFS,
  kRootInstallManifest = KESTRINE_ROOT_INSTALL_MANIFEST,
  kRootWow = KESTRINE_ROOT_WOW,
  kRootDiablo = KESTRINE_ROOT_DIABLO,
};

using StorageInfo = KestrineStorageInfo;

inline bool GetStorageInfo(StorageHandle storage, StorageInfo* info) {
  return kestrine_get_storage_info(storage, info);
}

}  // namespace kestrine
#endif /* __cplusplus */

#endif /* KESTRINE_H */
