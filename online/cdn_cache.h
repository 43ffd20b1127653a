// The local cache of an online storage, filled from its content servers.
//
// Every file of a content server has a key; cache and server keep it under
// the same relative name, one folder per kind and two folders of two hex
// digits each:
//
//   cache:  <base>\data\ab\cd\abcd0123...ef.index
//   server: http://<host>/<cdn path>/data/ab/cd/abcd0123...ef.index
//
// A file in the cache is used as soon as it exists and is not empty; nothing
// expires. So that a file cut short (a broken connection, a full disk, a
// crash) is never taken for a whole one, a download goes to a temporary file
// beside its final name and is renamed into place only once complete and on
// the disk.
//
// A piece of a remote archive is fetched with a range request and cached as
// "<archive key>-<offset>-<size>.piece", a name no whole file has.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/hex_key.h"

namespace kestrine {

struct TCascStorage;

enum CdnFileKind : uint32_t {
  kCdnConfig = 0,  // "config"
  kCdnData = 1,    // "data"
  kCdnPatch = 2,   // "patch"
};

// Downloads have at least one byte and less than 1 GiB.
inline constexpr uint64_t kMaxCdnFileSize = 0x3FFFFFFF;

// "<base>\<kind folder>\ab\cd\<32 lower-case hex digits><extension>"; the
// kind folder is left out for kinds other than the three above.
std::string CdnCachePath(std::string_view base, uint32_t kind, const Key16& key,
                         std::string_view extension);

// True when the file is in the cache below `base`; `localPath` gets its
// cache path either way.
bool FindCachedCdnFile(std::string_view base, uint32_t kind, const Key16& key,
                       std::string_view extension, std::string& localPath);

// Before a download into the cache below `base`: creates the folders of the
// cache path and gives both paths (`remotePath` below a CDN host). 0, 8, or
// 112 when a folder cannot be made.
[[nodiscard]] uint32_t PrepareCdnDownload(const TCascStorage& storage, std::string_view base,
                                          uint32_t kind, const Key16& key,
                                          std::string_view extension, std::string& localPath,
                                          std::string& remotePath);

// Makes sure the file is in the cache below `base` and gives its path: an
// existing non-empty file is taken as it is; otherwise (online storages
// only, else 2) the storage's CDN hosts are asked in turn, stopping at the
// first that delivers. 2 when none does, 8 when memory runs out, 112 when
// the cache cannot be written, 11 for a size outside 1 to 0x3FFFFFFF.
[[nodiscard]] uint32_t FetchCdnFile(TCascStorage& storage, std::string_view base, uint32_t kind,
                                    const Key16& key, std::string_view extension,
                                    std::string& localPath);

// FetchCdnFile below the data directory, then below the installation root.
[[nodiscard]] uint32_t FetchStorageCdnFile(TCascStorage& storage, uint32_t kind, const Key16& key,
                                           std::string_view extension, std::string& localPath);

// Where an encoded file of an online storage was put.
struct OnlineEncodedFile {
  std::string localPath;
  bool archivePiece = false;   // the file is a piece of a remote archive
  uint32_t archiveIndex = 0;   // for a piece: the archive's place in the list
  uint64_t archiveOffset = 0;  // for a piece: where it starts in the archive
  uint32_t encodedSize = 0;    // for a piece: its size
};

// Fetches the encoded file of `ekey`: a piece of the remote archive that the
// archive indexes place it in, or the file itself, named by its EKey, in the
// folder of `kind` ("data", or "patch" for a file of the patch set).
[[nodiscard]] uint32_t FetchEncodedFile(TCascStorage& storage, const Key16& ekey, uint32_t kind,
                                        OnlineEncodedFile& out);

}  // namespace kestrine
