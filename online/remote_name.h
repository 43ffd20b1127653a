// The server and path of a request named "scheme://host[:port]/path".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrine {

inline constexpr uint16_t kHttpPort = 80;
inline constexpr uint16_t kRibbitPort = 1119;

struct RemoteName {
  std::string host;
  uint16_t port = 0;
  std::string path;  // from the first "/" on; empty when the name has none
};

// Splits `rest`, the name behind "scheme://": the host runs to the first ":"
// or "/", a port of 1 to 19 digits may follow the ":" (at most 65535).
// Returns 0 or 87 (no host, a bad port).
[[nodiscard]] uint32_t SplitRemoteName(std::string_view rest, uint16_t defaultPort,
                                       RemoteName& name);

// "ribbit" for "ribbit://...", "http" for "http://..." (without regard to
// case); empty for anything else. `rest` receives what follows the "://".
std::string SchemeOf(std::string_view url, std::string_view& rest);

}  // namespace kestrine
