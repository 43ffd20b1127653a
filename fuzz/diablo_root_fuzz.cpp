// Diablo III loader over a storage that lists the CKeys of seeds 0..63. The
// input is split into files at each "\xFE\xED\xFA\xCE": the first is the
// root, the i-th after it the content of the file whose CKey is
// testkit::MakeKey(i) (directories, the table of contents, the package
// list); files without a part cannot be read. Any input ends in one of the
// loader's codes; the handler is installed exactly on 0, and every name it
// holds is bound to an entry of the storage.
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "roots/diablo_root.h"
#include "testkit/index_files.h"
#include "testkit/roots.h"

namespace {

constexpr std::string_view kSeparator = "\xFE\xED\xFA\xCE";
constexpr uint32_t kKnownKeys = 64;

std::vector<std::span<const uint8_t>> SplitFiles(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::span<const uint8_t>> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = input.find(kSeparator, start);
    const size_t stop = end == std::string_view::npos ? size : end;
    parts.push_back(std::span(data + start, stop - start));
    if (end == std::string_view::npos) return parts;
    start = end + kSeparator.size();
  }
}

bool KnownCode(uint32_t result) {
  return result == 0 || result == 2 || result == 8 || result == 11;
}

bool BoundToStorage(kestrine::TCascStorage& storage, const kestrine::ContentEntry* entry) {
  for (const auto& stored : storage.contents.entries()) {
    if (&stored == entry) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  auto storage = kestrine::testkit::MakeMemoryStorage(128);
  for (uint32_t seed = 0; seed < kKnownKeys; ++seed) {
    kestrine::testkit::AddContentEntry(*storage, seed);
  }
  const std::vector<std::span<const uint8_t>> parts = SplitFiles(data, size);
  std::map<kestrine::Key16, std::span<const uint8_t>> files;
  for (uint32_t i = 1; i < parts.size() && i < kKnownKeys; ++i) {
    files[kestrine::testkit::MakeKey(i)] = parts[i];
  }
  auto read = [&](kestrine::TCascStorage&, kestrine::ContentEntry* entry,
                  std::vector<uint8_t>& out) -> uint32_t {
    out.clear();
    if (entry == nullptr) return kestrine::kErrorFileNotFound;
    auto file = files.find(entry->ckey);
    if (file == files.end()) return kestrine::kErrorFileNotFound;
    out.assign(file->second.begin(), file->second.end());
    return kestrine::kErrorSuccess;
  };

  const uint32_t result = kestrine::LoadDiabloRootWith(*storage, parts[0], read);
  if (!KnownCode(result)) __builtin_trap();
  if ((result == 0) != (storage->root != nullptr)) __builtin_trap();
  if (result == 0) {
    const auto& tree = static_cast<kestrine::TFileTreeRoot&>(*storage->root).tree();
    for (uint32_t node = 1; node < tree.nodeCount(); ++node) {
      const auto* entry = tree.Node(node).entry;
      if (entry != nullptr && !BoundToStorage(*storage, entry)) __builtin_trap();
    }
  }
  return 0;
}
