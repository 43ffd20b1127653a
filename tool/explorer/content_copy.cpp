#include "content_copy.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kestrine::explorer {

namespace {

constexpr uint64_t kPieceSize = uint64_t{1} << 20;

// A short read names its reason when the storage gave one.
void ReadPiece(File& file, std::vector<uint8_t>& buffer, uint32_t size) {
  if (file.read(buffer.data(), size) != size) {
    const uint32_t error = GetCascError();
    throw Error(error != kErrorSuccess ? error : kErrorFileCorrupt);
  }
}

// A file without a content key (several spans, a key the storage never
// learned) cannot be checked and passes.
bool MatchesContentKey(const File& file, ContentKeyHash& hash) {
  uint8_t actual[16];
  ContentKeyHashFinish(&hash, actual);
  const auto expected = file.content_key();
  return !expected || std::memcmp(expected->data(), actual, sizeof actual) == 0;
}

CopyResult CopyOpenFile(File& file, const ContentSink& sink) {
  CopyResult result;
  const uint64_t size = file.size();
  std::vector<uint8_t> buffer(std::min(size, kPieceSize));
  ContentKeyHash hash;
  ContentKeyHashStart(&hash);
  if (size == 0 && !MatchesContentKey(file, hash)) return {kErrorFileCorrupt};
  while (result.bytes < size) {
    const auto piece = static_cast<uint32_t>(std::min(size - result.bytes, kPieceSize));
    try {
      ReadPiece(file, buffer, piece);
    } catch (const Error& failure) {
      return {failure.code(), false, result.bytes};
    }
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

CopyResult CopyFileContent(const Storage& storage, const char* name, const ContentSink& sink) {
  try {
    File file = storage.open_file(name);
    return CopyOpenFile(file, sink);
  } catch (const Error& failure) {
    return {failure.code()};
  }
}

}  // namespace kestrine::explorer
