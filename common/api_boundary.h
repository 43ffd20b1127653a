// The public calls are where C++ exceptions stop. Inside the library an
// allocation failure may throw (std::bad_alloc, or std::length_error when a
// container is asked for more than it can hold); every exported call is a
// function-try-block whose catch-all handler ends in FailFromException or
// ErrorFromException, so that the caller sees the call's failure result and
// the thread's last error instead. Whatever the call took is owned by RAII
// objects and has been freed by the time the handler runs.
#pragma once

#include <cstdint>

#include "kestrine.h"

namespace kestrine {

// The error number for the exception being handled, also set as the last
// error: 8 for a failed allocation, 1003 for anything else (a fault of the
// library, reported rather than thrown at a caller that cannot expect it).
// Call only from inside a catch handler.
uint32_t ErrorFromException() noexcept;

// Sets the last error for the exception being handled and returns `failure`,
// the call's failure result.
template <typename Result>
Result FailFromException(Result failure) noexcept {
  ErrorFromException();
  return failure;
}

}  // namespace kestrine
