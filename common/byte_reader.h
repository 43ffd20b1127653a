// The one way to read untrusted bytes: a cursor over a span whose every read
// is bounds-checked. A read that does not fit fails, leaves the offset where
// it was and makes the reader's error sticky, so a record parser can be a
// straight list of field reads checked once with ok() at the end. Failed
// reads return zero or an empty span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrine {

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}

  size_t size() const { return data_.size(); }
  size_t offset() const { return offset_; }
  size_t remaining() const { return data_.size() - offset_; }
  bool ok() const { return ok_; }
  std::span<const uint8_t> data() const { return data_; }

  uint8_t u8() { return static_cast<uint8_t>(ReadLittle(1)); }
  uint16_t u16le() { return static_cast<uint16_t>(ReadLittle(2)); }
  uint32_t u32le() { return static_cast<uint32_t>(ReadLittle(4)); }
  uint64_t u64le() { return ReadLittle(8); }
  uint16_t u16be() { return static_cast<uint16_t>(ReadBig(2)); }
  uint32_t u24be() { return static_cast<uint32_t>(ReadBig(3)); }
  uint32_t u32be() { return static_cast<uint32_t>(ReadBig(4)); }
  uint64_t u40be() { return ReadBig(5); }
  uint64_t u64be() { return ReadBig(8); }

  // The next n bytes, consumed.
  std::span<const uint8_t> bytes(size_t n) {
    if (!Fits(n)) return {};
    auto out = data_.subspan(offset_, n);
    offset_ += n;
    return out;
  }

  bool skip(size_t n) {
    if (!Fits(n)) return false;
    offset_ += n;
    return true;
  }

  // Moves to an absolute offset (at most the size).
  bool seek(size_t offset) {
    if (offset > data_.size()) return Fail();
    offset_ = offset;
    return true;
  }

  // A reader over the next n bytes, which this reader consumes.
  ByteReader sub(size_t n) { return ByteReader(bytes(n)); }

  // The bytes before the next `terminator`, consumed with it. Fails when no
  // terminator follows.
  std::span<const uint8_t> until(uint8_t terminator) {
    for (size_t i = offset_; i < data_.size(); ++i) {
      if (data_[i] == terminator) {
        auto out = data_.subspan(offset_, i - offset_);
        offset_ = i + 1;
        return out;
      }
    }
    Fail();
    return {};
  }

 private:
  bool Fits(size_t n) { return n <= remaining() ? true : Fail(); }

  bool Fail() {
    ok_ = false;
    return false;
  }

  uint64_t ReadLittle(size_t n) {
    if (!Fits(n)) return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < n; ++i) value |= uint64_t{data_[offset_ + i]} << (8 * i);
    offset_ += n;
    return value;
  }

  uint64_t ReadBig(size_t n) {
    if (!Fits(n)) return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < n; ++i) value = (value << 8) | data_[offset_ + i];
    offset_ += n;
    return value;
  }

  std::span<const uint8_t> data_;
  size_t offset_ = 0;
  bool ok_ = true;
};

}  // namespace kestrine
