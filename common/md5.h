// MD5 (RFC 1321), used to check keys and frame contents.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrine {

using Md5Digest = std::array<uint8_t, 16>;

// Incremental MD5: any number of Update calls, then Final. Final resets the
// object, so it can hash another message afterwards.
class Md5 {
 public:
  Md5();

  void Update(std::span<const uint8_t> data);
  Md5Digest Final();

 private:
  static constexpr size_t kBlockSize = 64;

  void Reset();
  void ProcessBlocks(const uint8_t* blocks, size_t count);

  std::array<uint32_t, 4> state_;
  uint64_t totalBytes_;
  std::array<uint8_t, kBlockSize> pending_;
  size_t pendingSize_;
};

Md5Digest ComputeMd5(std::span<const uint8_t> data);

}  // namespace kestrine
