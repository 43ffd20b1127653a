// Stream containers: the input becomes a file read as a flat file with a
// bitmap, a partial file, a four-part set, an encrypted archive, or a flat or
// partial cache of a master. Whatever the bytes, opening and reading either
// succeed or fail with an error; reads never leave the stream.
//
// Input: byte 0 chooses the container, byte 1 the flags, the rest is the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "encoded/stream.h"
#include "encoded/stream_testing.h"
#include "testkit/stream_files.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;
constexpr size_t kMaxRead = 1 << 16;
// The key and nonce the seed generator encrypts with.
constexpr char kFuzzKey[] = "FUZZKEY0123456789ABCDEFGHIJKLMNO";
constexpr char kFuzzNonce[] = "FUZZNONC";

struct Workspace {
  std::string folder;
  std::string master;

  Workspace() {
    std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    folder = (base / ("kestrine-stream-fuzz-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(folder);
    master = folder + "/master";
    kestrine::testkit::WriteBinaryFile(master, kestrine::testkit::PatternBytes(50000, 1));
    kestrine::AddEncryptedArchiveKeyForTesting(kFuzzKey);
    kestrine::SetEncryptedArchiveNonceForTesting(kFuzzNonce);
  }
  ~Workspace() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
};

std::string StreamName(const Workspace& work, uint8_t kind, const std::string& file) {
  switch (kind % 6) {
    case 0:
      return "flat-" + file;
    case 1:
      return "part-" + file;
    case 2:
      return "blk4-" + file + ".0";
    case 3:
      return "mpqe-" + file;
    case 4:
      return "flat-" + file + "*" + work.master;
    default:
      return "part-" + file + "*" + work.master;
  }
}

void ReadAround(kestrine::TStream* stream, uint64_t hint, bool zeroFill) {
  uint64_t size = 0;
  if (!kestrine::GetStreamSize(stream, &size)) __builtin_trap();
  std::vector<uint8_t> buffer(kMaxRead);
  size_t head = static_cast<size_t>(std::min<uint64_t>(size, kMaxRead));
  (void)kestrine::ReadStream(stream, 0, buffer.data(), head);
  if (size > 0) {
    uint64_t at = hint % size;
    size_t length = static_cast<size_t>(std::min<uint64_t>(size - at, 5000));
    (void)kestrine::ReadStream(stream, at, buffer.data(), length);
    (void)kestrine::ReadStream(stream, std::nullopt, buffer.data(), 0);
  }
  // Past the end only zero-fill succeeds.
  if (kestrine::ReadStream(stream, size, buffer.data(), 1) && !zeroFill) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Workspace work;
  if (size < 2 || size > kMaxInput) return 0;
  const uint8_t kind = data[0];
  const uint32_t flags = (data[1] & 1 ? kestrine::SF_ZEROFILL : 0) |
                         (data[1] & 2 ? kestrine::SF_BITMAP : 0) |
                         (kind % 6 < 4 ? kestrine::SF_READONLY : 0);
  std::string file = work.folder + (kind % 6 == 2 ? "/input.0" : "/input");
  kestrine::testkit::WriteBinaryFile(file, std::span(data + 2, size - 2));
  if (kind % 6 == 2) file.resize(file.size() - 2);

  kestrine::StreamPtr stream(kestrine::OpenStream(StreamName(work, kind, file), flags));
  if (!stream) return 0;
  uint64_t hint = size >= 10 ? data[size - 1] * 257u + data[size - 2] * 65537u : 0;
  ReadAround(stream.get(), hint, (flags & kestrine::SF_ZEROFILL) != 0);
  return 0;
}
