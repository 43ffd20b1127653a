#include "tests/tool/installation_damage.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <span>

#include "testkit/build_files.h"
#include "testkit/index_files.h"

namespace kestrine::test {

namespace {

namespace fs = std::filesystem;

using testkit::kArchiveRecordHeaderSize;

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t BigEndian(std::span<const uint8_t> bytes, uint64_t at, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count && at + i < bytes.size(); ++i) value = (value << 8) | bytes[at + i];
  return value;
}

// Collects damages inside a target of `size` bytes; the same cut or flip
// is kept once, under its first description.
class DamageList {
 public:
  explicit DamageList(uint64_t size) : size_(size) {}

  void Cut(uint64_t offset, std::string where) {
    Add({DamageKind::kTruncate, offset, 0, "cut " + std::move(where)});
  }
  void Flip(uint64_t offset, std::string where, uint8_t mask = 0x01) {
    Add({DamageKind::kFlip, offset, mask, "flip " + std::move(where)});
  }
  // Flips the first byte after `needle` in the target's text.
  void FlipAfter(std::string_view text, std::string_view needle, std::string where) {
    const size_t at = text.find(needle);
    if (at != std::string_view::npos) Flip(at + needle.size(), std::move(where));
  }
  void FlipAt(std::string_view text, std::string_view needle, std::string where) {
    const size_t at = text.find(needle);
    if (at != std::string_view::npos) Flip(at, std::move(where));
  }
  uint64_t size() const { return size_; }
  std::vector<Damage> Take() { return std::move(damages_); }

 private:
  void Add(Damage damage) {
    if (damage.offset >= size_) return;
    const bool known = std::any_of(damages_.begin(), damages_.end(), [&](const Damage& d) {
      return d.kind == damage.kind && d.offset == damage.offset && d.mask == damage.mask;
    });
    if (!known) damages_.push_back(std::move(damage));
  }

