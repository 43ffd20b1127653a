// The library's few allocations outside operator new: tables taken
// zero-filled from calloc (pages of a generously sized table that are never
// used are never touched) and page-aligned blocks. They go through here so
// that both kinds answer to the same allocation gate as operator new in the
// allocation-failure tests.
#pragma once

#include <cstddef>

namespace kestrine {

// calloc(count, size); null when out of memory.
void* AllocateZeroed(size_t count, size_t size) noexcept;
// aligned_alloc(alignment, size) (`size` a multiple of `alignment`); null
// when out of memory.
void* AllocateAligned(size_t alignment, size_t size) noexcept;
// Frees a block of either kind; null is ignored.
void FreeAllocation(void* block) noexcept;

// Deleter for unique_ptr of blocks from this file.
struct RawAllocationDeleter {
  void operator()(void* block) const noexcept { FreeAllocation(block); }
};

// Consulted before each raw allocation when set: false makes it fail. Used by
// the allocation-failure tests only; null by default.
using AllocationGate = bool (*)();
void SetRawAllocationGate(AllocationGate gate) noexcept;

}  // namespace kestrine
