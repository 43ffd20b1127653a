// Salsa20/20 stream cipher with a 64-bit nonce and a 64-bit block counter, so
// any part of the keystream can be produced without the parts before it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrine {

// The Salsa20 core ("hash function"): 20 rounds over 16 little-endian words,
// plus the input. Exposed on its own so it can be checked by itself.
void Salsa20Core(std::span<const uint8_t, 64> in, std::span<uint8_t, 64> out);

class Salsa20 {
 public:
  static constexpr size_t kBlockSize = 64;

  // `key` is 16 or 32 bytes; any other size throws std::invalid_argument.
  Salsa20(std::span<const uint8_t> key, std::span<const uint8_t, 8> nonce);

  // Keystream block number `counter` (bytes counter*64 .. counter*64+63).
  void Block(uint64_t counter, std::span<uint8_t, kBlockSize> out) const;

  // XORs `data` with the keystream starting at keystream byte `byteOffset`.
  // Encryption and decryption are the same operation.
  void Xor(uint64_t byteOffset, std::span<uint8_t> data) const;

 private:
  // The input words with the counter words (8 and 9) left at zero.
  std::array<uint32_t, 16> input_;
};

}  // namespace kestrine
