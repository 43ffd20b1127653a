#include "online/cdn_cache.h"

#include <algorithm>

#include "common/path_builder.h"
#include "common/platform.h"
#include "kestrine.h"
#include "online/cdn_download.h"
#include "storage/remote_index.h"
#include "storage/storage.h"

namespace kestrine {

namespace {

std::string_view KindFolder(uint32_t kind) {
  switch (kind) {
    case kCdnConfig:
      return "config";
    case kCdnData:
      return "data";
    case kCdnPatch:
      return "patch";
    default:
      return {};
  }
}

// The components below the base: kind folder (if any), "ab", "cd", name.
std::vector<std::string> RelativeComponents(uint32_t kind, std::string_view name) {
  std::vector<std::string> parts;
  if (!KindFolder(kind).empty()) parts.emplace_back(KindFolder(kind));
  parts.emplace_back(name.substr(0, 2));
  parts.emplace_back(name.substr(2, 2));
  parts.emplace_back(name);
  return parts;
}

std::string LocalPath(std::string_view base, const std::vector<std::string>& parts) {
  PathBuilder path;
  path.Append(base);
  for (const std::string& part : parts) path.Append(part);
  return path.str();
}

std::string RemotePath(std::string_view cdnPath, const std::vector<std::string>& parts) {
  while (!cdnPath.empty() && cdnPath.front() == '/') cdnPath.remove_prefix(1);
  std::string path(cdnPath);
  for (const std::string& part : parts) {
    if (!path.empty() && path.back() != '/') path += '/';
    path += part;
  }
  return path;
}

// Creates the folders between the base and the file.
uint32_t MakeFolders(std::string_view base, const std::vector<std::string>& parts) {
  PathBuilder folder;
  folder.Append(base);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    folder.Append(parts[i]);
    if (uint32_t error = platform::MakeDirectory(folder.view())) return error;
  }
  return kErrorSuccess;
}

bool IsNonEmptyFile(const std::string& path) {
  platform::File file;
  uint64_t size = 0;
  return file.Open(path, false) == kErrorSuccess && file.Size(&size) == kErrorSuccess && size > 0;
}

uint32_t PrepareNamed(const TCascStorage& storage, std::string_view base, uint32_t kind,
                      std::string_view localName, std::string_view remoteName,
                      std::string& localPath, std::string& remotePath) {
  std::vector<std::string> parts = RelativeComponents(kind, localName);
  localPath = LocalPath(base, parts);
  remotePath = RemotePath(storage.cdnPath, RelativeComponents(kind, remoteName));
  if (uint32_t error = MakeFolders(base, parts)) {
    return error == kErrorNotEnoughMemory ? error : kErrorDiskFull;
  }
  return kErrorSuccess;
}

// The cached file `localName` below `base`, downloaded when missing from
// `remoteName` (the same name, or the archive a piece is cut from).
uint32_t FetchNamed(TCascStorage& storage, std::string_view base, uint32_t kind,
                    std::string_view localName, std::string_view remoteName,
                    std::optional<ByteRange> range, std::string& localPath) {
  localPath = LocalPath(base, RelativeComponents(kind, localName));
  if (IsNonEmptyFile(localPath)) return kErrorSuccess;
  if (!storage.IsOnline()) return kErrorFileNotFound;
  std::string remotePath;
  if (uint32_t error =
          PrepareNamed(storage, base, kind, localName, remoteName, localPath, remotePath)) {
    return error;
  }
  CdnDownload download(SplitCdnHosts(storage.cdnHosts), remotePath, range, localPath);
  return download.Run();
}

std::string KeyName(const Key16& key, std::string_view extension) {
  return FormatHexKey(key) + std::string(extension);
}

// The cache name of a piece: "<key>-<offset>-<size>.piece".
std::string PieceName(const Key16& archiveKey, uint64_t offset, uint32_t size) {
  return FormatHexKey(archiveKey) + "-" + std::to_string(offset) + "-" + std::to_string(size) +
         ".piece";
}

template <typename Fetch>
uint32_t InDataThenRoot(TCascStorage& storage, Fetch fetch) {
  uint32_t result = kErrorFileNotFound;
  for (const std::string* base : {&storage.dataPath, &storage.rootPath}) {
    if (base->empty()) continue;
    result = fetch(*base);
    if (result == kErrorSuccess || result == kErrorNotEnoughMemory) return result;
  }
  return result;
}

// The archive indexes' keys may be shorter than 16 bytes; their records
// hold them zero-padded.
Key16 RemoteMapKey(const TCascStorage& storage, const Key16& ekey) {
  Key16 key = ekey;
  size_t length = storage.locationPosition;
  if (length != 0 && length < key.size()) std::fill(key.begin() + length, key.end(), 0);
  return key;
}

}  // namespace

std::string CdnCachePath(std::string_view base, uint32_t kind, const Key16& key,
                         std::string_view extension) {
  return LocalPath(base, RelativeComponents(kind, KeyName(key, extension)));
}

bool FindCachedCdnFile(std::string_view base, uint32_t kind, const Key16& key,
                       std::string_view extension, std::string& localPath) {
  localPath = CdnCachePath(base, kind, key, extension);
  return IsNonEmptyFile(localPath);
}

uint32_t PrepareCdnDownload(const TCascStorage& storage, std::string_view base, uint32_t kind,
                            const Key16& key, std::string_view extension, std::string& localPath,
                            std::string& remotePath) {
  std::string name = KeyName(key, extension);
  return PrepareNamed(storage, base, kind, name, name, localPath, remotePath);
}

uint32_t FetchCdnFile(TCascStorage& storage, std::string_view base, uint32_t kind, const Key16& key,
                      std::string_view extension, std::string& localPath) {
  std::string name = KeyName(key, extension);
  return FetchNamed(storage, base, kind, name, name, std::nullopt, localPath);
}

uint32_t FetchStorageCdnFile(TCascStorage& storage, uint32_t kind, const Key16& key,
                             std::string_view extension, std::string& localPath) {
  return InDataThenRoot(storage, [&](const std::string& base) {
    return FetchCdnFile(storage, base, kind, key, extension, localPath);
  });
}

uint32_t FetchEncodedFile(TCascStorage& storage, const Key16& ekey, uint32_t kind,
                          OnlineEncodedFile& out) {
  out = {};
  const RemoteArchiveRecord* record = nullptr;
  if (storage.remoteArchives) {
    Key16 key = RemoteMapKey(storage, ekey);
    record = storage.remoteArchives->Find(key.data());
  }
  if (record == nullptr) {
    return FetchStorageCdnFile(storage, kind, ekey, {}, out.localPath);
  }

  const uint32_t bits = storage.OffsetBits();
  const uint64_t archive = bits >= 64 ? 0 : record->location >> bits;
  const uint64_t offset = bits >= 64 ? record->location : record->location & ((1ull << bits) - 1);
  if (archive >= storage.archives.size() || record->encodedSize == 0) return kErrorFileNotFound;
  out.archivePiece = true;
  out.archiveIndex = static_cast<uint32_t>(archive);
  out.archiveOffset = offset;
  out.encodedSize = record->encodedSize;
  const Key16& archiveKey = storage.archives[archive];
  std::string name = PieceName(archiveKey, offset, record->encodedSize);
  ByteRange range{offset, record->encodedSize};
  std::string archiveName = FormatHexKey(archiveKey);
  return InDataThenRoot(storage, [&](const std::string& base) {
    return FetchNamed(storage, base, kCdnData, name, archiveName, range, out.localPath);
  });
}

}  // namespace kestrine
