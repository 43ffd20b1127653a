#include "tests/tool/damage_game.h"

#include <algorithm>
#include <cstdio>

#include "testkit/blte.h"
#include "testkit/build_files.h"
#include "testkit/demo_installation.h"
#include "testkit/manifests.h"
#include "testkit/roots.h"
#include "testkit/stream_files.h"

namespace kestrine::test {

namespace {

using testkit::BltePlan;

struct GameAsset {
  std::string name;
  std::vector<uint8_t> content;
  BltePlan blte;
  bool kept = true;  // lands in the bundle
};

BltePlan Frames(size_t contentSize, size_t frameSize, uint8_t mode, bool frameTable = true) {
  BltePlan blte;
  blte.frames = testkit::SplitFrames(contentSize, frameSize, mode);
  blte.frameTable = frameTable;
  return blte;
}

GameAsset Asset(std::string name, std::vector<uint8_t> content, size_t frameSize, uint8_t mode,
                bool frameTable = true) {
  BltePlan blte = Frames(content.size(), frameSize, mode, frameTable);
  return {std::move(name), std::move(content), std::move(blte)};
}

std::vector<GameAsset> Assets() {
  const std::vector<std::string> tableNames = {"Misc\\Buzz.wav", "Zerg\\Drone\\ZDrErr00.ogg"};
  std::vector<GameAsset> assets;
  assets.push_back(Asset("SD\\Arr\\SfxData.tbl", testkit::SoundTableNaming(tableNames), 4096, 'Z'));
  // One plain frame without a frame table: nothing but the content key
  // covers its bytes.
  assets.push_back(Asset("SD\\Arr\\Units.dat", testkit::DataLikeBytes(3000, 1), 4096, 'N', false));
  assets.push_back(Asset("SD\\Arr\\Empty.dat", {}, 4096, 'Z'));
  GameAsset marine =
      Asset("SD\\Unit\\Terran\\Marine.grp", testkit::DataLikeBytes(20000, 2), 4096, 'Z');
  marine.blte.frames[2].mode = 'N';
  assets.push_back(std::move(marine));
  // A zlib frame whose table carries no MD5.
  GameAsset console = Asset("SD\\Game\\TConsole.dds", testkit::DataLikeBytes(6000, 3), 8192, 'Z');
  console.blte.frames[0].md5 = testkit::Md5Fault::kZero;
  assets.push_back(std::move(console));
  assets.push_back(Asset("SD\\Music\\Terran1.wav", testkit::DataLikeBytes(150000, 4), 65536, 'Z'));
  assets.push_back(
      Asset("SD\\Sound\\Misc\\Buzz.wav", testkit::DataLikeBytes(2000, 5), 4096, 'Z', false));
  assets.push_back(
      Asset("SD\\Sound\\Zerg\\Drone\\ZDrErr00.ogg", testkit::PatternBytes(5000, 6), 8192, 'N'));
  // Left out by the import: never read, so damage to them is harmless.
  GameAsset readme = Asset("SD\\Arr\\Readme.txt", testkit::DataLikeBytes(1000, 7), 4096, 'Z');
  readme.kept = false;
  assets.push_back(std::move(readme));
  GameAsset click = Asset("SD\\Sound\\Misc\\Click.wav", testkit::DataLikeBytes(1500, 8), 4096, 'Z');
  click.kept = false;
  assets.push_back(std::move(click));
  return assets;
}

// Names of files the installation does not hold, as a real root lists files
// of other locales. They make the root span several frames, with a frame
// boundary among the assets' names.
void AddUnstoredNames(testkit::PlainTextRoot& root, uint32_t first, uint32_t count) {
  for (uint32_t i = first; i < first + count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "Locales\\deDE\\Text\\Line%03u.txt", i);
    root.lines.push_back(testkit::RootLine(name, testkit::KeyFromSeed(1000 + i)));
  }
}

testkit::DownloadManifest DownloadListing(const std::vector<testkit::EncodedFile>& files) {
  testkit::DownloadManifest download;
  testkit::DownloadTag windows{"Windows", 1, {}};
  testkit::DownloadTag english{"enUS", 3, {}};
  for (size_t i = 0; i < files.size(); ++i) {
    download.entries.push_back(
        {files[i].ekey, files[i].encoded.size(), static_cast<uint8_t>(i % 3)});
    windows.entries.push_back(i);
    if (i % 2 == 0) english.entries.push_back(i);
  }
  download.tags = {windows, english};
  return download;
}

// The root as stored: plain frames of 4 KiB, the first without an MD5 in
// its table, so that its content key alone covers those bytes. The
// configuration names it and the ENCODING manifest lists it.
testkit::StoredFile StoreRoot(testkit::InstallationPlan& layout, std::vector<uint8_t> content) {
  BltePlan blte = Frames(content.size(), 4096, 'N');
  blte.frames[0].md5 = testkit::Md5Fault::kZero;
  testkit::StoredFile root = testkit::EncodeFile(std::move(content), blte);
  layout.files.push_back({root.ekey, root.encoded});
  layout.encoding.entries.push_back({root.ckey, root.content.size(), {root.ekey}});
  layout.buildConfig.emplace_back("root",
                                  testkit::KeyText(root.ckey) + " " + testkit::KeyText(root.ekey));
  layout.buildConfig.emplace_back(
      "root-size", std::to_string(root.content.size()) + " " + std::to_string(root.encoded.size()));
  return root;
}

}  // namespace

DamageGame WriteDamageGame(const std::filesystem::path& root) {
  DamageGame game;
  testkit::InstallationPlan layout;
  layout.products[0].product = "s1";
  testkit::PlainTextRoot plainRoot;
  AddUnstoredNames(plainRoot, 0, 60);
  for (GameAsset& asset : Assets()) {
    testkit::StoredFile stored = testkit::EncodeFile(asset.content, asset.blte);
    testkit::AddNamedFile(layout, plainRoot, asset.name, stored);
    game.assetNames[stored.ekey] = asset.name;
    if (!asset.kept) continue;
    const auto size = static_cast<uint32_t>(asset.content.size());
    game.records.push_back({testkit::AssetNameOf(asset.name), size, std::move(asset.content)});
  }
  AddUnstoredNames(plainRoot, 60, 60);
  layout.download = DownloadListing(layout.files);
  const testkit::StoredFile storedRoot = StoreRoot(layout, testkit::WritePlainTextRoot(plainRoot));
  game.rootCkey = storedRoot.ckey;
  game.rootEkey = storedRoot.ekey;
  game.installation = testkit::WriteInstallation(root, layout);
  std::sort(game.records.begin(), game.records.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  game.expectedBundle = testkit::BundleBytes(game.records);
  return game;
}

}  // namespace kestrine::test
