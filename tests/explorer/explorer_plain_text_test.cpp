// kestrine-casc on a storage with a plain-text root, and on one that falls
// back to its INSTALL manifest: list and cat against what the testkit wrote,
// the options, and every failure line.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kestrine.h"
#include "testkit/blte.h"
#include "testkit/demo_installation.h"
#include "testkit/installation.h"
#include "testkit/roots.h"
#include "tests/explorer/explorer_fixture.h"

namespace kestrine::test {
namespace {

using testkit::StoredFile;

constexpr uint64_t kKeyName = 0xFA505078126ACB3Eull;
constexpr const char* kKeyOption = "FA505078126ACB3E=000102030405060708090A0B0C0D0E0F";

Key16 SecretKey() {
  Key16 key{};
  for (uint8_t i = 0; i < key.size(); ++i) key[i] = i;
  return key;
}

// A storage whose plain-text root names some of its files; the others are
// listed by the ENCODING manifest only.
struct PlainGame {
  testkit::InstallationPlan layout;
  testkit::PlainTextRoot root;
  std::vector<Listed> named;
  std::vector<Listed> unnamed;
  std::map<std::string, StoredFile> files;
  uint32_t seed = 1;

  StoredFile Encode(size_t size) {
    const uint32_t fileSeed = seed++;
    return testkit::EncodeDemoContent(testkit::DataLikeBytes(size, fileSeed), false, fileSeed);
  }
  const StoredFile& Add(const std::string& name, StoredFile file) {
    testkit::AddNamedFile(layout, root, name, file);
    named.push_back({name, file.entryContentSize.value_or(file.content.size()), kNameFull});
    return files[name] = std::move(file);
  }
  const StoredFile& Add(const std::string& name, size_t size) { return Add(name, Encode(size)); }
  const StoredFile& AddUnnamed(size_t size) {
    StoredFile file = Encode(size);
    layout.files.push_back({file.ekey, file.encoded});
    layout.encoding.entries.push_back({file.ckey, size, {file.ekey}});
    unnamed.push_back({KeyName(file.ckey), size, kNameCKey});
    return files[KeyName(file.ckey)] = std::move(file);
  }
  // Root names in root order, then the manifests the root does not name,
  // then the unnamed content.
  std::vector<Listed> ExpectedList(const testkit::Installation& installation) const {
    std::vector<Listed> lines = named;
    lines.push_back({"ENCODING", installation.encodingFile->content.size(), kNameFull});
    lines.push_back({"ROOT", installation.rootFile->content.size(), kNameFull});
    lines.insert(lines.end(), unnamed.begin(), unnamed.end());
    return lines;
  }
  testkit::Installation Write(const std::string& path) {
    layout.rootFile = testkit::WritePlainTextRoot(root);
    return testkit::WriteInstallation(path, layout);
  }
};

StoredFile EncryptedFile(std::vector<uint8_t> content) {
  testkit::BltePlan plan;
  plan.frames = testkit::SplitFrames(content.size(), 4096);
  testkit::EncryptionLayer layer;
  layer.keyName = kKeyName;
  layer.key = SecretKey();
  for (testkit::FramePlan& frame : plan.frames) frame.encryption = {layer};
  return testkit::EncodeFile(std::move(content), plan);
}

class ExplorerPlainTextTest : public ExplorerTest {
 protected:
  void SetUp() override {
    game_.Add("SD\\Unit\\Marine.grp", 9000);
    game_.Add("SD\\Unit\\Medic.GRP", 120);
    game_.Add("SD\\Music\\Title.ogg", 300000);
    game_.Add("Readme.txt", 0);
    game_.Add("Secret\\Plans.bin", EncryptedFile(testkit::DataLikeBytes(10000, 99)));
    StoredFile cut = game_.Encode(700);
    cut.entryContentSize = 900;  // the ENCODING manifest promises more than there is
    game_.Add("SD\\Cut.bin", std::move(cut));
    game_.AddUnnamed(2500);
    game_.AddUnnamed(40);
    installation_ = game_.Write(Path("game"));
    storage_ = installation_.root.string();
  }

