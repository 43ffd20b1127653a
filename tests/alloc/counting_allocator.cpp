#include "tests/alloc/counting_allocator.h"

#include <execinfo.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "common/raw_allocation.h"

namespace kestrine::alloc_test {

namespace {

std::atomic<bool> g_counting{false};
std::atomic<uint64_t> g_count{0};
std::atomic<uint64_t> g_failAt{0};
std::atomic<bool> g_failed{false};
std::atomic<int64_t> g_live{0};

// KESTRINE_TRACE_ALLOCATION=N prints where allocation N is made when it is
// made to fail (addresses for addr2line), to find the code behind a fault.
uint64_t TracedAllocation() {
  static const uint64_t traced = [] {
    const char* text = std::getenv("KESTRINE_TRACE_ALLOCATION");
    return text != nullptr ? std::strtoull(text, nullptr, 10) : 0;
  }();
  return traced;
}

void PrintBacktrace() {
  void* frames[64];
  backtrace_symbols_fd(frames, backtrace(frames, 64), 2);
}

bool AllocationAllowed() {
  if (!g_counting.load(std::memory_order_relaxed)) return true;
  const uint64_t number = g_count.fetch_add(1, std::memory_order_relaxed) + 1;
  if (number != g_failAt.load(std::memory_order_relaxed)) return true;
  g_failed.store(true, std::memory_order_relaxed);
  if (number == TracedAllocation()) PrintBacktrace();
  return false;
}

void* Allocate(size_t size, size_t alignment) noexcept {
  if (!AllocationAllowed()) return nullptr;
  if (size == 0) size = 1;
  void* block = nullptr;
  if (alignment <= alignof(std::max_align_t)) {
    block = std::malloc(size);
  } else if (posix_memalign(&block, alignment, size) != 0) {
    block = nullptr;
  }
  if (block != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void* AllocateOrThrow(size_t size, size_t alignment) {
  void* block = Allocate(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void Free(void* block) noexcept {
  if (block == nullptr) return;
  g_live.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

constexpr size_t kPlain = alignof(std::max_align_t);

}  // namespace

void StartCounting(uint64_t failAt) {
  g_count = 0;
  g_failAt = failAt;
  g_failed = false;
  SetRawAllocationGate(&AllocationAllowed);
  g_counting = true;
}

uint64_t StopCounting() {
  g_counting = false;
  SetRawAllocationGate(nullptr);
  return g_count;
}

bool ChosenAllocationFailed() {
  return g_failed;
}

UncountedScope::UncountedScope() : wasCounting_(g_counting.exchange(false)) {}

UncountedScope::~UncountedScope() {
  g_counting = wasCounting_;
}

int64_t LiveBlocks() {
  return g_live;
}

}  // namespace kestrine::alloc_test

using kestrine::alloc_test::AllocateOrThrow;
using kestrine::alloc_test::Free;

// The replaced forms. Deletes of every form end in the same free().
void* operator new(size_t size) {
  return AllocateOrThrow(size, kestrine::alloc_test::kPlain);
}
void* operator new[](size_t size) {
  return AllocateOrThrow(size, kestrine::alloc_test::kPlain);
}
void* operator new(size_t size, std::align_val_t alignment) {
  return AllocateOrThrow(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment) {
  return AllocateOrThrow(size, static_cast<size_t>(alignment));
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return kestrine::alloc_test::Allocate(size, kestrine::alloc_test::kPlain);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return kestrine::alloc_test::Allocate(size, kestrine::alloc_test::kPlain);
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return kestrine::alloc_test::Allocate(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return kestrine::alloc_test::Allocate(size, static_cast<size_t>(alignment));
}

void operator delete(void* block) noexcept {
  Free(block);
}
void operator delete[](void* block) noexcept {
  Free(block);
}
void operator delete(void* block, size_t) noexcept {
  Free(block);
}
void operator delete[](void* block, size_t) noexcept {
  Free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  Free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  Free(block);
}
void operator delete(void* block, size_t, std::align_val_t) noexcept {
  Free(block);
}
void operator delete[](void* block, size_t, std::align_val_t) noexcept {
  Free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Free(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Free(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Free(block);
}
