// The connections (and resolved names) that libcurl keeps between requests,
// shared by every request of the process while an online storage is open.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace kestrine {

// Starts libcurl once per process.
void EnsureCurlStarted();

// A libcurl share handle for connections and DNS, with its locks.
class ConnectionShare {
 public:
  ConnectionShare();
  ~ConnectionShare();
  ConnectionShare(const ConnectionShare&) = delete;
  ConnectionShare& operator=(const ConnectionShare&) = delete;

  CURLSH* handle() const { return handle_; }

 private:
  CURLSH* handle_ = nullptr;
};

// The share of the open online storages; null while none is open. A request
// holds it until its easy handle is gone, so the connections close when the
// last storage closed and the last request ended.
std::shared_ptr<ConnectionShare> CurrentConnectionShare();

}  // namespace kestrine