  PlainGame game_;
  testkit::Installation installation_;
  std::string storage_;
};

TEST_F(ExplorerPlainTextTest, ListPrintsNamedFilesThenManifestsThenUnnamedContent) {
  const ExplorerRun run = Run({"list", storage_});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, ListText(game_.ExpectedList(installation_)));
  // The default mask is "*"; given, it is the same.
  EXPECT_EQ(Run({"list", storage_, "*"}).out, run.out);
  // The build file inside the installation opens the same storage.
  EXPECT_EQ(Run({"list", installation_.buildFile.string()}).out, run.out);
}

TEST_F(ExplorerPlainTextTest, MasksMatchNamesOnlyAndIgnoreCase) {
  const std::vector<Listed>& named = game_.named;
  EXPECT_EQ(Run({"list", storage_, "SD\\Unit\\*"}).out, ListText({named[0], named[1]}));
  EXPECT_EQ(Run({"list", storage_, "sd/unit/m?rine.GRP"}).out, ListText({named[0]}));
  EXPECT_EQ(Run({"list", storage_, "*.grp"}).out, ListText({named[0], named[1]}));
  EXPECT_EQ(Run({"list", storage_, "*\\T*"}).out, ListText({named[2]}));
  EXPECT_EQ(Run({"list", storage_, "??????.txt"}).out, ListText({named[3]}));
  // A folder is no file; nothing matching is no failure.
  for (const char* mask : {"SD\\Unit", "nothing*", "SD\\Unit\\Marine.grp?"}) {
    const ExplorerRun run = Run({"list", storage_, mask});
    EXPECT_EQ(run.exitCode, 0) << mask;
    EXPECT_EQ(run.out, "") << mask;
    EXPECT_EQ(run.err, "") << mask;
  }
  // An empty mask matches every name, but no unnamed content.
  std::vector<Listed> names = game_.ExpectedList(installation_);
  names.resize(names.size() - game_.unnamed.size());
  EXPECT_EQ(Run({"list", storage_, ""}).out, ListText(names));
}

TEST_F(ExplorerPlainTextTest, CatWritesTheContentByEveryFormOfName) {
  const StoredFile& marine = game_.files["SD\\Unit\\Marine.grp"];
  const std::string marineText = Text(marine.content);
  for (const std::string& name :
       {std::string("SD\\Unit\\Marine.grp"), std::string("sd/unit/MARINE.grp"),
        KeyName(marine.ckey), KeyName(marine.ekey)}) {
    const ExplorerRun run = Run({"cat", storage_, name});
    EXPECT_EQ(run.exitCode, 0) << name << run.err;
    EXPECT_EQ(run.out, marineText) << name;
    EXPECT_EQ(run.err, "") << name;
  }
  EXPECT_EQ(Run({"cat", storage_, "SD\\Music\\Title.ogg"}).out,
            Text(game_.files["SD\\Music\\Title.ogg"].content));
  const ExplorerRun empty = Run({"cat", storage_, "Readme.txt"});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_EQ(empty.out, "");
  const std::string unnamed = game_.unnamed[0].name;
  EXPECT_EQ(Run({"cat", storage_, unnamed}).out, Text(game_.files[unnamed].content));
  EXPECT_EQ(Run({"cat", storage_, "ROOT"}).out, Text(installation_.rootFile->content));
  EXPECT_EQ(Run({"cat", storage_, "ENCODING"}).out, Text(installation_.encodingFile->content));
}

TEST_F(ExplorerPlainTextTest, CatFailuresPrintOneLineAndNothingElse) {
  struct Failure {
    std::string name;
    uint32_t error;
  };
  const std::vector<Failure> failures = {
      {"SD\\Unit\\Zealot.grp", kErrorFileNotFound},  // unknown name
      {"SD\\Unit", kErrorFileNotFound},              // a folder
      {"File123.dat", kErrorFileNotFound},           // no file ids in this root
      {"FILE0000007B.dat", kErrorFileNotFound},
      {std::string(32, 'a'), kErrorFileNotFound},   // a key nobody has
      {"Secret\\Plans.bin", kErrorUnknownFileKey},  // encrypted, no key given
      {"SD\\Cut.bin", kErrorFileCorrupt},           // shorter than listed
  };
  for (const Failure& failure : failures) {
    const ExplorerRun run = Run({"cat", storage_, failure.name});
    EXPECT_EQ(run.exitCode, 1) << failure.name;
    EXPECT_EQ(run.out, "") << failure.name;
    EXPECT_EQ(run.err, "kestrine-casc: cannot read " + failure.name + ", error " +
                           std::to_string(failure.error) + "\n");
  }
}

TEST_F(ExplorerPlainTextTest, DecryptionKeysComeFromOptionsAndKeysFiles) {
  const std::string secret = Text(game_.files["Secret\\Plans.bin"].content);
  ExplorerRun run = Run({"cat", storage_, "Secret\\Plans.bin", "--key", kKeyOption});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, secret);
  // Options may come first, and a keys file holds keys among comments.
  testkit::WriteTextFile(Path("keys.txt"),
                         "# keys\n\n0000000000000001 " + std::string(32, '0') +
                             "\nFA505078126ACB3E 000102030405060708090A0B0C0D0E0F\n");
  run = Run({"--keys", Path("keys.txt"), "cat", storage_, "secret/plans.bin"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, secret);
  // A wrong key under the right name decrypts to other bytes: no content.
  run = Run({"cat", storage_, "Secret\\Plans.bin", "--key",
             "FA505078126ACB3E=FF0102030405060708090A0B0C0D0E0F"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("kestrine-casc: cannot read Secret\\Plans.bin, error ", 0), 0u)
      << run.err;
}

TEST_F(ExplorerPlainTextTest, InfoDescribesTheStorage) {
  const ExplorerRun run = Run({"info", storage_, "--locale", "enGB"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  uint64_t total = 0;
  for (const auto& [name, file] : game_.files) {
    total += file.entryContentSize.value_or(file.content.size());
  }
  total += installation_.rootFile->content.size();
  // Every stored file, the root and the ENCODING manifest itself.
  const size_t entries = game_.files.size() + 2;
  total += installation_.encodingFile->content.size();
  EXPECT_EQ(run.out,
            "build file kind: .build.info\n"
            "product: test\n"  // the last part of the CDN path "tpr/test"
            "build number: 45678\n"
            "region: -\n"
            "locale mask: 0x200\n"
            "root format: plain text\n"
            "content entries: " +
                std::to_string(entries) +
                "\n"
                "named files: " +
                std::to_string(game_.named.size() + 2) +
                "\n"
                "local encoded files: " +
                std::to_string(entries) +
                "\n"
                "total content size: " +
                std::to_string(total) +
                "\n"
                "online: no\n");
}

TEST_F(ExplorerPlainTextTest, ListFileThatCannotBeReadLeavesTheSearchAsItIs) {
  const ExplorerRun plain = Run({"list", storage_});
  const ExplorerRun withList = Run({"list", "--list-file", Path("missing.txt"), storage_});
  EXPECT_EQ(withList.exitCode, 0);
  EXPECT_EQ(withList.out, plain.out);
}

// A root in no format the reader knows: the INSTALL manifest names the files.
TEST_F(ExplorerTest, InstallManifestNamesTheFilesWhenTheRootIsUnknown) {
  PlainGame game;
  testkit::InstallManifest manifest;
  std::vector<Listed> expected;
  for (uint32_t i = 0; i < 3; ++i) {
    const std::string name = std::string("Setup\\") + char('a' + i) + ".bin";
    StoredFile file = game.Encode(1000 + 300 * i);
    manifest.entries.push_back({name, file.ckey, static_cast<uint32_t>(file.content.size())});
    game.layout.files.push_back({file.ekey, file.encoded});
    game.layout.encoding.entries.push_back({file.ckey, file.content.size(), {file.ekey}});
    expected.push_back({name, file.content.size(), kNameFull});
    game.files[name] = std::move(file);
  }
  const StoredFile install =
      testkit::EncodeDemoContent(testkit::WriteInstallManifest(manifest), false, 77);
  game.layout.files.push_back({install.ekey, install.encoded});
  game.layout.encoding.entries.push_back({install.ckey, install.content.size(), {install.ekey}});
  game.layout.buildConfig = {
      {"install", testkit::KeyText(install.ckey) + " " + testkit::KeyText(install.ekey)}};
  game.layout.rootFile = std::vector<uint8_t>(64, 0xEE);
  const testkit::Installation installation = testkit::WriteInstallation(Path("game"), game.layout);
  const std::string storage = installation.root.string();

  expected.push_back({"ENCODING", installation.encodingFile->content.size(), kNameFull});
  expected.push_back({"INSTALL", install.content.size(), kNameFull});
  expected.push_back({"ROOT", installation.rootFile->content.size(), kNameFull});
  const ExplorerRun run = Run({"list", storage});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, ListText(expected));
  EXPECT_EQ(Run({"cat", storage, "setup/B.BIN"}).out, Text(game.files["Setup\\b.bin"].content));
  EXPECT_NE(Run({"info", storage}).out.find("root format: install manifest\n"), std::string::npos);
}

}  // namespace
}  // namespace kestrine::test