  uint64_t size_;
  std::vector<Damage> damages_;
};

void AddFileCuts(DamageList& list) {
  const uint64_t size = list.size();
  list.Cut(0, "to 0 bytes");
  list.Cut(1, "to 1 byte");
  list.Cut(size / 2, "in the middle");
  if (size > 16) list.Cut(size - 8, "8 bytes short");
  list.Cut(size - 1, "1 byte short");
}

void AddFileFlips(DamageList& list) {
  list.Flip(0, "first byte");
  list.Flip(list.size() / 2, "middle byte");
  list.Flip(list.size() - 1, "last byte");
}

// ---- Fixed damages per file kind ----

std::vector<Damage> BuildInfoDamages(const testkit::Installation& installation,
                                     std::string_view text) {
  DamageList list(text.size());
  AddFileCuts(list);
  AddFileFlips(list);
  list.FlipAfter(text, "\n", "first value row");
  list.FlipAt(text, testkit::KeyText(installation.buildKey), "build key");
  list.FlipAt(text, testkit::KeyText(installation.cdnKey), "CDN key");
  return list.Take();
}

std::vector<Damage> BuildConfigDamages(const DamageGame& game, std::string_view text) {
  const testkit::Installation& installation = game.installation;
  DamageList list(text.size());
  AddFileCuts(list);
  AddFileFlips(list);
  list.FlipAt(text, testkit::KeyText(installation.encodingFile->ckey), "encoding CKey");
  list.FlipAt(text, testkit::KeyText(installation.encodingFile->ekey), "encoding EKey");
  list.FlipAfter(text, "encoding-size = ", "encoding content size");
  list.FlipAt(text, testkit::KeyText(game.rootCkey), "root CKey");
  list.FlipAt(text, testkit::KeyText(installation.downloadFile->ckey), "download CKey");
  list.FlipAt(text, testkit::KeyText(installation.downloadFile->ekey), "download EKey");
  return list.Take();
}

std::vector<Damage> CdnConfigDamages(std::string_view text) {
  DamageList list(text.size());
  AddFileCuts(list);
  AddFileFlips(list);
  list.FlipAfter(text, "archives = ", "archive key");
  return list.Take();
}

// A version-7 index file: a 32-byte header (hashed size, hash, version,
// bucket, field lengths, offset bits, padding), the entries' size and hash,
// then 18-byte entries (9 key bytes, 5 offset bytes, 4 size bytes).
std::vector<Damage> IndexDamages(uint64_t size) {
  DamageList list(size);
  AddFileCuts(list);
  list.Cut(32, "after the header");
  AddFileFlips(list);
  const std::pair<uint64_t, const char*> fields[] = {{0, "header hashed size"},
                                                     {4, "header hash"},
                                                     {8, "version"},
                                                     {10, "bucket"},
                                                     {12, "size-field length"},
                                                     {13, "offset-field length"},
                                                     {14, "key length"},
                                                     {15, "offset bits"},
                                                     {20, "header padding"},
                                                     {32, "entries size"},
                                                     {36, "entries hash"},
                                                     {40, "first entry key"},
                                                     {49, "first entry archive"},
                                                     {53, "first entry offset"},
                                                     {57, "first entry size"}};
  for (const auto& [offset, where] : fields) list.Flip(offset, where);
  return list.Take();
}

std::vector<Damage> ArchiveDamages(uint64_t size) {
  DamageList list(size);
  AddFileCuts(list);
  AddFileFlips(list);
  return list.Take();
}

// ---- Damages of one encoded file in an archive ----

// Where the frames of an encoded file lie, from its record's start.
struct FrameLayout {
  uint64_t dataOffset = 0;
  uint32_t encodedSize = 0;
  uint32_t contentSize = 0;
};

struct BlobLayout {
  uint32_t headerSize = 0;  // H of the BLTE header; 0: one frame, no table
  std::vector<FrameLayout> frames;
};

constexpr uint64_t kBlte = kArchiveRecordHeaderSize;  // the BLTE data follows the record header

BlobLayout ReadBlobLayout(std::span<const uint8_t> blob) {
  BlobLayout layout;
  layout.headerSize = BigEndian(blob, kBlte + 4, 4);
  if (layout.headerSize == 0) {
    layout.frames.push_back({kBlte + 8, static_cast<uint32_t>(blob.size() - kBlte - 8), 0});
    return layout;
  }
  const uint32_t count = BigEndian(blob, kBlte + 9, 3);
  uint64_t data = kBlte + layout.headerSize;
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t record = kBlte + 12 + 24 * k;
    FrameLayout frame{data, BigEndian(blob, record, 4), BigEndian(blob, record + 4, 4)};
    data += frame.encodedSize;
    layout.frames.push_back(frame);
  }
  return layout;
}

// The frame table's fields of frame k: its sizes (one size lowered by its
// highest bit, one raised by one) and its MD5.
void AddFrameTableFlips(DamageList& list, const FrameLayout& frame, size_t k) {
  const uint64_t record = kBlte + 12 + 24 * k;
  const std::string name = "frame " + std::to_string(k) + " ";
  list.Flip(record + 3, name + "encoded size");
  list.Flip(record + 7, name + "content size +-1");
  if (frame.contentSize != 0) {
    const int bit = 31 - __builtin_clz(frame.contentSize);
    list.Flip(record + 3 - bit / 8 + 4, name + "content size down",
              static_cast<uint8_t>(1u << (bit % 8)));
  }
  list.Flip(record + 8, name + "MD5");
}

void AddFrameDataFlips(DamageList& list, const FrameLayout& frame, size_t k) {
  const std::string name = "frame " + std::to_string(k) + " ";
  list.Flip(frame.dataOffset, name + "mode");
  list.Flip(frame.dataOffset + 1, name + "first payload byte");
  list.Flip(frame.dataOffset + frame.encodedSize / 2, name + "middle");
  // One bit at each eighth of the payload, a different bit each time: a
  // zlib stream still inflates after some of them.
  for (uint32_t i = 1; i < 8; i += 2) {
    list.Flip(frame.dataOffset + frame.encodedSize * i / 8,
              name + "eighth " + std::to_string(i) + " bit " + std::to_string(i),
              static_cast<uint8_t>(1u << i));
  }
  if (frame.encodedSize > 0)
    list.Flip(frame.dataOffset + frame.encodedSize - 1, name + "last byte");
}

