// The table of frame-decryption keys of one storage: 16-byte Salsa20 keys
// found by an 8-byte key name, in 256 buckets chosen by the name's low byte.
// A name already present keeps its first key.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrine {

struct TCascStorage;

struct TEncryptionKey {
  uint64_t name = 0;  // the 8 name bytes read little-endian
  std::array<uint8_t, 16> key{};
};

class DecryptionKeyTable {
 public:
  // False when the name is present already (its first key stays).
  bool Add(uint64_t name, std::span<const uint8_t, 16> key);
  // The key of `name`, or null.
  const uint8_t* Find(uint64_t name) const;
  size_t size() const { return count_; }

 private:
  std::array<std::vector<TEncryptionKey>, 256> buckets_;
  size_t count_ = 0;
};

// The keys this program knows of itself, in table order. None are built in:
// users add the keys they hold with AddDecryptionKey.
std::span<const TEncryptionKey> BuiltInDecryptionKeys();

// Creates the storage's table when it has none and adds the built-in keys.
void FillKnownDecryptionKeys(TCascStorage& storage);

}  // namespace kestrine
