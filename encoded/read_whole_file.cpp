// Reading a small file (configuration, build information, name lists) whole.
#include <new>

#include "common/errors.h"
#include "encoded/stream.h"

namespace kestrine {

namespace {

constexpr uint64_t kMaxSizeLessOne = 0x2FFFFFFF;
constexpr size_t kMinIdListSize = 33;
constexpr size_t kMaxIdDigits = 10;

// A name list of "id;name" lines: one to ten digits and ';' at the start.
bool StartsWithFileId(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kMinIdListSize) return false;
  size_t digits = 0;
  while (digits <= kMaxIdDigits && bytes[digits] >= '0' && bytes[digits] <= '9') ++digits;
  return digits >= 1 && digits <= kMaxIdDigits && bytes[digits] == ';';
}

uint32_t ReadWhole(TStream* opened, WholeFile& file) {
  StreamPtr stream(opened);
  if (!stream) return GetCascError();
  uint64_t size = 0;
  if (!GetStreamSize(stream.get(), &size)) return GetCascError();
  if (size == 0 || size - 1 > kMaxSizeLessOne) return kErrorBadFormat;
  std::vector<uint8_t> bytes(size);
  if (!ReadStream(stream.get(), 0, bytes.data(), bytes.size())) return GetCascError();
  file.flags = StartsWithFileId(bytes) ? WholeFile::kIdListFlag : 0;
  file.readPosition = 0;
  file.bytes = std::move(bytes);
  return kErrorSuccess;
}

// Reads the opened stream whole; the open's failure (null) is passed on.
uint32_t ReadWholeOrError(TStream* (*open)(std::string_view, uint32_t), std::string_view name,
                          WholeFile& file) {
  uint32_t error;
  try {
    error = ReadWhole(open(name, SF_READONLY), file);
  } catch (const std::bad_alloc&) {
    error = kErrorNotEnoughMemory;
  }
  if (error != kErrorSuccess) SetCascError(error);
  return error;
}

}  // namespace

uint32_t ReadWholeFile(std::string_view name, WholeFile& file) {
  return ReadWholeOrError(OpenStream, name, file);
}

uint32_t ReadWholeLocalFile(std::string_view path, WholeFile& file) {
  return ReadWholeOrError(OpenLocalStream, path, file);
}

}  // namespace kestrine
