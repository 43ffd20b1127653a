#include "encoded/decryption_keys.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "common/api_boundary.h"
#include "common/errors.h"
#include "storage/storage.h"

namespace kestrine {

bool DecryptionKeyTable::Add(uint64_t name, std::span<const uint8_t, 16> key) {
  if (Find(name) != nullptr) return false;
  TEncryptionKey entry;
  entry.name = name;
  std::copy(key.begin(), key.end(), entry.key.begin());
  buckets_[name & 0xFF].push_back(entry);
  ++count_;
  return true;
}

const uint8_t* DecryptionKeyTable::Find(uint64_t name) const {
  for (const TEncryptionKey& entry : buckets_[name & 0xFF]) {
    if (entry.name == name) return entry.key.data();
  }
  return nullptr;
}

std::span<const TEncryptionKey> BuiltInDecryptionKeys() {
  return {};
}

namespace {

DecryptionKeyTable& KeyTableOf(TCascStorage& storage) {
  if (!storage.decryptionKeys) storage.decryptionKeys = std::make_unique<DecryptionKeyTable>();
  return *storage.decryptionKeys;
}

}  // namespace

void FillKnownDecryptionKeys(TCascStorage& storage) {
  DecryptionKeyTable& table = KeyTableOf(storage);
  for (const TEncryptionKey& entry : BuiltInDecryptionKeys()) table.Add(entry.name, entry.key);
}

// Adding keys while files of the storage are read on other threads is not
// supported: readers look keys up without the lock.
extern "C" KESTRINE_API bool kestrine_add_decryption_key(KestrineStorage* handle, uint64_t keyName,
                                                         const uint8_t key[16]) try {
  TCascStorage* storage = StorageFromHandle(handle);
  if (storage == nullptr || key == nullptr) return FailWith(kErrorInvalidParameter);
  std::lock_guard<std::mutex> guard(storage->lock);
  KeyTableOf(*storage).Add(keyName, std::span<const uint8_t, 16>(key, 16));
  return true;
} catch (...) {
  return FailFromException(false);
}

}  // namespace kestrine
