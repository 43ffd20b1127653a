// List files that name the files of a WoW root, in two forms:
//
//   names, one per line:     interface/icons/axe.blp
//   "id;name" lines:         123;interface/icons/axe.blp
//
// The second form is recognised when the file is read (it begins with one to
// ten digits and ";", see ReadWholeFile). Leading bytes up to 0x20 are
// skipped; a line ends at LF, CR, 0x85 or the end of the data; a line whose
// last "~" is followed by "P" ends at that "~". Lines of 260 bytes or more are
// passed over, and so are "id;name" lines whose id is over 0x9FFFFF or that
// lack the ";". A line starting with 20 digits ends the list.
#include <algorithm>
#include <string_view>

#include "common/byte_reader.h"
#include "encoded/stream.h"
#include "roots/wow_root.h"
#include "storage/text_table.h"

namespace kestrine {

namespace {

constexpr size_t kMaxLineLength = 259;
constexpr size_t kStopDigits = 20;
constexpr uint64_t kMaxListedId = 0x9FFFFF;
constexpr uint8_t kNextLine = 0x85;

bool IsBlank(uint8_t c) {
  return c <= 0x20;
}

bool IsLineEnd(uint8_t c) {
  return c == '\n' || c == '\r' || c == kNextLine;
}

bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// The rest of the line at the reader, consumed with its line end.
std::string_view ReadLineRest(ByteReader& reader) {
  std::string_view line = ReadTextUntil(reader, IsLineEnd);
  reader.skip(std::min<size_t>(1, reader.remaining()));
  const size_t tilde = line.rfind('~');
  if (tilde != std::string_view::npos && line.substr(tilde + 1).starts_with('P')) {
    line = line.substr(0, tilde);
  }
  return line;
}

// Skips to the next line; false at the end of the data.
bool NextLine(ByteReader& reader) {
  SkipTextWhile(reader, IsBlank);
  return reader.remaining() > 0;
}

// A file node that no name has reached yet.
bool IsNameless(const FileTree& tree, uint32_t node) {
  if (node == kNoNode || node == 0 || node >= tree.nodeCount()) return false;
  const FileTreeNode& head = tree.Node(node);
  return (head.flags & FTN_FOLDER) == 0 && head.nameLength == 0;
}

void AttachByHash(FileTree& tree, ByteReader& reader) {
  while (NextLine(reader)) {
    const std::string_view name = ReadLineRest(reader);
    if (name.empty() || name.size() > kMaxLineLength) continue;
    const uint32_t node = tree.FindName(name);
    if (IsNameless(tree, node) && !tree.AttachName(node, name)) return;
  }
}

enum class IdLine { kNamed, kPassedOver, kEndOfList };

IdLine ReadIdLine(ByteReader& reader, uint32_t& id, std::string_view& name) {
  const std::string_view digits = ReadTextUntil(reader, [](uint8_t c) { return !IsDigit(c); });
  if (digits.size() >= kStopDigits || reader.remaining() == 0) return IdLine::kEndOfList;
  const std::string_view rest = ReadLineRest(reader);
  if (digits.empty() || digits.size() + rest.size() > kMaxLineLength) return IdLine::kPassedOver;
  if (!rest.starts_with(';')) return IdLine::kPassedOver;
  uint64_t value = 0;
  for (char digit : digits) value = value * 10 + static_cast<uint64_t>(digit - '0');
  if (value > kMaxListedId) return IdLine::kPassedOver;
  id = static_cast<uint32_t>(value);
  name = rest.substr(1);
  return name.empty() ? IdLine::kPassedOver : IdLine::kNamed;
}

// A node that carries a name hash from the root takes only the name of that
// hash. False when memory runs out.
bool NameById(FileTree& tree, uint32_t id, std::string_view name) {
  const uint32_t node = tree.FindFileId(id);
  if (!IsNameless(tree, node)) return true;
  const uint64_t hash = tree.Node(node).nameHash;
  if (hash != 0 && hash != NameHash(name)) return true;
  return tree.AttachName(node, name);
}

void AttachById(FileTree& tree, ByteReader& reader) {
  while (NextLine(reader)) {
    uint32_t id = 0;
    std::string_view name;
    const IdLine line = ReadIdLine(reader, id, name);
    if (line == IdLine::kEndOfList) return;
    if (line == IdLine::kNamed && !NameById(tree, id, name)) return;
  }
}

}  // namespace

void ApplyWowListFile(FileTree& tree, WowEntryLayout layout, WholeFile& listFile) {
  ByteReader reader(listFile.bytes);
  reader.seek(std::min<uint64_t>(listFile.readPosition, listFile.bytes.size()));
  if (layout == WowEntryLayout::kOld) AttachByHash(tree, reader);
  if (listFile.flags & WholeFile::kIdListFlag) AttachById(tree, reader);
  listFile.readPosition = reader.offset();
}

}  // namespace kestrine
