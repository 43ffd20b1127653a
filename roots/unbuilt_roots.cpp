// Root formats of other games that this build does not read. Their loaders
// decline every root, so the open goes on to the next candidate.
#include "common/errors.h"
#include "roots/root_loaders.h"

namespace kestrine {

uint32_t LoadMndxRoot(TCascStorage&, std::span<const uint8_t>, uint32_t) {
  return kErrorBadFormat;
}

uint32_t LoadOwRoot(TCascStorage&, std::span<const uint8_t>, uint32_t) {
  return kErrorBadFormat;
}

}  // namespace kestrine
