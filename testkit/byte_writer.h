// The writers' side of ByteReader: appends numbers of one to eight bytes in
// either byte order, bytes and text to a growing buffer, and patches values
// into what is written already (sizes and hashes known only later).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrine::testkit {

class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(std::vector<uint8_t> start) : bytes_(std::move(start)) {}

  size_t size() const { return bytes_.size(); }
  std::span<const uint8_t> data() const { return bytes_; }
  // The bytes written; the writer is empty afterwards.
  std::vector<uint8_t> take() { return std::exchange(bytes_, {}); }

  void u8(uint8_t value) { bytes_.push_back(value); }
  void u16le(uint16_t value) { le(value, 2); }
  void u24le(uint32_t value) { le(value, 3); }
  void u32le(uint32_t value) { le(value, 4); }
  void u40le(uint64_t value) { le(value, 5); }
  void u64le(uint64_t value) { le(value, 8); }
  void u16be(uint16_t value) { be(value, 2); }
  void u24be(uint32_t value) { be(value, 3); }
  void u32be(uint32_t value) { be(value, 4); }
  void u40be(uint64_t value) { be(value, 5); }
  void u64be(uint64_t value) { be(value, 8); }

  // The low `width` bytes of `value`, least significant first; bytes beyond
  // the eighth are zero.
  void le(uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) u8(ByteOf(value, i));
  }
  // The low `width` bytes of `value`, most significant first; bytes beyond
  // the eighth (the first ones) are zero.
  void be(uint64_t value, size_t width) {
    for (size_t i = width; i-- > 0;) u8(ByteOf(value, i));
  }

  void bytes(std::span<const uint8_t> data) {
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  void text(std::string_view text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }
  void zeros(size_t count) { bytes_.resize(bytes_.size() + count, 0); }
  // Zeros up to `size` bytes in all; nothing when there are as many already.
  void padTo(size_t size) {
    if (bytes_.size() < size) bytes_.resize(size, 0);
  }
  // Cuts or zero-pads to `size` bytes.
  void resize(size_t size) { bytes_.resize(size, 0); }
  // Removes the last `count` bytes (all when there are fewer).
  void dropLast(size_t count) { bytes_.resize(bytes_.size() - std::min(count, bytes_.size())); }

  // Overwrite bytes written already, from `at` on.
  void patchLe(size_t at, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes_.at(at + i) = ByteOf(value, i);
  }
  void patchU32le(size_t at, uint32_t value) { patchLe(at, value, 4); }
  void patchBytes(size_t at, std::span<const uint8_t> data) {
    for (size_t i = 0; i < data.size(); ++i) bytes_.at(at + i) = data[i];
  }

 private:
  static uint8_t ByteOf(uint64_t value, size_t i) {
    return i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0;
  }

  std::vector<uint8_t> bytes_;
};

}  // namespace kestrine::testkit
