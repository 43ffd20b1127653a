#include "common/errors.h"

namespace kestrine {

namespace {
thread_local uint32_t t_lastError = kErrorSuccess;
}

extern "C" KESTRINE_API uint32_t kestrine_get_last_error(void) {
  return t_lastError;
}

extern "C" KESTRINE_API void kestrine_set_last_error(uint32_t error) {
  t_lastError = error;
}

}  // namespace kestrine
