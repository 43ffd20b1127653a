// Handles are pointers to records that begin with an 8-byte signature.
#pragma once

#include <cstdint>
#include <cstring>

namespace kestrine {

using HandleSignature = char[8];

inline bool IsNullOrAllOnes(const void* handle) {
  return handle == nullptr || reinterpret_cast<uintptr_t>(handle) == UINTPTR_MAX;
}

// True when `handle` is neither null nor all ones and starts with `signature`
// (eight characters, no terminator compared).
inline bool HasSignature(const void* handle, const char (&signature)[9]) {
  if (IsNullOrAllOnes(handle)) return false;
  return std::memcmp(handle, signature, 8) == 0;
}

}  // namespace kestrine
