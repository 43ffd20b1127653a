// "ribbit:" requests: a plain TCP exchange with the patch service. The client
// sends the path (without one leading "/") and CR LF, then reads the answer
// until the service closes the connection or the answer's own length is in.
// The answer is a MIME document; its data (the root's, or the first part's)
// is the body.
#pragma once

#include <cstdint>
#include <string_view>

#include "online/transfer.h"

namespace kestrine {

// `rest` is the URL behind "ribbit://". Returns 0 or one of the transfer's
// numbers (87 for a name without a host).
[[nodiscard]] uint32_t PerformRibbitRequest(std::string_view rest, BodySink& sink);

}  // namespace kestrine
