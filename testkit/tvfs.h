// Writers of TVFS roots from parameters: a list of file names becomes a
// path table laid out as a prefix tree (shared prefixes as folders, "/"
// written as separator bytes before and after fragments or implied between
// consecutive fragments), each file gets a VFS entry of one or more spans and
// each span a CFT entry. The parts can be edited before they are assembled,
// so that tests can break any field or cut any table short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/hex_key.h"
#include "testkit/blte.h"
#include "testkit/installation.h"

namespace kestrine::testkit {

struct TvfsSpan {
  Key16 ekey{};  // its first ekeySize bytes are written
  uint32_t contentSize = 0;
  uint32_t encodedSize = 0;
};

struct TvfsFile {
  std::string name;  // components separated by "/"; fragments at most 254 bytes
  std::vector<TvfsSpan> spans;
};

// How a "/" between two fragments of one tree edge is written.
enum class InnerSeparator {
  kImplied,        // fragment entries back to back, no separator byte
  kAfter,          // a separator byte after the fragment
  kInsideFragment  // kept inside the fragment as "/"
};

struct TvfsRoot {
  std::vector<TvfsFile> files;
  uint8_t ekeySize = 9;
  bool rootFolder = true;  // the table opens with the root folder's value
  InnerSeparator innerSeparator = InnerSeparator::kImplied;
  // The CFT is padded in front to this size (the entries at its end), which
  // sets the width of the CFT offsets.
  std::optional<uint32_t> cftSize;
};

// The header fields; unset ones are the real ones.
struct TvfsHeaderFields {
  std::string signature = "TVFS";
  uint8_t version = 1;
  uint8_t headerSize = 38;  // bytes of the header written; the tables follow
  std::optional<uint8_t> ekeySize;
  std::optional<uint8_t> patchKeySize;
  std::optional<uint32_t> pathOffset, pathSize, vfsOffset, vfsSize, cftOffset, cftSize;
};

struct TvfsParts {
  TvfsHeaderFields header;
  uint8_t ekeySize = 9;
  std::vector<uint8_t> pathTable;
  std::vector<uint8_t> vfsTable;
  std::vector<uint8_t> cft;
  // Where each file's VFS entry and first span's CFT entry went.
  std::vector<uint32_t> vfsOffsets;
  std::vector<uint32_t> cftOffsets;
};

TvfsParts LayOutTvfs(const TvfsRoot& root);
// Header, path table, VFS table, CFT, in this order.
std::vector<uint8_t> AssembleTvfs(const TvfsParts& parts);
std::vector<uint8_t> WriteTvfs(const TvfsRoot& root);

// One path-table entry written by hand: [00] [L fragment] [00] [FF value].
std::vector<uint8_t> PathEntryBytes(bool separatorBefore,
                                    const std::optional<std::string>& fragment, bool separatorAfter,
                                    std::optional<uint32_t> value);
// A folder value for `contentSize` bytes of content.
uint32_t FolderValue(size_t contentSize);

// Stores `file` in the installation's archives, listed by its ENCODING
// manifest unless `listed` is false, and returns the span that names it.
TvfsSpan StoreTvfsSpan(InstallationPlan& layout, const StoredFile& file, bool listed = true);
// Stores a TVFS directory as the file of the build configuration's "vfs-N"
// line (listed by the ENCODING manifest) and returns the span that names it.
TvfsSpan StoreNestedDirectory(InstallationPlan& layout, std::vector<uint8_t> directory,
                              uint32_t number);
// Stores a root as the file of the build configuration's "vfs-root" line,
// which the open reads before the "root" one.
void StoreVfsRoot(InstallationPlan& layout, std::vector<uint8_t> root);

// A name of key form: twelve hex digits, ":" and forty hex digits.
std::string KeyFormName(uint32_t seed);

}  // namespace kestrine::testkit
