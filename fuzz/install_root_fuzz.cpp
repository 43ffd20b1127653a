// INSTALL manifest loader over a storage that knows the CKeys of seeds
// 0..63. Any input either loads (0) or is refused as a bad format (11); a
// loaded tree holds only entries of the storage, each found by its name.
#include <cstddef>
#include <cstdint>
#include <span>

#include "roots/file_tree_root.h"
#include "roots/root_loaders.h"
#include "testkit/roots.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  static const kestrine::testkit::StorageRef storage = [] {
    auto made = kestrine::testkit::MakeMemoryStorage(128);
    for (uint32_t seed = 0; seed < 64; ++seed) kestrine::testkit::AddContentEntry(*made, seed);
    return made;
  }();
  storage->root.reset();
  const uint32_t result = kestrine::LoadInstallRoot(*storage, std::span(data, size), 0);
  if ((result == 0) != (storage->root != nullptr)) __builtin_trap();
  if (result != 0 && result != 11) __builtin_trap();
  if (result == 0) {
    const auto& tree = static_cast<kestrine::TFileTreeRoot&>(*storage->root).tree();
    for (uint32_t node = 1; node < tree.nodeCount(); ++node) {
      const auto* entry = tree.Node(node).entry;
      if (entry != nullptr && storage->contents.FindByCKey(entry->ckey.data()) != entry) {
        __builtin_trap();
      }
    }
  }
  storage->root.reset();
  return 0;
}
