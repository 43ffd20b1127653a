#include "online/connection_share.h"

#include <array>
#include <cstddef>
#include <mutex>

#include "online/transfer.h"

namespace kestrine {

namespace {

// One lock per kind of shared data; libcurl asks for them by kind.
using ShareLocks = std::array<std::mutex, CURL_LOCK_DATA_LAST>;

ShareLocks& LocksOf(void* user) {
  return *static_cast<ShareLocks*>(user);
}

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  LocksOf(user)[static_cast<size_t>(data)].lock();
}

void UnlockShare(CURL*, curl_lock_data data, void* user) {
  LocksOf(user)[static_cast<size_t>(data)].unlock();
}

ShareLocks gShareLocks;

struct OpenStorages {
  std::mutex lock;
  size_t count = 0;
  std::shared_ptr<ConnectionShare> share;
};

OpenStorages& Storages() {
  static OpenStorages storages;
  return storages;
}

}  // namespace

void EnsureCurlStarted() {
  static std::once_flag started;
  std::call_once(started, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

ConnectionShare::ConnectionShare() {
  EnsureCurlStarted();
  handle_ = curl_share_init();
  if (handle_ == nullptr) return;
  curl_share_setopt(handle_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
  curl_share_setopt(handle_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  // The same locks serve every share: only one lives at a time, and an old
  // one still in use by a running request shares them harmlessly.
  curl_share_setopt(handle_, CURLSHOPT_USERDATA, &gShareLocks);
  curl_share_setopt(handle_, CURLSHOPT_LOCKFUNC, LockShare);
  curl_share_setopt(handle_, CURLSHOPT_UNLOCKFUNC, UnlockShare);
}

ConnectionShare::~ConnectionShare() {
  // Closes the connections kept in the share.
  if (handle_ != nullptr) curl_share_cleanup(handle_);
}

std::shared_ptr<ConnectionShare> CurrentConnectionShare() {
  OpenStorages& storages = Storages();
  std::lock_guard guard(storages.lock);
  return storages.share;
}

void OnlineStorageOpened() {
  OpenStorages& storages = Storages();
  std::lock_guard guard(storages.lock);
  if (storages.count++ == 0) {
    try {
      storages.share = std::make_shared<ConnectionShare>();
    } catch (const std::bad_alloc&) {
      // Requests then run without reuse.
    }
  }
}

void OnlineStorageClosed() {
  std::shared_ptr<ConnectionShare> last;
  {
    OpenStorages& storages = Storages();
    std::lock_guard guard(storages.lock);
    if (storages.count == 0) return;
    if (--storages.count == 0) last = std::move(storages.share);
  }
  // Released outside the lock: closing connections may take a moment.
}

}  // namespace kestrine
