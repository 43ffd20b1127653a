#include "common/salsa20.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

namespace kestrine {

namespace {

using Words = std::array<uint32_t, 16>;

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void StoreLe32(uint32_t v, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// One quarter round on the words at indices a, b, c, d of x.
void QuarterRound(Words& x, int a, int b, int c, int d) {
  x[b] ^= std::rotl(x[a] + x[d], 7);
  x[c] ^= std::rotl(x[b] + x[a], 9);
  x[d] ^= std::rotl(x[c] + x[b], 13);
  x[a] ^= std::rotl(x[d] + x[c], 18);
}

void DoubleRound(Words& x) {
  // Columns.
  QuarterRound(x, 0, 4, 8, 12);
  QuarterRound(x, 5, 9, 13, 1);
  QuarterRound(x, 10, 14, 2, 6);
  QuarterRound(x, 15, 3, 7, 11);
  // Rows.
  QuarterRound(x, 0, 1, 2, 3);
  QuarterRound(x, 5, 6, 7, 4);
  QuarterRound(x, 10, 11, 8, 9);
  QuarterRound(x, 15, 12, 13, 14);
}

void Core(const Words& in, uint8_t* out) {
  Words x = in;
  for (int i = 0; i < 10; ++i) DoubleRound(x);
  for (int i = 0; i < 16; ++i) StoreLe32(x[i] + in[i], out + 4 * i);
}

// "expand 32-byte k" and "expand 16-byte k" as little-endian words.
constexpr uint32_t kSigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
constexpr uint32_t kTau[4] = {0x61707865, 0x3120646e, 0x79622d36, 0x6b206574};

}  // namespace

void Salsa20Core(std::span<const uint8_t, 64> in, std::span<uint8_t, 64> out) {
  Words words;
  for (int i = 0; i < 16; ++i) words[i] = LoadLe32(in.data() + 4 * i);
  Core(words, out.data());
}

Salsa20::Salsa20(std::span<const uint8_t> key, std::span<const uint8_t, 8> nonce) {
  if (key.size() != 16 && key.size() != 32) {
    throw std::invalid_argument("Salsa20 key must be 16 or 32 bytes");
  }
  // A 16-byte key fills both key halves.
  const uint32_t* constants = key.size() == 32 ? kSigma : kTau;
  const uint8_t* secondHalf = key.size() == 32 ? key.data() + 16 : key.data();
  input_ = {};
  for (int i = 0; i < 4; ++i) {
    input_[i * 5] = constants[i];
    input_[1 + i] = LoadLe32(key.data() + 4 * i);
    input_[11 + i] = LoadLe32(secondHalf + 4 * i);
  }
  input_[6] = LoadLe32(nonce.data());
  input_[7] = LoadLe32(nonce.data() + 4);
}

void Salsa20::Block(uint64_t counter, std::span<uint8_t, kBlockSize> out) const {
  Words words = input_;
  words[8] = static_cast<uint32_t>(counter);
  words[9] = static_cast<uint32_t>(counter >> 32);
  Core(words, out.data());
}

void Salsa20::Xor(uint64_t byteOffset, std::span<uint8_t> data) const {
  uint64_t counter = byteOffset / kBlockSize;
  size_t skip = static_cast<size_t>(byteOffset % kBlockSize);
  uint8_t keystream[kBlockSize];
  while (!data.empty()) {
    Block(counter++, keystream);
    size_t count = std::min(kBlockSize - skip, data.size());
    for (size_t i = 0; i < count; ++i) data[i] ^= keystream[skip + i];
    data = data.subspan(count);
    skip = 0;
  }
}

}  // namespace kestrine
