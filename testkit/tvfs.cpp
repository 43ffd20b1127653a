#include "testkit/tvfs.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string_view>

namespace kestrine::testkit {

namespace {

constexpr uint8_t kSeparator = 0x00;
constexpr uint8_t kValueMarker = 0xFF;
constexpr size_t kMaxFragment = 254;  // 255 would read as a value marker

void PutBig(std::vector<uint8_t>& out, uint64_t value, size_t bytes) {
  for (size_t i = bytes; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

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
    std::vector<uint8_t> out;
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
    return out;
  }

 private:
  void Edge(std::vector<uint8_t>& out, const std::vector<Item>& group) const {
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
    out.insert(out.end(), content.begin(), content.end());
  }

  // The entries spelling `label`, the last one left open for its value.
  void Label(std::vector<uint8_t>& out, std::string_view label) const {
    const bool before = label.starts_with('/');
    if (before) label.remove_prefix(1);
    const bool after = label.ends_with('/');
    if (after) label.remove_suffix(1);
    if (before) out.push_back(kSeparator);
    if (label.empty()) {
      if (after && !before) out.push_back(kSeparator);
      return;
    }
    std::vector<std::string_view> parts{label};
    if (inner_ != InnerSeparator::kInsideFragment) parts = SplitAtSlash(label);
    for (size_t j = 0; j < parts.size(); ++j) {
      Fragment(out, parts[j]);
      const bool last = j + 1 == parts.size();
      if ((last && after) || (!last && inner_ == InnerSeparator::kAfter)) {
        out.push_back(kSeparator);
      }
    }
  }

  static void Fragment(std::vector<uint8_t>& out, std::string_view fragment) {
    if (fragment.empty() || fragment.size() > kMaxFragment) {
      throw std::invalid_argument("TVFS fragment of 1 to 254 bytes expected");
    }
    out.push_back(static_cast<uint8_t>(fragment.size()));
    out.insert(out.end(), fragment.begin(), fragment.end());
  }

  static void AppendValue(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(kValueMarker);
    PutBig(out, value, 4);
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
  std::vector<uint8_t> out;
  if (separatorBefore) out.push_back(kSeparator);
  if (fragment) {
    out.push_back(static_cast<uint8_t>(fragment->size()));
    out.insert(out.end(), fragment->begin(), fragment->end());
  }
  if (separatorAfter) out.push_back(kSeparator);
  if (value) {
    out.push_back(kValueMarker);
    PutBig(out, *value, 4);
  }
  return out;
}

TvfsParts LayOutTvfs(const TvfsRoot& root) {
  TvfsParts parts;
  parts.ekeySize = root.ekeySize;
  size_t spanCount = 0;
  for (const TvfsFile& file : root.files) spanCount += file.spans.size();
  const size_t cftEntries = spanCount * (root.ekeySize + 4);
  const size_t cftSize = std::max<size_t>(root.cftSize.value_or(0), cftEntries);
  parts.cft.assign(cftSize - cftEntries, 0);
  const uint32_t width = OffsetWidth(cftSize);

  std::vector<Item> items;
  for (const TvfsFile& file : root.files) {
    const uint32_t vfsOffset = static_cast<uint32_t>(parts.vfsTable.size());
    parts.vfsOffsets.push_back(vfsOffset);
    parts.cftOffsets.push_back(static_cast<uint32_t>(parts.cft.size()));
    parts.vfsTable.push_back(static_cast<uint8_t>(file.spans.size()));
    uint32_t offsetInFile = 0;
    for (const TvfsSpan& span : file.spans) {
      PutBig(parts.vfsTable, offsetInFile, 4);
      PutBig(parts.vfsTable, span.contentSize, 4);
      PutBig(parts.vfsTable, parts.cft.size(), width);
      offsetInFile += span.contentSize;
      parts.cft.insert(parts.cft.end(), span.ekey.begin(), span.ekey.begin() + root.ekeySize);
      PutBig(parts.cft, span.encodedSize, 4);
    }
    items.push_back({file.name, vfsOffset});
  }
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
  std::vector<uint8_t> out(h.signature.begin(), h.signature.end());
  out.push_back(h.version);
  out.push_back(h.headerSize);
  out.push_back(h.ekeySize.value_or(parts.ekeySize));
  out.push_back(h.patchKeySize.value_or(h.ekeySize.value_or(parts.ekeySize)));
  PutBig(out, 0, 4);
  PutBig(out, h.pathOffset.value_or(pathOffset), 4);
  PutBig(out, h.pathSize.value_or(parts.pathTable.size()), 4);
  PutBig(out, h.vfsOffset.value_or(vfsOffset), 4);
  PutBig(out, h.vfsSize.value_or(parts.vfsTable.size()), 4);
  PutBig(out, h.cftOffset.value_or(cftOffset), 4);
  PutBig(out, h.cftSize.value_or(parts.cft.size()), 4);
  PutBig(out, 8, 2);
  out.resize(h.headerSize, 0);
  out.insert(out.end(), parts.pathTable.begin(), parts.pathTable.end());
  out.insert(out.end(), parts.vfsTable.begin(), parts.vfsTable.end());
  out.insert(out.end(), parts.cft.begin(), parts.cft.end());
  return out;
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
