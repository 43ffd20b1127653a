#include "testkit/cdn_archives.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "common/md5.h"
#include "testkit/blte.h"
#include "testkit/byte_writer.h"
#include "testkit/index_files.h"

namespace kestrine::testkit {

namespace {

constexpr size_t kFillerContentSize = 64;

bool Contains(const std::vector<Key16>& keys, const Key16& key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool IsLoose(const CdnPlan& plan, const PlacedFile& placed) {
  return placed.manifest ? plan.looseManifests : Contains(plan.looseFiles, placed.file->ekey);
}

// A small file nobody names: one plain frame of text distinct per filler.
EncodedFile MakeFiller(size_t archive, size_t number) {
  std::string text = "filler " + std::to_string(archive) + "." + std::to_string(number) + " ";
  std::vector<uint8_t> content(kFillerContentSize, '.');
  std::copy_n(text.begin(), std::min(text.size(), content.size()), content.begin());
  BltePlan blte;
  blte.frames = SplitFrames(content.size(), content.size(), 'N');
  StoredFile stored = EncodeFile(std::move(content), blte);
  return {stored.ekey, std::move(stored.encoded)};
}

class LayoutBuilder {
 public:
  explicit LayoutBuilder(CdnLayout& layout) : layout_(layout) {}

  void StartArchive(bool filler) {
    layout_.archives.push_back({});
    layout_.archives.back().filler = filler;
  }

  void Place(const Key16& ekey, size_t size, bool filler) {
    CdnArchive& archive = layout_.archives.back();
    if (archive.size + size > 0x0FFFFFFF) throw std::length_error("CDN archive too large");
    const auto number = static_cast<uint32_t>(layout_.archives.size() - 1);
    archive.members.push_back(layout_.placements.size());
    layout_.placements.push_back(
        {ekey, number, static_cast<uint32_t>(archive.size), static_cast<uint32_t>(size), filler});
    archive.size += size;
  }

  void PlaceLoose(const Key16& ekey, size_t size) {
    layout_.placements.push_back({ekey, std::nullopt, 0, static_cast<uint32_t>(size), false});
  }

 private:
  CdnLayout& layout_;
};

void PlaceFiles(const CdnPlan& plan, std::span<const PlacedFile> files, LayoutBuilder& builder) {
  const size_t perArchive = std::max<size_t>(plan.filesPerArchive, 1);
  size_t inArchive = perArchive;  // no archive open yet
  for (const PlacedFile& placed : files) {
    const EncodedFile& file = *placed.file;
    if (IsLoose(plan, placed)) {
      builder.PlaceLoose(file.ekey, file.encoded.size());
      continue;
    }
    if (inArchive == perArchive) {
      builder.StartArchive(false);
      inArchive = 0;
    }
    builder.Place(file.ekey, file.encoded.size(), false);
    ++inArchive;
  }
}

void AddFillers(const CdnPlan& plan, CdnLayout& layout, LayoutBuilder& builder) {
  const size_t wanted = std::max<size_t>(plan.minimumArchives, 1);
  const size_t perArchive = std::max<size_t>(plan.fillerFilesPerArchive, 1);
  while (layout.archives.size() < wanted) {
    builder.StartArchive(true);
    for (size_t i = 0; i < perArchive; ++i) {
      layout.fillers.push_back(MakeFiller(layout.archives.size() - 1, i));
      const EncodedFile& filler = layout.fillers.back();
      builder.Place(filler.ekey, filler.encoded.size(), true);
    }
  }
}

// The index file (entries sorted by EKey) and the key it gives the archive.
void IndexArchive(CdnArchive& archive, const std::vector<CdnPlacement>& placements) {
  RemoteArchiveIndexFile index;
  for (size_t member : archive.members) {
    const CdnPlacement& placed = placements[member];
    index.entries.push_back({placed.ekey, placed.size, placed.offset});
  }
  std::sort(index.entries.begin(), index.entries.end(),
            [](const auto& a, const auto& b) { return a.ekey < b.ekey; });
  archive.index = WriteRemoteArchiveIndex(index);
  archive.key = ComputeMd5(archive.index);
}

Key16 ArchiveGroupKey(const std::vector<CdnArchive>& archives) {
  ByteWriter keys;
  for (const CdnArchive& archive : archives) keys.bytes(archive.key);
  return ComputeMd5(keys.data());
}

}  // namespace

std::span<const uint8_t> CdnLayout::BytesOf(size_t i, std::span<const PlacedFile> files) const {
  if (i < files.size()) return files[i].file->encoded;
  return fillers.at(i - files.size()).encoded;
}

CdnLayout PlanCdnLayout(const CdnPlan& plan, std::span<const PlacedFile> files) {
  CdnLayout layout;
  LayoutBuilder builder(layout);
  PlaceFiles(plan, files, builder);
  AddFillers(plan, layout, builder);
  for (CdnArchive& archive : layout.archives) IndexArchive(archive, layout.placements);
  layout.archiveGroup = ArchiveGroupKey(layout.archives);
  return layout;
}

}  // namespace kestrine::testkit
