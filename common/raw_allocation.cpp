#include "common/raw_allocation.h"

#include <atomic>
#include <cstdlib>

namespace kestrine {

namespace {

std::atomic<AllocationGate> g_gate{nullptr};

bool GateAllows() {
  AllocationGate gate = g_gate.load(std::memory_order_relaxed);
  return gate == nullptr || gate();
}

}  // namespace

void* AllocateZeroed(size_t count, size_t size) noexcept {
  return GateAllows() ? std::calloc(count, size) : nullptr;
}

void* AllocateAligned(size_t alignment, size_t size) noexcept {
  return GateAllows() ? std::aligned_alloc(alignment, size) : nullptr;
}

void FreeAllocation(void* block) noexcept {
  std::free(block);
}

void SetRawAllocationGate(AllocationGate gate) noexcept {
  g_gate.store(gate, std::memory_order_relaxed);
}

}  // namespace kestrine
