#include "common/api_boundary.h"

#include <exception>
#include <new>
#include <stdexcept>

namespace kestrine {

namespace {

uint32_t ClassifyCurrentException() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  } catch (const std::length_error&) {
    return kErrorNotEnoughMemory;
  } catch (...) {
    return kErrorCanNotComplete;
  }
}

}  // namespace

uint32_t ErrorFromException() noexcept {
  const uint32_t error = ClassifyCurrentException();
  SetCascError(error);
  return error;
}

}  // namespace kestrine