std::vector<Damage> BlobDamages(std::span<const uint8_t> blob) {
  const BlobLayout layout = ReadBlobLayout(blob);
  DamageList list(blob.size());
  list.Cut(0, "before its record header");
  list.Cut(1, "in its record header");
  list.Cut(kBlte, "before its BLTE header");
  list.Cut(layout.frames.front().dataOffset, "before its frames");
  list.Cut(blob.size() / 2, "in the middle");
  list.Cut(blob.size() - 8, "8 bytes short");
  list.Cut(blob.size() - 1, "1 byte short");
  list.Flip(0, "record header EKey");
  list.Flip(16, "record header size");
  list.Flip(25, "record header padding");
  list.Flip(kBlte, "BLTE signature");
  list.Flip(kBlte + 7, "header size");
  if (layout.headerSize != 0) {
    list.Flip(kBlte + 8, "table flags");
    list.Flip(kBlte + 11, "frame count");
    for (size_t k = 0; k < layout.frames.size(); ++k) AddFrameTableFlips(list, layout.frames[k], k);
  }
  for (size_t k = 0; k < layout.frames.size(); ++k) AddFrameDataFlips(list, layout.frames[k], k);
  return list.Take();
}

// ---- Targets ----

std::string TextOf(const std::vector<uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

fs::path Relative(const testkit::Installation& installation, const fs::path& path) {
  return path.lexically_relative(installation.root);
}

void AddFileTargets(const DamageGame& game, std::vector<DamageTarget>& targets) {
  const testkit::Installation& installation = game.installation;
  const std::string buildInfo = TextOf(ReadBytes(installation.buildFile));
  targets.push_back({"build info", ".build.info", Relative(installation, installation.buildFile), 0,
                     buildInfo.size(), std::nullopt, BuildInfoDamages(installation, buildInfo)});
  const fs::path buildConfig =
      testkit::ConfigFilePath(installation.dataDirectory, installation.buildKey);
  const std::string buildText = TextOf(ReadBytes(buildConfig));
  targets.push_back({"build config", buildConfig.filename(), Relative(installation, buildConfig), 0,
                     buildText.size(), std::nullopt, BuildConfigDamages(game, buildText)});
  const fs::path cdnConfig =
      testkit::ConfigFilePath(installation.dataDirectory, installation.cdnKey);
  const std::string cdnText = TextOf(ReadBytes(cdnConfig));
  targets.push_back({"CDN config", cdnConfig.filename(), Relative(installation, cdnConfig), 0,
                     cdnText.size(), std::nullopt, CdnConfigDamages(cdnText)});
}

void AddIndexTargets(const testkit::Installation& installation,
                     std::vector<DamageTarget>& targets) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(installation.archiveFolder)) {
    if (entry.path().extension() == ".idx") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    const uint64_t size = fs::file_size(file);
    targets.push_back({"index", file.filename(), Relative(installation, file), 0, size,
                       std::nullopt, IndexDamages(size)});
  }
}

std::pair<std::string, std::string> BlobKindAndLabel(const DamageGame& game, const Key16& ekey) {
  const testkit::Installation& installation = game.installation;
  if (installation.encodingFile && ekey == installation.encodingFile->ekey) {
    return {"ENCODING", "ENCODING"};
  }
  if (installation.downloadFile && ekey == installation.downloadFile->ekey) {
    return {"DOWNLOAD", "DOWNLOAD"};
  }
  if (ekey == game.rootEkey) return {"root", "root"};
  auto named = game.assetNames.find(ekey);
  return {"asset", named == game.assetNames.end() ? testkit::KeyText(ekey) : named->second};
}

