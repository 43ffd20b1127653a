#include "testkit/demo_installation.h"

#include <algorithm>
#include <utility>

#include "testkit/build_files.h"
#include "testkit/byte_writer.h"
#include "testkit/stream_files.h"
#include "testkit/tvfs.h"

namespace kestrine::testkit {

std::string AssetNameOf(const std::string& storageName) {
  std::string name = storageName;
  for (char& c : name) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
  }
  return name.starts_with("sd/") ? name.substr(3) : name;
}

namespace {

constexpr size_t kFrameSize = 64 * 1024;

// Storage folders below "SD\", one per directory prefix the import keeps.
constexpr const char* kFolders[] = {"Arr", "Scripts", "Triggers", "Unit\\Terran", "TileSet", "Game",
                                    "Rez", "Font",    "Console",  "glue\\Pal",    "Cursor"};

// One file stem per extension the import keeps.
struct StemAndExtension {
  const char* stem;
  const char* extension;
};
constexpr StemAndExtension kStems[] = {
    {"Units", ".dat"},    {"Stat_Txt", ".tbl"},   {"AiScript", ".bin"}, {"Marine", ".grp"},
    {"TUnit", ".pcx"},    {"Badlands", ".cv5"},   {"Badlands", ".vf4"}, {"Badlands", ".vr4"},
    {"Badlands", ".vx4"}, {"Badlands", ".vx4ex"}, {"Badlands", ".wpe"}, {"Melee", ".trg"},
    {"Font16", ".fnt"}};

// Extensions of the form ".lo" and one further letter.
constexpr const char* kLoFiles[] = {"SD\\Unit\\Terran\\Marine.loa", "SD\\Unit\\Protoss\\Zealot.LOL",
                                    "SD\\Rez\\GluMain.lob"};
constexpr const char* kMusic[] = {"SD\\Music\\Terran1.wav", "SD\\music\\Zerg1.WAV",
                                  "SD\\Music\\Protoss1.wav"};
constexpr const char* kConsoles[] = {"SD\\Game\\TConsole.dds", "SD\\Game\\ZConsole.dds",
                                     "SD\\game\\PCONSOLE.DDS"};
constexpr const char* kSoundTable = "SD\\Arr\\SfxData.tbl";

// Sounds the sound table names, in its spelling; one of them is not stored.
constexpr const char* kTableSounds[] = {"Zerg\\Drone\\ZDrErr00.wav",
                                        "Terran\\Marine\\TMaWht00.wav",
                                        "Protoss\\Zealot\\PZeRdy00.ogg",
                                        "misc/Buzz.wav",
                                        "Misc\\Explo1.wav",
                                        "Terran\\SCV\\TSCErr00.wav",
                                        "Misc\\Explo1.wav"};
// Stored sounds the table names (kept) and does not name (dropped).
constexpr const char* kNamedSounds[] = {"SD\\Sound\\Zerg\\Drone\\ZDrErr00.wav",
                                        "SD\\Sound\\Terran\\MARINE\\tmawht00.WAV",
                                        "SD\\Sound\\Protoss\\Zealot\\PZeRdy00.ogg",
                                        "SD\\Sound\\Misc\\Buzz.wav", "SD\\Sound\\Misc\\Explo1.wav"};
constexpr const char* kUnnamedSounds[] = {"SD\\Sound\\Zerg\\Drone\\ZDrErr00.ogg",
                                          "SD\\Sound\\Terran\\Marine\\TMaWht01.wav",
                                          "SD\\Sound\\Glue\\MouseOver.ogg"};

// Names the import must leave out, each for its own reason. "Arr\units.dat"
// duplicates the asset of the first stored "SD\Arr\Units.DAT", found earlier.
constexpr const char* kDecoys[] = {
    "SD\\Unit\\Terran\\Marine.dds.grp", "SD\\Music\\Title.wav",
    "SD\\Glue\\Palette\\Title.pcx",     "SD\\Arr\\Readme.txt",
    "SD\\Unit\\Terran\\Shadow.lo",      "SD\\Game\\Background.dds",
    "SD\\Sound\\Misc\\Click.mp3",       "HD\\Unit\\Terran\\Marine.grp",
    "SD\\SD\\Arr\\Units.dat",           "Webcache\\Index.html",
    "Locales\\enUS\\Strings.txt",       "Arr\\units.dat"};

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return text;
}

class DemoBuilder {
 public:
  explicit DemoBuilder(const DemoSize& size) : size_(size) {
    layout_.products[0].product = "s1";
    layout_.products[0].version = "1.23.10.12345";
    layout_.products[0].cdnPath = "tpr/sc1live";
  }

  // Ordinary game data of a varied size around the mean.
  std::vector<uint8_t> DataContent() {
    const size_t mean = size_.assetSize;
    const size_t size = mean / 2 + (seed_ * 2654435761u) % (mean + 1);
    return DataLikeBytes(size, seed_);
  }
  // A large asset: a music track.
  std::vector<uint8_t> MusicContent() { return DataLikeBytes(size_.musicSize, seed_); }
  // Already-compressed data, such as Ogg Vorbis audio.
  std::vector<uint8_t> NoiseContent() { return PatternBytes(size_.assetSize, seed_); }

  void Keep(const std::string& storageName, std::vector<uint8_t> content,
            bool incompressible = false) {
    DemoRecord record{AssetNameOf(storageName), static_cast<uint32_t>(content.size()), {}};
    if (size_.keepData) record.data = content;
    records_.push_back(std::move(record));
    Store(storageName, std::move(content), incompressible);
  }
  void Decoy(const std::string& storageName) { Store(storageName, DataContent(), false); }

