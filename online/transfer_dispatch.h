// Which transport serves a request.
#pragma once

#include <string_view>

#include "online/transfer.h"

namespace kestrine {

enum class TransportKind { kHttp, kRibbit, kUnknown };

// `rest` receives the URL behind "scheme://".
TransportKind KindOf(const TransferRequest& request, std::string_view& rest);

}  // namespace kestrine
