// TVFS loader over a storage that lists the EKeys of seeds 0..63. The first
// input byte picks the storage's kind (bit 0: keyed by full EKeys, as a
// "data\.build.config" storage), the rest is the root. Any input ends in one
// of the loader's codes; the handler is installed exactly on 0 and 1011, and
// every name it holds is bound to an entry of the storage or to span records.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/errors.h"
#include "roots/file_tree_root.h"
#include "roots/root_loaders.h"
#include "storage/span_records.h"
#include "testkit/index_files.h"
#include "testkit/roots.h"

namespace {

bool KnownCode(uint32_t result) {
  return result == 0 || result == 8 || result == 11 || result == 1392 ||
         result == kestrine::kErrorReparseRoot;
}

bool BoundToStorage(kestrine::TCascStorage& storage, const kestrine::ContentEntry* entry) {
  auto all = storage.contents.entries();
  for (const auto& stored : all) {
    if (&stored == entry) return true;
  }
  return storage.spanRecords.Holds(entry, 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 16)) return 0;
  auto storage = kestrine::testkit::MakeMemoryStorage(128);
  storage->kind = (data[0] & 1) ? kestrine::BUILD_CONFIG : kestrine::BUILD_INFO;
  for (uint32_t seed = 0; seed < 64; ++seed) kestrine::testkit::AddContentEntry(*storage, seed);
  kestrine::ContentEntry descriptor =
      *storage->contents.FindByCKey(kestrine::testkit::MakeKey(3).data());
  storage->vfsRootEntries.push_back(descriptor);
  storage->vfsRootEntry = descriptor;

  const uint32_t result = kestrine::LoadTvfsRoot(*storage, std::span(data + 1, size - 1), 0);
  if (!KnownCode(result)) __builtin_trap();
  const bool installed = result == 0 || result == kestrine::kErrorReparseRoot;
  if (installed != (storage->root != nullptr)) __builtin_trap();
  if (installed) {
    const auto& tree = static_cast<kestrine::TFileTreeRoot&>(*storage->root).tree();
    for (uint32_t node = 1; node < tree.nodeCount(); ++node) {
      const auto* entry = tree.Node(node).entry;
      if (entry != nullptr && !BoundToStorage(*storage, entry)) __builtin_trap();
    }
  }
  return 0;
}
