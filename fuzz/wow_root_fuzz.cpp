// WoW root loader over a storage that knows the CKeys of seeds 0..63, then a
// search step with a list file. Input (scripts/seeds_wow.py writes seeds):
//
//   OFFSET SIZE FIELD
//   0      4    locale mask, little-endian
//   4      1    bit 0: the list file is of "id;name" lines
//   5      2    root size R, little-endian (cut to what follows)
//   7      R    the root
//   7 + R  ...  the list file
//
// Any input ends in 0, 8 or 11 with the handler installed exactly on 0; every
// node of the tree, before and after the list file, is bound to an entry of
// the storage (or is a folder) and reachable by its id.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "common/byte_reader.h"
#include "roots/root_loaders.h"
#include "roots/search.h"
#include "roots/wow_root.h"
#include "testkit/roots.h"

namespace {

bool BoundToStorage(kestrine::TCascStorage& storage, const kestrine::ContentEntry* entry) {
  for (const auto& stored : storage.contents.entries()) {
    if (&stored == entry) return true;
  }
  return false;
}

void CheckTree(kestrine::TCascStorage& storage, const kestrine::TRootHandler_WoW& root) {
  const auto& tree = root.tree();
  char path[kestrine::kMaxPath];
  for (uint32_t node = 1; node < tree.nodeCount(); ++node) {
    tree.BuildPath(node, path, sizeof path);
    const auto* entry = tree.Node(node).entry;
    if (entry == nullptr) {
      if ((tree.Node(node).flags & kestrine::FTN_FOLDER) == 0) __builtin_trap();
      continue;
    }
    if (!BoundToStorage(storage, entry)) __builtin_trap();
    if (tree.FindFileId(tree.FileId(node)) != node) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  kestrine::ByteReader input(std::span(data, size));
  const uint32_t localeMask = input.u32le();
  const uint8_t listFlags = input.u8();
  const uint16_t rootSize = input.u16le();
  if (!input.ok()) return 0;
  const auto rootData = input.bytes(std::min<size_t>(rootSize, input.remaining()));
  const auto listData = input.bytes(input.remaining());

  auto storage = kestrine::testkit::MakeMemoryStorage(128);
  for (uint32_t seed = 0; seed < 64; ++seed) kestrine::testkit::AddContentEntry(*storage, seed);
  const uint32_t result = kestrine::LoadWowRoot(*storage, rootData, localeMask);
  if (result != 0 && result != 8 && result != 11) __builtin_trap();
  if ((result == 0) != (storage->root != nullptr)) __builtin_trap();
  if (result != 0) return 0;

  auto& root = static_cast<kestrine::TRootHandler_WoW&>(*storage->root);
  CheckTree(*storage, root);
  kestrine::TCascSearch search;
  search.mask = "*";
  search.listFile = std::make_unique<kestrine::WholeFile>();
  search.listFile->bytes.assign(listData.begin(), listData.end());
  search.listFile->flags = listFlags & kestrine::WholeFile::kIdListFlag;
  kestrine::SearchResult found{};
  while (root.SearchNext(search, found) != nullptr) {
  }
  if ((search.state & kestrine::kSearchListFileApplied) == 0) __builtin_trap();
  CheckTree(*storage, root);
  return 0;
}
