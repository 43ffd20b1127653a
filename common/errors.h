// Error numbers and the thread's last error, shared by every layer.
#pragma once

#include <cstdint>

#include "kestrine.h"

namespace kestrine {

// Passed between a root loader and the open sequence only: "load the root
// file once more". Never reported to a caller.
inline constexpr uint32_t kErrorReparseRoot = 1011;

// Sets the last error and returns false, for the many `return Fail(e);` paths
// of the operations that report a success flag.
inline bool FailWith(uint32_t error) {
  SetCascError(error);
  return false;
}

}  // namespace kestrine
