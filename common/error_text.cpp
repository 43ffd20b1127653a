// The words for the error numbers, and the library's version.
#include <cstdint>

#include "kestrine.h"

namespace kestrine {

namespace {

struct ErrorName {
  uint32_t error;
  const char* text;
};

// One entry for each number a call of the library reports.
constexpr ErrorName kErrorNames[] = {
    {kErrorSuccess, "success"},
    {kErrorFileNotFound, "file not found"},
    {kErrorPathNotFound, "path not found"},
    {kErrorTooManyOpenFiles, "too many open files"},
    {kErrorAccessDenied, "access denied"},
    {kErrorInvalidHandle, "invalid handle"},
    {kErrorNotEnoughMemory, "not enough memory"},
    {kErrorBadFormat, "bad format"},
    {kErrorHandleEof, "end of file"},
    {kErrorNotSupported, "not supported"},
    {kErrorInvalidParameter, "invalid parameter"},
    {kErrorDiskFull, "disk full"},
    {kErrorInsufficientBuffer, "insufficient buffer"},
    {kErrorAlreadyExists, "already exists"},
    {kErrorCanNotComplete, "cannot complete"},
    {kErrorBlockReadFailed, "block read failed"},
    {kErrorIoDevice, "I/O device error"},
    {kErrorCancelled, "cancelled"},
    {kErrorFileCorrupt, "file corrupt"},
    {kErrorNetworkUnreachable, "network unreachable"},
    {kErrorUnknownFileKey, "missing decryption key"},
    {kErrorHostNotFound, "host not found"},
};

}  // namespace

extern "C" KESTRINE_API const char* kestrine_error_text(uint32_t error) {
  for (const ErrorName& name : kErrorNames) {
    if (name.error == error) return name.text;
  }
  return "unknown error";
}

extern "C" KESTRINE_API uint32_t kestrine_version(void) {
  return KESTRINE_VERSION_NUMBER;
}

extern "C" KESTRINE_API const char* kestrine_version_string(void) {
  return KESTRINE_VERSION_STRING;
}

}  // namespace kestrine