  DemoInstallation Write(const std::filesystem::path& root) {
    layout_.rootFile = size_.tvfsRoot ? WriteTvfs(tvfsRoot_) : WritePlainTextRoot(root_);
    DemoInstallation demo;
    demo.installation = WriteInstallation(root, layout_);
    demo.storageNameCount = root_.lines.size();
    std::sort(records_.begin(), records_.end(),
              [](const DemoRecord& a, const DemoRecord& b) { return a.name < b.name; });
    for (const DemoRecord& record : records_) demo.contentBytes += record.size;
    demo.records = std::move(records_);
    return demo;
  }

  const DemoSize& size() const { return size_; }

 private:
  void Store(const std::string& storageName, std::vector<uint8_t> content, bool incompressible) {
    StoredFile file = EncodeDemoContent(std::move(content), incompressible, seed_++);
    AddNamedFile(layout_, root_, storageName, file);
    std::string slashed = storageName;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    tvfsRoot_.files.push_back({slashed,
                               {{file.ekey, static_cast<uint32_t>(file.content.size()),
                                 static_cast<uint32_t>(file.encoded.size())}}});
  }

  DemoSize size_;
  InstallationPlan layout_;
  PlainTextRoot root_;
  TvfsRoot tvfsRoot_;
  std::vector<DemoRecord> records_;
  uint32_t seed_ = 1;
};

// Every directory prefix with every extension, prefixes in reverse order so
// that the import's sort has work to do; some extensions in upper case.
void AddTableAssets(DemoBuilder& demo) {
  const size_t folderCount = std::size(kFolders);
  for (uint32_t copy = 0; copy < demo.size().copies; ++copy) {
    const std::string suffix = copy == 0 ? "" : std::to_string(copy);
    for (size_t p = folderCount; p-- > 0;) {
      for (size_t e = 0; e < std::size(kStems); ++e) {
        std::string extension = kStems[e].extension;
        if ((p + e) % 4 == 0) extension = UpperCase(extension);
        demo.Keep(std::string("SD\\") + kFolders[p] + "\\" + kStems[e].stem + suffix + extension,
                  demo.DataContent());
      }
    }
  }
  for (const char* name : kLoFiles) demo.Keep(name, demo.DataContent());
}

void AddSounds(DemoBuilder& demo) {
  std::vector<std::string> tableNames(std::begin(kTableSounds), std::end(kTableSounds));
  auto addSound = [&demo](const std::string& name) {
    const bool ogg = EndsWith(AssetNameOf(name), ".ogg");
    demo.Keep(name, ogg ? demo.NoiseContent() : demo.DataContent(), ogg);
  };
  for (const char* name : kNamedSounds) addSound(name);
  for (const char* name : kUnnamedSounds) demo.Decoy(name);
  for (uint32_t copy = 1; copy < demo.size().copies; ++copy) {
    const std::string stem = "Misc\\Ambient" + std::to_string(copy);
    tableNames.push_back(stem + ".wav");
    tableNames.push_back(stem + ".ogg");
    addSound("SD\\Sound\\" + stem + ".wav");
    addSound("SD\\Sound\\" + stem + ".ogg");
    demo.Decoy("SD\\Sound\\Misc\\Unused" + std::to_string(copy) + ".wav");
  }
  demo.Keep(kSoundTable, SoundTableNaming(tableNames));
}

}  // namespace

StoredFile EncodeDemoContent(std::vector<uint8_t> content, bool incompressible, uint32_t seed) {
  BltePlan blte;
  blte.frames = SplitFrames(content.size(), kFrameSize, incompressible ? 'N' : 'Z');
  for (size_t i = 7; i < blte.frames.size(); i += 8) blte.frames[i].mode = 'N';
  blte.frameTable = blte.frames.size() > 1 || seed % 2 == 1;
  return EncodeFile(std::move(content), blte);
}

void AddNamedFile(InstallationPlan& layout, PlainTextRoot& root, const std::string& storageName,
                  const StoredFile& file) {
  layout.files.push_back({file.ekey, file.encoded});
  const uint64_t size = file.entryContentSize.value_or(static_cast<uint32_t>(file.content.size()));
  layout.encoding.entries.push_back({file.ckey, size, {file.ekey}});
  root.lines.push_back(RootLine(storageName, file.ckey));
}

std::vector<uint8_t> SoundTableNaming(std::span<const std::string> names) {
  ByteWriter table;
  table.u16le(static_cast<uint16_t>(names.size()));
  table.zeros(2 * names.size());  // the names' offsets, below
  for (size_t i = 0; i < names.size(); ++i) {
    table.patchLe(2 + 2 * i, table.size(), 2);
    table.text(names[i]);
    table.u8(0);
  }
  return table.take();
}

DemoInstallation WriteDemoInstallation(const std::filesystem::path& root, const DemoSize& size) {
  DemoBuilder demo(size);
  AddTableAssets(demo);
  for (const char* name : kMusic) demo.Keep(name, demo.MusicContent());
  for (const char* name : kConsoles) demo.Keep(name, demo.DataContent());
  AddSounds(demo);
  for (const char* name : kDecoys) demo.Decoy(name);
  return demo.Write(root);
}

std::vector<uint8_t> BundleBytes(std::span<const DemoRecord> records) {
  ByteWriter bytes;
  bytes.text("KVRN");
  bytes.u32le(static_cast<uint32_t>(records.size()));
  for (const DemoRecord& record : records) {
    bytes.u16le(static_cast<uint16_t>(record.name.size()));
    bytes.u32le(record.size);
    bytes.text(record.name);
    bytes.bytes(record.data);
  }
  return bytes.take();
}

}  // namespace kestrine::testkit
