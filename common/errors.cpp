#include "common/errors.h"

namespace kestrine {

namespace {
thread_local uint32_t t_lastError = kErrorSuccess;
}

uint32_t GetCascError() {
  return t_lastError;
}

void SetCascError(uint32_t error) {
  t_lastError = error;
}

}  // namespace kestrine
