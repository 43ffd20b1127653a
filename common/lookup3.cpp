#include "common/lookup3.h"

#include <bit>
#include <cstring>

namespace kestrine {

namespace {

struct State {
  uint32_t a, b, c;
};

void Mix(State& s) {
  s.a -= s.c, s.a ^= std::rotl(s.c, 4), s.c += s.b;
  s.b -= s.a, s.b ^= std::rotl(s.a, 6), s.a += s.c;
  s.c -= s.b, s.c ^= std::rotl(s.b, 8), s.b += s.a;
  s.a -= s.c, s.a ^= std::rotl(s.c, 16), s.c += s.b;
  s.b -= s.a, s.b ^= std::rotl(s.a, 19), s.a += s.c;
  s.c -= s.b, s.c ^= std::rotl(s.b, 4), s.b += s.a;
}

void Final(State& s) {
  s.c ^= s.b, s.c -= std::rotl(s.b, 14);
  s.a ^= s.c, s.a -= std::rotl(s.c, 11);
  s.b ^= s.a, s.b -= std::rotl(s.a, 25);
  s.c ^= s.b, s.c -= std::rotl(s.b, 16);
  s.a ^= s.c, s.a -= std::rotl(s.c, 4);
  s.b ^= s.a, s.b -= std::rotl(s.a, 14);
  s.c ^= s.b, s.c -= std::rotl(s.b, 24);
}

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void AddWords(State& s, const uint8_t* block) {
  s.a += LoadLe32(block);
  s.b += LoadLe32(block + 4);
  s.c += LoadLe32(block + 8);
}

// The shared body of both functions. The last 1..12 bytes are copied into a
// zero-padded block: the same sums as the original's masked word reads, without
// reading past the key. An empty key skips the final mix, as the original does.
void Hash(const uint8_t* key, size_t length, State& s) {
  while (length > 12) {
    AddWords(s, key);
    Mix(s);
    key += 12;
    length -= 12;
  }
  if (length == 0) return;
  uint8_t tail[12] = {};
  std::memcpy(tail, key, length);
  AddWords(s, tail);
  Final(s);
}

}  // namespace

uint32_t hashlittle(const void* key, size_t length, uint32_t initval) {
  uint32_t seed = 0xdeadbeef + static_cast<uint32_t>(length) + initval;
  State s{seed, seed, seed};
  Hash(static_cast<const uint8_t*>(key), length, s);
  return s.c;
}

void hashlittle2(const void* key, size_t length, uint32_t* pc, uint32_t* pb) {
  uint32_t seed = 0xdeadbeef + static_cast<uint32_t>(length) + *pc;
  State s{seed, seed, seed + *pb};
  Hash(static_cast<const uint8_t*>(key), length, s);
  *pc = s.c;
  *pb = s.b;
}

}  // namespace kestrine
