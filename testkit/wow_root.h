// Writers of WoW roots and of the list files that name their files, from
// plans: the layout, the block version, blocks with their locale and content
// flags, and files with their id, CKey and name (entered as a name hash or
// not). Header fields and counts can be overridden and the result cut short,
// so that tests can damage any part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/hex_key.h"
#include "testkit/blte.h"
#include "testkit/installation.h"

namespace kestrine::testkit {

struct WowRootFile {
  uint32_t fileId = 0;
  Key16 ckey{};
  std::string name;                  // may be empty
  bool hashed = true;                // the root carries the name's hash (when it has a name)
  uint64_t NameHashWritten() const;  // 0 when none
};

struct WowRootBlock {
  uint32_t localeFlags = 0x2;
  // Block version 2 writes the low 16 bits in its first content field, bits
  // 17 to 24 in its byte and the rest in its second field.
  uint32_t contentFlags = 0;
  // Ids in any order: the deltas wrap around like the reader's sum.
  std::vector<WowRootFile> files;
  std::optional<uint32_t> fileCount;  // written instead of the real count
};

enum class WowLayout {
  kHeaded,       // "TSFM", header size, version, total and named counts
  kShortHeader,  // "TSFM", total and named counts
  kHeaderless,   // blocks from the first byte, old entry layout
};

struct WowRootPlan {
  WowLayout layout = WowLayout::kHeaded;
  uint32_t version = 1;  // kHeaded: the header's version and the block version
  std::vector<WowRootBlock> blocks;
  // Header fields; unset ones are the real ones (the header size 20, the
  // total count the files of all blocks, the named count those with a hash).
  std::optional<uint32_t> headerSize;
  std::optional<uint32_t> totalCount;
  std::optional<uint32_t> namedCount;
  // kHeaded: zeros pad the header up to a header size over 20.
  bool padHeader = true;
  size_t truncateBy = 0;  // bytes cut from the end
};

// A plan of the layout and version, without blocks.
WowRootPlan WowPlan(WowLayout layout, uint32_t version = 1);
WowRootBlock WowBlock(uint32_t localeFlags, uint32_t contentFlags, std::vector<WowRootFile> files);
WowRootFile WowFile(uint32_t fileId, const Key16& ckey, std::string name = "", bool hashed = true);

std::vector<uint8_t> WriteWowRoot(const WowRootPlan& plan);

// Total minus named files, as the plan's header states them.
uint32_t UnnamedFilesOf(const WowRootPlan& plan);

// A list file of names, one a line, each followed by `lineBreak`.
std::string NameListFile(const std::vector<std::string>& names,
                         const std::string& lineBreak = "\n");
// A list file of "id;name" lines.
std::string IdListFile(const std::vector<std::pair<uint32_t, std::string>>& lines);

// Stores `file` in the installation's archives and lists it in its ENCODING
// manifest, so that a root can name it by its CKey.
void StoreListedFile(InstallationPlan& layout, const StoredFile& file);

}  // namespace kestrine::testkit
