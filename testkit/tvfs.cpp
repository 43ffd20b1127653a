#include "testkit/tvfs.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "testkit/byte_writer.h"

namespace kestrine::testkit {

namespace {

constexpr uint8_t kSeparator = 0x00;
constexpr uint8_t kValueMarker = 0xFF;
constexpr size_t kMaxFragment = 254;  // 255 would read as a value marker

uint32_t OffsetWidth(size_t cftSize) {
  if (cftSize < 0x100) return 1;
  if (cftSize < 0x10000) return 2;
  if (cftSize < 0x1000000) return 3;
  return 4;
}

std::vector<std::string_view> SplitAtSlash(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t slash; (slash = text.find('/', start)) != std::string_view::npos; start = slash + 1) {
    parts.push_back(text.substr(start, slash - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

size_t CommonPrefix(std::string_view a, std::string_view b) {
  size_t n = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
  return n;
}

struct Item {
  std::string_view rest;  // what is left of the name below the current node
  uint32_t vfsOffset;
};

class PathTableWriter {
 public:
  explicit PathTableWriter(InnerSeparator inner) : inner_(inner) {}

  // The entries of a node: its own file first (a value without fragment),
  // then one edge per group of names sharing their first character, the
  // groups in the order of their first names, so that a walk meets the names
  // in the order given wherever the tree allows.
  std::vector<uint8_t> Node(const std::vector<Item>& items) const {
    ByteWriter out;
    std::vector<std::vector<Item>> groups;
    for (const Item& item : items) {
      if (item.rest.empty()) {
        AppendValue(out, item.vfsOffset);
        continue;
      }
      auto group = std::find_if(groups.begin(), groups.end(), [&](const std::vector<Item>& g) {
        return g[0].rest[0] == item.rest[0];
      });
      if (group == groups.end()) {
        groups.push_back({item});
      } else {
        group->push_back(item);
      }
    }
    for (const std::vector<Item>& group : groups) Edge(out, group);
    return out.take();
  }

 private:
  void Edge(ByteWriter& out, const std::vector<Item>& group) const {
    if (group.size() == 1) {
      Label(out, group[0].rest);
      AppendValue(out, group[0].vfsOffset);
      return;
    }
    size_t common = group[0].rest.size();
    for (const Item& item : group)
      common = std::min(common, CommonPrefix(item.rest, group[0].rest));
    std::vector<Item> below;
    for (const Item& item : group) below.push_back({item.rest.substr(common), item.vfsOffset});
    const std::vector<uint8_t> content = Node(below);
    Label(out, group[0].rest.substr(0, common));
    AppendValue(out, FolderValue(content.size()));
    out.bytes(content);
  }

  // The entries spelling `label`, the last one left open for its value.
  void Label(ByteWriter& out, std::string_view label) const {
    const bool before = label.starts_with('/');
    if (before) label.remove_prefix(1);
    const bool after = label.ends_with('/');
    if (after) label.remove_suffix(1);
    if (before) out.u8(kSeparator);
    if (label.empty()) {
      if (after && !before) out.u8(kSeparator);
      return;
    }
    std::vector<std::string_view> parts{label};
    if (inner_ != InnerSeparator::kInsideFragment) parts = SplitAtSlash(label);
    for (size_t j = 0; j < parts.size(); ++j) {
      Fragment(out, parts[j]);
      const bool last = j + 1 == parts.size();
      if ((last && after) || (!last && inner_ == InnerSeparator::kAfter)) out.u8(kSeparator);
    }
  }

  static void Fragment(ByteWriter& out, std::string_view fragment) {
    if (fragment.empty() || fragment.size() > kMaxFragment) {
      throw std::invalid_argument("TVFS fragment of 1 to 254 bytes expected");
    }
    out.u8(static_cast<uint8_t>(fragment.size()));
    out.text(fragment);
  }

  static void AppendValue(ByteWriter& out, uint32_t value) {
    out.u8(kValueMarker);
    out.u32be(value);
  }

  InnerSeparator inner_;
};

}  // namespace

uint32_t FolderValue(size_t contentSize) {
  return 0x80000000u | static_cast<uint32_t>(contentSize + 4);
}

std::vector<uint8_t> PathEntryBytes(bool separatorBefore,
                                    const std::optional<std::string>& fragment, bool separatorAfter,
                                    std::optional<uint32_t> value) {
  ByteWriter out;
  if (separatorBefore) out.u8(kSeparator);
  if (fragment) {
    out.u8(static_cast<uint8_t>(fragment->size()));
    out.text(*fragment);
  }
  if (separatorAfter) out.u8(kSeparator);
  if (value) {
    out.u8(kValueMarker);
    out.u32be(*value);
  }
  return out.take();
}

TvfsParts LayOutTvfs(const TvfsRoot& root) {
  TvfsParts parts;
  parts.ekeySize = root.ekeySize;
  size_t spanCount = 0;
  for (const TvfsFile& file : root.files) spanCount += file.spans.size();
  const size_t cftEntries = spanCount * (root.ekeySize + 4);
  const size_t cftSize = std::max<size_t>(root.cftSize.value_or(0), cftEntries);
  ByteWriter cft;
  cft.zeros(cftSize - cftEntries);
  ByteWriter vfsTable;
  const uint32_t width = OffsetWidth(cftSize);

  std::vector<Item> items;
  for (const TvfsFile& file : root.files) {
    const uint32_t vfsOffset = static_cast<uint32_t>(vfsTable.size());
    parts.vfsOffsets.push_back(vfsOffset);
    parts.cftOffsets.push_back(static_cast<uint32_t>(cft.size()));
    vfsTable.u8(static_cast<uint8_t>(file.spans.size()));
    uint32_t offsetInFile = 0;
    for (const TvfsSpan& span : file.spans) {
      vfsTable.u32be(offsetInFile);
      vfsTable.u32be(span.contentSize);
      vfsTable.be(cft.size(), width);
      offsetInFile += span.contentSize;
      cft.bytes(std::span(span.ekey).first(root.ekeySize));
      cft.u32be(span.encodedSize);
    }
    items.push_back({file.name, vfsOffset});
  }
  parts.vfsTable = vfsTable.take();
  parts.cft = cft.take();
  const std::vector<uint8_t> content = PathTableWriter(root.innerSeparator).Node(items);
  if (root.rootFolder) {
    parts.pathTable = PathEntryBytes(false, std::nullopt, false, FolderValue(content.size()));
  }
  parts.pathTable.insert(parts.pathTable.end(), content.begin(), content.end());
  return parts;
}

std::vector<uint8_t> AssembleTvfs(const TvfsParts& parts) {
  const TvfsHeaderFields& h = parts.header;
  const uint32_t pathOffset = h.headerSize;
  const uint32_t vfsOffset = pathOffset + static_cast<uint32_t>(parts.pathTable.size());
  const uint32_t cftOffset = vfsOffset + static_cast<uint32_t>(parts.vfsTable.size());
  ByteWriter out;
  out.text(h.signature);
  out.u8(h.version);
  out.u8(h.headerSize);
  out.u8(h.ekeySize.value_or(parts.ekeySize));
  out.u8(h.patchKeySize.value_or(h.ekeySize.value_or(parts.ekeySize)));
  out.u32be(0);
  out.u32be(h.pathOffset.value_or(pathOffset));
  out.u32be(h.pathSize.value_or(parts.pathTable.size()));
  out.u32be(h.vfsOffset.value_or(vfsOffset));
  out.u32be(h.vfsSize.value_or(parts.vfsTable.size()));
  out.u32be(h.cftOffset.value_or(cftOffset));
  out.u32be(h.cftSize.value_or(parts.cft.size()));
  out.u16be(8);
  out.resize(h.headerSize);
  out.bytes(parts.pathTable);
  out.bytes(parts.vfsTable);
  out.bytes(parts.cft);
  return out.take();
}

std::vector<uint8_t> WriteTvfs(const TvfsRoot& root) {
  return AssembleTvfs(LayOutTvfs(root));
}

TvfsSpan StoreTvfsSpan(InstallationPlan& layout, const StoredFile& file, bool listed) {
  layout.files.push_back({file.ekey, file.encoded});
  const uint32_t contentSize = static_cast<uint32_t>(file.content.size());
  if (listed) layout.encoding.entries.push_back({file.ckey, contentSize, {file.ekey}});
  return {file.ekey, contentSize, static_cast<uint32_t>(file.encoded.size())};
}

namespace {

// Stores `content` as a manifest the build configuration names `key`.
TvfsSpan StoreNamedManifest(InstallationPlan& layout, const std::string& key,
                            std::vector<uint8_t> content) {
  WrittenManifest file = EncodeManifest(std::move(content));
  layout.files.push_back({file.ekey, file.encoded});
  const uint32_t contentSize = static_cast<uint32_t>(file.content.size());
  layout.encoding.entries.push_back({file.ckey, contentSize, {file.ekey}});
  layout.buildConfig.emplace_back(key, KeyText(file.ckey) + " " + KeyText(file.ekey));
  layout.buildConfig.emplace_back(
      key + "-size", std::to_string(contentSize) + " " + std::to_string(file.encoded.size()));
  return {file.ekey, contentSize, static_cast<uint32_t>(file.encoded.size())};
}

}  // namespace

TvfsSpan StoreNestedDirectory(InstallationPlan& layout, std::vector<uint8_t> directory,
                              uint32_t number) {
  return StoreNamedManifest(layout, "vfs-" + std::to_string(number), std::move(directory));
}

void StoreVfsRoot(InstallationPlan& layout, std::vector<uint8_t> root) {
  StoreNamedManifest(layout, "vfs-root", std::move(root));
}

std::string KeyFormName(uint32_t seed) {
  char text[64];
  std::snprintf(text, sizeof text, "%012x:%08x%08x%08x%08x%08x", seed, seed, seed + 1, seed + 2,
                seed + 3, seed + 4);
  return text;
}

}  // namespace kestrine::testkit
