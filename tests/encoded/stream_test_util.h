// Helpers of the stream tests: opening with the error kept, reading ranges,
// and a working folder that is restored on scope exit.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "encoded/stream.h"
#include "kestrine.h"

namespace kestrine::streamtest {

// The stream, or null with the error number in `error`.
inline StreamPtr Open(const std::string& name, uint32_t flags, uint32_t* error = nullptr) {
  SetCascError(0);
  StreamPtr stream(OpenStream(name, flags));
  if (error != nullptr) *error = stream ? 0 : GetCascError();
  return stream;
}

// The error number of a failing open, 0 when it opened.
inline uint32_t OpenError(const std::string& name, uint32_t flags = SF_READONLY) {
  uint32_t error = 0;
  StreamPtr stream = Open(name, flags, &error);
  return error;
}

// The bytes [offset, offset + length), or nothing with the error in `error`.
inline std::optional<std::vector<uint8_t>> Read(TStream* stream, std::optional<uint64_t> offset,
                                                size_t length, uint32_t* error = nullptr) {
  std::vector<uint8_t> bytes(length, 0x5A);
  SetCascError(0);
  bool ok = ReadStream(stream, offset, bytes.data(), bytes.size());
  if (error != nullptr) *error = ok ? 0 : GetCascError();
  if (!ok) return std::nullopt;
  return bytes;
}

// The error of a read that should fail.
inline uint32_t ReadError(TStream* stream, uint64_t offset, size_t length) {
  uint32_t error = 0;
  Read(stream, offset, length, &error);
  return error;
}

inline uint64_t SizeOf(TStream* stream) {
  uint64_t size = ~uint64_t{0};
  EXPECT_TRUE(GetStreamSize(stream, &size));
  return size;
}

inline uint64_t PositionOf(TStream* stream) {
  uint64_t position = ~uint64_t{0};
  EXPECT_TRUE(GetStreamPosition(stream, &position));
  return position;
}

inline std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
  return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + length);
}

// Changes the working folder for the scope.
class WorkingFolder {
 public:
  explicit WorkingFolder(const std::filesystem::path& folder)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~WorkingFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace kestrine::streamtest
