// The import reports every failure as a std::runtime_error carrying the line
// that the tool prints after "Asset import failed: ".
#pragma once

#include <stdexcept>
#include <string>

#include "kestrine.h"

namespace kestrine {

[[noreturn]] inline void FailImport(const std::string& message) {
  throw std::runtime_error(message);
}

// Fails with `message` followed by ", error " and the thread's last error.
[[noreturn]] inline void FailImportWithError(const std::string& message) {
  FailImport(message + ", error " + std::to_string(GetCascError()));
}

}  // namespace kestrine
