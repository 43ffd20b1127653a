#include "content_copy.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "storage_session.h"

namespace kestrine::explorer {

namespace {

constexpr uint64_t kPieceSize = uint64_t{1} << 20;

bool ReadPiece(FileHandle file, std::vector<uint8_t>& buffer, uint32_t size) {
  uint32_t bytesRead = 0;
  SetCascError(kErrorSuccess);
  return ReadOpenFile(file, buffer.data(), size, &bytesRead) && bytesRead == size;
}

// A file without a content key (several spans, a key the storage never
// learned) cannot be checked and passes.
bool MatchesContentKey(FileHandle file, ContentKeyHash& hash) {
  uint8_t expected[16];
  uint8_t actual[16];
  ContentKeyHashFinish(&hash, actual);
  if (!GetFileContentKey(file, expected)) return true;
  return std::memcmp(expected, actual, sizeof actual) == 0;
}

CopyResult CopyOpenFile(FileHandle file, const ContentSink& sink) {
  CopyResult result;
  uint64_t size = 0;
  if (uint32_t error = GetFileContentSize(file, &size)) return {error};
  std::vector<uint8_t> buffer(std::min(size, kPieceSize));
  ContentKeyHash hash;
  ContentKeyHashStart(&hash);
  if (size == 0 && !MatchesContentKey(file, hash)) return {kErrorFileCorrupt};
  while (result.bytes < size) {
    const auto piece = static_cast<uint32_t>(std::min(size - result.bytes, kPieceSize));
    if (!ReadPiece(file, buffer, piece))
      return {LastErrorOr(kErrorFileCorrupt), false, result.bytes};
    const std::span<const uint8_t> bytes(buffer.data(), piece);
    ContentKeyHashUpdate(&hash, bytes.data(), bytes.size());
    // The last piece goes to the sink only once the whole content is known good.
    if (result.bytes + piece == size && !MatchesContentKey(file, hash)) {
      return {kErrorFileCorrupt, false, result.bytes};
    }
    if (!sink(bytes)) return {kErrorSuccess, true, result.bytes};
    result.bytes += piece;
  }
  return result;
}

}  // namespace

CopyResult CopyFileContent(StorageHandle storage, const char* name, const ContentSink& sink) {
  FileHandle handle = nullptr;
  SetCascError(kErrorSuccess);
  if (!OpenFileByName(storage, name, &handle)) return {LastErrorOr(kErrorFileNotFound)};
  const FileOwner file(handle);
  return CopyOpenFile(file.get(), sink);
}

}  // namespace kestrine::explorer
