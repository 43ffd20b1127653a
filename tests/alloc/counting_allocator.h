// A replacement of the global operator new (every form) and the library's
// raw allocations that counts the allocations of a stretch of code and can
// make the Nth of them fail: operator new throws std::bad_alloc, its nothrow
// forms and the raw allocations return null.
#pragma once

#include <cstdint>

namespace kestrine::alloc_test {

// Starts counting from zero. `failAt`: the number of the allocation that
// fails (1 is the first), 0 for none.
void StartCounting(uint64_t failAt);
// Stops counting; returns the number of allocations made since the start.
uint64_t StopCounting();
// True once the allocation chosen by StartCounting has failed.
bool ChosenAllocationFailed();
// While one lives, allocations are neither counted nor failed: the test's
// own bookkeeping between the calls it counts.
class UncountedScope {
 public:
  UncountedScope();
  ~UncountedScope();
  UncountedScope(const UncountedScope&) = delete;
  UncountedScope& operator=(const UncountedScope&) = delete;

 private:
  bool wasCounting_;
};

// Blocks from operator new not yet deleted (all of them, counted or not).
int64_t LiveBlocks();

}  // namespace kestrine::alloc_test
