// Opening a storage: the parameter string and the open sequence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kestrine.h"

namespace kestrine {

// The segments of a parameter string
//   local path [ "*" CDN host ] [ "*" product code [ "*" region [ "*" build key ]]]
// where the CDN-host segment is recognised by a '.' or '/' in it.
struct ParameterSegments {
  std::string localPath;
  std::optional<std::string> cdnHost;
  std::optional<std::string> productCode;
  std::optional<std::string> region;
  std::optional<std::string> buildKey;
};

// Splits `parameters`; a string that exists as a path (file or folder) is the
// local path whole, '*' and all. Fails with kErrorInvalidParameter for a null string,
// an empty local path, a segment that the arguments already carry (non-empty)
// or more segments than there are fields. Returns 0 or the error number.
[[nodiscard]] uint32_t SplitParameterString(const char* parameters, const StorageOpenArgs& args,
                                            ParameterSegments& segments);

// True when `args` is long enough, by its size field, to hold the field that
// ends `fieldEnd` bytes into the record.
inline bool ArgsCover(const StorageOpenArgs& args, size_t fieldEnd) {
  return args.size >= fieldEnd;
}

}  // namespace kestrine
