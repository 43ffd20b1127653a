// kestrine-casc on Diablo III storages: numbered assets named through the
// table of contents, with extensions from the package list when there is
// one and from the built-in table when not.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/md5.h"
#include "kestrine.h"
#include "testkit/blte.h"
#include "testkit/diablo_root.h"
#include "testkit/installation.h"
#include "tests/explorer/explorer_fixture.h"

namespace kestrine::test {
namespace {

using testkit::DiabloDirectoryPlan;
using testkit::TocRecord;

// A game with a "Base" and an "enUS" directory: named files, assets of a
// known and of an unknown group, and a part of an asset.
class DiabloGame {
 public:
  explicit DiabloGame(bool packageList) {
    plan_.toc = testkit::TocOf(
        {TocRecord(1, 7, "Barbarian"), TocRecord(3, 9, "Odd"), TocRecord(62, 4, "Theme")});
    if (packageList) plan_.packages = testkit::PackagesOf({"Actor\\Barbarian.ac2"});
    const std::string barbarian = packageList ? "Barbarian.ac2" : "Barbarian.acr";
    DiabloDirectoryPlan base, locale;
    // In search order: the named entries of each directory (the table of
    // contents and the package list are those of "Base"), then the numbered.
    base.named = {{Add("Base\\Readme.txt", 500), "Readme.txt"}};
    named_.emplace_back("Base\\CoreTOC.dat", testkit::WriteCoreToc(*plan_.toc));
    if (packageList) {
      named_.emplace_back("Base\\Data_D3\\PC\\Misc\\Packages.dat",
                          testkit::WritePackageList(*plan_.packages));
    }
    locale.named = {{Add("enUS\\Sub\\Voice.ogg", 7000), "Sub\\Voice.ogg"}};
    base.assets = {{Add("Base\\Actor\\" + barbarian, 9000), 7},
                   {Add("Base\\Asset03\\Odd.a03", 30), 9},
                   {unnamed_ = Store(testkit::DataLikeBytes(20, 77)), 12345}};  // no such id
    base.parts = {{Add("Base\\Actor\\Barbarian\\0003.acr", 4000), 7, 3}};
    locale.assets = {{Add("enUS\\Music\\Theme.mus", 10000), 4}};
    plan_.directories = {{"Base", base}, {"enUS", locale}};
  }

  testkit::Installation Write(const std::string& path) {
    testkit::StoreDiabloRoot(layout_, plan_);
    return testkit::WriteInstallation(path, layout_);
  }
  // The file of an asset the table of contents does not name.
  const Key16& unnamed() const { return unnamed_; }
  // Names in search order, with their contents.
  const std::vector<std::pair<std::string, std::vector<uint8_t>>>& named() const { return named_; }

 private:
  Key16 Store(const std::vector<uint8_t>& content) {
    return testkit::InstallationStore(layout_)(content);
  }
  Key16 Add(const std::string& name, size_t size) {
    std::vector<uint8_t> content = testkit::DataLikeBytes(size, seed_++);
    named_.emplace_back(name, content);
    return Store(content);
  }

  testkit::InstallationPlan layout_;
  testkit::DiabloRootPlan plan_;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> named_;
  Key16 unnamed_{};
  uint32_t seed_ = 1;
};

class ExplorerDiabloTest : public ExplorerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ExplorerDiabloTest, ListAndCatTheGeneratedNames) {
  DiabloGame game(GetParam());
  const testkit::Installation installation = game.Write(Path("d3"));
  const std::string storage = installation.root.string();

  std::vector<Listed> expected;
  for (const auto& [name, content] : game.named()) {
    expected.push_back({name, content.size(), kNameFull});
  }
  expected.push_back({"ENCODING", installation.encodingFile->content.size(), kNameFull});
  expected.push_back({"ROOT", installation.rootFile->content.size(), kNameFull});
  // Listed by the ENCODING manifest, named by nothing.
  expected.push_back({KeyName(game.unnamed()), 20, kNameCKey});
  const ExplorerRun run = Run({"list", storage});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, ListText(expected));
  EXPECT_EQ(Run({"list", storage, "base\\actor\\*"}).out,
            ListText({expected[GetParam() ? 4 : 3], expected[GetParam() ? 6 : 5]}));

  for (const auto& [name, content] : game.named()) {
    EXPECT_EQ(Run({"cat", storage, name}).out, Text(content)) << name;
  }
  // By content key, and the failing forms.
  const auto& [theme, themeContent] = game.named().back();
  EXPECT_EQ(Run({"cat", storage, KeyName(ComputeMd5(themeContent))}).out, Text(themeContent));
  for (const std::string name : {"Base\\Actor\\Nothing.acr", "Base\\Actor", "File7.dat"}) {
    const ExplorerRun failed = Run({"cat", storage, name});
    EXPECT_EQ(failed.exitCode, 1) << name;
    EXPECT_EQ(failed.err, "kestrine-casc: cannot read " + name + ", error 2\n");
  }
  // The directories open by name, though no search reports them.
  const ExplorerRun directory = Run({"cat", storage, "Base"});
  EXPECT_EQ(directory.exitCode, 0) << directory.err;
  EXPECT_NE(Run({"info", storage}).out.find("root format: Diablo III\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutPackageList, ExplorerDiabloTest, ::testing::Bool());

}  // namespace
}  // namespace kestrine::test
