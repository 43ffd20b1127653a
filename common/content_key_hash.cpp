// The public incremental MD5: the library's own Md5 kept in the caller's
// opaque state record.
#include <cstring>
#include <new>
#include <span>
#include <type_traits>

#include "common/md5.h"
#include "kestrine.h"

namespace kestrine {

static_assert(sizeof(Md5) <= sizeof(ContentKeyHash::state));
static_assert(alignof(Md5) <= alignof(ContentKeyHash));
static_assert(std::is_trivially_destructible_v<Md5>);

namespace {

Md5& HasherOf(ContentKeyHash* hash) {
  return *std::launder(reinterpret_cast<Md5*>(hash->state));
}

}  // namespace

extern "C" KESTRINE_API void kestrine_content_key_hash_start(KestrineContentKeyHash* hash) {
  if (hash != nullptr) new (hash->state) Md5();
}

extern "C" KESTRINE_API void kestrine_content_key_hash_update(KestrineContentKeyHash* hash,
                                                              const void* data, size_t size) {
  if (hash == nullptr || (data == nullptr && size != 0)) return;
  HasherOf(hash).Update({static_cast<const uint8_t*>(data), size});
}

extern "C" KESTRINE_API void kestrine_content_key_hash_finish(KestrineContentKeyHash* hash,
                                                              uint8_t key[16]) {
  if (hash == nullptr) return;
  const Md5Digest digest = HasherOf(hash).Final();
  if (key != nullptr) std::memcpy(key, digest.data(), digest.size());
}

}  // namespace kestrine