void AddArchiveTargets(const DamageGame& game, std::vector<DamageTarget>& targets) {
  const testkit::Installation& installation = game.installation;
  const fs::path archivePath = installation.archiveFolder / testkit::DataArchiveName(0);
  const std::vector<uint8_t> archive = ReadBytes(archivePath);
  const fs::path file = Relative(installation, archivePath);
  targets.push_back({"archive", file.filename(), file, 0, archive.size(), std::nullopt,
                     ArchiveDamages(archive.size())});
  std::vector<DamageTarget> blobs;
  for (const testkit::StoredBlob& blob : installation.blobs) {
    auto [kind, label] = BlobKindAndLabel(game, blob.ekey);
    std::span<const uint8_t> bytes(archive.data() + blob.offset, blob.encodedSize);
    blobs.push_back(
        {kind, label, file, blob.offset, blob.encodedSize, blob.ekey, BlobDamages(bytes)});
  }
  // Manifests first, then the assets in archive order.
  std::stable_partition(blobs.begin(), blobs.end(),
                        [](const DamageTarget& t) { return t.kind != "asset"; });
  targets.insert(targets.end(), blobs.begin(), blobs.end());
}

// ---- The quick subset and the random damages ----

struct QuickPick {
  const char* kind;
  const char* label;  // empty: the first target of the kind
  const char* where;
};

// One or two damages per file kind, and the encoded shapes whose damage the
// frame checks alone do not see.
constexpr QuickPick kQuickPicks[] = {
    {"build info", "", "cut in the middle"},
    {"build info", "", "flip build key"},
    {"build info", "", "flip last byte"},
    {"build config", "", "cut to 1 byte"},
    {"build config", "", "flip encoding EKey"},
    {"CDN config", "", "flip middle byte"},
    {"index", "", "cut in the middle"},
    {"index", "", "flip version"},
    {"archive", "", "cut in the middle"},
    {"archive", "", "flip middle byte"},
    {"ENCODING", "", "flip frame 0 content size down"},
    {"ENCODING", "", "cut 1 byte short"},
    {"DOWNLOAD", "", "flip frame 0 middle"},
    {"DOWNLOAD", "", "cut in the middle"},
    {"root", "", "flip frame 0 content size down"},
    {"root", "", "flip frame 0 last byte"},
    {"root", "", "flip frame 1 middle"},
    {"root", "", "cut 1 byte short"},
    {"asset", "SD\\Unit\\Terran\\Marine.grp", "cut 1 byte short"},
    {"asset", "SD\\Unit\\Terran\\Marine.grp", "flip frame 1 content size down"},
    {"asset", "SD\\Unit\\Terran\\Marine.grp", "flip record header padding"},
    {"asset", "SD\\Arr\\Units.dat", "flip frame 0 middle"},
    {"asset", "SD\\Arr\\Units.dat", "cut 1 byte short"},
    // A flip after which this asset's zlib frame, which has no MD5, still inflates.
    {"asset", "SD\\Game\\TConsole.dds", "flip frame 0 eighth 3 bit 3"},
    {"asset", "SD\\Music\\Terran1.wav", "cut in the middle"},
    {"asset", "SD\\Arr\\SfxData.tbl", "flip frame 0 last byte"},
    {"asset", "SD\\Arr\\Empty.dat", "flip frame 0 mode"},
    {"asset", "SD\\Arr\\Readme.txt", "flip frame 0 middle"},
};

bool IsFirstOfKind(const std::vector<DamageTarget>& targets, const DamageTarget& target) {
  auto first = std::find_if(targets.begin(), targets.end(),
                            [&](const DamageTarget& t) { return t.kind == target.kind; });
  return &*first == &target;
}

bool IsQuickPick(const std::vector<DamageTarget>& targets, const DamageTarget& target,
                 const Damage& damage) {
  return std::any_of(std::begin(kQuickPicks), std::end(kQuickPicks), [&](const QuickPick& pick) {
    const bool sameTarget = std::string_view(pick.label).empty() ? IsFirstOfKind(targets, target)
                                                                 : target.label == pick.label;
    return target.kind == pick.kind && sameTarget && damage.where == pick.where;
  });
}

