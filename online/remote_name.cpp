#include "online/remote_name.h"

#include "kestrine.h"
#include "online/response_progress.h"

namespace kestrine {

namespace {

constexpr size_t kMaxPortDigits = 19;

}  // namespace

uint32_t SplitRemoteName(std::string_view rest, uint16_t defaultPort, RemoteName& name) {
  const size_t hostEnd = rest.find_first_of(":/");
  const std::string_view host = rest.substr(0, hostEnd);
  if (host.empty()) return kErrorInvalidParameter;
  uint16_t port = defaultPort;
  std::string_view path =
      hostEnd == std::string_view::npos ? std::string_view() : rest.substr(hostEnd);
  if (path.starts_with(':')) {
    const size_t portEnd = path.find('/');
    const std::string_view digits =
        path.substr(1, portEnd == std::string_view::npos ? portEnd : portEnd - 1);
    if (digits.empty() || digits.size() > kMaxPortDigits ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
      return kErrorInvalidParameter;
    }
    const uint64_t value = LeadingNumber(digits).value_or(0);
    if (value == 0 || value > UINT16_MAX) return kErrorInvalidParameter;
    port = static_cast<uint16_t>(value);
    path = portEnd == std::string_view::npos ? std::string_view() : path.substr(portEnd);
  }
  name.host = std::string(host);
  name.port = port;
  name.path = std::string(path);
  return kErrorSuccess;
}

std::string SchemeOf(std::string_view url, std::string_view& rest) {
  const size_t separator = url.find("://");
  if (separator == std::string_view::npos) return {};
  std::string scheme;
  for (char c : url.substr(0, separator)) {
    scheme += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (scheme != "http" && scheme != "https" && scheme != "ribbit") return {};
  rest = url.substr(separator + 3);
  return scheme;
}

}  // namespace kestrine