void KeepQuickPicks(std::vector<DamageTarget>& targets) {
  for (DamageTarget& target : targets) {
    std::erase_if(target.damages,
                  [&](const Damage& damage) { return !IsQuickPick(targets, target, damage); });
  }
  std::erase_if(targets, [](const DamageTarget& target) { return target.damages.empty(); });
}

constexpr int kRandomFlipsPerTarget = 48;
constexpr int kRandomCutsPerTarget = 6;

void AddRandomDamages(std::vector<DamageTarget>& targets, uint64_t seed) {
  std::mt19937_64 random(seed);
  for (DamageTarget& target : targets) {
    DamageList list(target.size);
    for (int i = 0; i < kRandomFlipsPerTarget; ++i) {
      const uint64_t offset = random() % target.size;
      const int bit = static_cast<int>(random() % 8);
      list.Flip(offset,
                "byte " + std::to_string(offset) + " bit " + std::to_string(bit) + " (random)",
                static_cast<uint8_t>(1u << bit));
    }
    for (int i = 0; i < kRandomCutsPerTarget; ++i) {
      const uint64_t offset = random() % target.size;
      list.Cut(offset, "to " + std::to_string(offset) + " bytes (random)");
    }
    for (Damage& damage : list.Take()) target.damages.push_back(std::move(damage));
  }
}

// Moves the encoded file `ekey` behind all others in the copy's archive and
// rewrites the index files to match; returns its new record offset.
uint64_t MoveBlobToArchiveEnd(const DamageGame& game, const fs::path& copyRoot, const Key16& ekey) {
  const testkit::Installation& installation = game.installation;
  const fs::path folder = copyRoot / Relative(installation, installation.archiveFolder);
  const std::vector<uint8_t> archive = ReadBytes(folder / testkit::DataArchiveName(0));
  testkit::DataArchiveWriter writer;
  auto add = [&](const testkit::StoredBlob& blob) {
    writer.Add(blob.ekey, std::span(archive).subspan(blob.offset + kArchiveRecordHeaderSize,
                                                     blob.encodedSize - kArchiveRecordHeaderSize));
  };
  for (const testkit::StoredBlob& blob : installation.blobs) {
    if (blob.ekey != ekey) add(blob);
  }
  for (const testkit::StoredBlob& blob : installation.blobs) {
    if (blob.ekey == ekey) add(blob);
  }
  writer.WriteTo(folder.string());
  testkit::IndexFolder index;
  index.entries = writer.IndexEntries();
  testkit::WriteIndexFolder(folder.string(), index);
  return writer.blobs().back().offset;
}

void FlipByte(const fs::path& file, uint64_t offset, uint8_t mask) {
  std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
  io.seekg(static_cast<std::streamoff>(offset));
  const int byte = io.get();
  io.seekp(static_cast<std::streamoff>(offset));
  io.put(static_cast<char>(byte ^ mask));
}

}  // namespace

std::vector<DamageTarget> PlanDamages(const DamageGame& game, MatrixSize size, uint64_t seed) {
  std::vector<DamageTarget> targets;
  AddFileTargets(game, targets);
  AddIndexTargets(game.installation, targets);
  AddArchiveTargets(game, targets);
  if (size == MatrixSize::kQuick) {
    KeepQuickPicks(targets);
  } else {
    AddRandomDamages(targets, seed);
  }
  return targets;
}

void ApplyDamage(const DamageGame& game, const fs::path& copyRoot, const DamageTarget& target,
                 const Damage& damage) {
  const fs::path file = copyRoot / target.file;
  if (damage.kind == DamageKind::kFlip) {
    FlipByte(file, target.begin + damage.offset, damage.mask);
    return;
  }
  const uint64_t begin = target.blob ? MoveBlobToArchiveEnd(game, copyRoot, *target.blob) : 0;
  fs::resize_file(file, begin + damage.offset);
}

}  // namespace kestrine::test
