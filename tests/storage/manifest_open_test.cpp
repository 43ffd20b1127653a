// The open's manifest steps over whole installations: the ENCODING and
// DOWNLOAD manifests stored BLTE-encoded in the data archives, read through
// open files and turned into content entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/hex_key.h"
#include "kestrine.h"
#include "storage/storage.h"
#include "testkit/blte.h"
#include "testkit/installation.h"
#include "testkit/manifests.h"
#include "testkit/roots.h"
#include "tests/storage/opened_storage.h"

namespace kestrine {
namespace {

using test::OpenedStorage;

using testkit::InstallationPlan;
using testkit::KeyFromSeed;
using testkit::StoredFile;
using testkit::TempFolder;

StoredFile ContentFile(uint32_t seed, size_t size) {
  testkit::BltePlan blte;
  blte.frames = testkit::SplitFrames(size, 1000);
  return testkit::EncodeFile(testkit::DataLikeBytes(size, seed), blte);
}

// Stores the file in the archives and lists it in the ENCODING manifest.
void StoreAndList(InstallationPlan& layout, const StoredFile& file) {
  layout.files.push_back({file.ekey, file.encoded});
  layout.encoding.entries.push_back({file.ckey, file.content.size(), {file.ekey}});
}

// A build of 40 files over several ENCODING pages, 30 of them stored, and a
// DOWNLOAD manifest that lists 5 of the stored files and 3 files known only
// to it, under 3 tags.
struct Build {
  InstallationPlan layout;
  std::vector<StoredFile> files;

  Build() {
    for (uint32_t i = 0; i < 40; ++i) files.push_back(ContentFile(i, 500 + 97 * i));
    for (uint32_t i = 0; i < 40; ++i) {
      if (i < 30) {
        StoreAndList(layout, files[i]);
      } else {
        layout.encoding.entries.push_back(
            {files[i].ckey, files[i].content.size(), {files[i].ekey}});
      }
    }
    layout.encoding.pageSizeKb = 1;
    layout.encoding.entriesPerPage = 12;
    layout.encoding.entries[7].ekeys.push_back(KeyFromSeed(7777));  // a second encoded form

    testkit::DownloadManifest download;
    for (uint32_t i : {3, 4, 5, 6, 7}) {
      download.entries.push_back({files[i].ekey, files[i].encoded.size(), uint8_t(i), 0, 0});
    }
    for (uint32_t i = 0; i < 3; ++i) {
      download.entries.push_back({KeyFromSeed(8000 + i), 4000 + i, 9, 0, 0});
    }
    download.tags = {{"Windows", 1, {0, 1, 5}}, {"enUS", 3, {1, 6}}, {"Alternate", 4, {}}};
    layout.download = download;
    layout.buildConfig = {{"install", testkit::KeyText(KeyFromSeed(9000))},
                          {"install-size", "123 150"}};
  }
};

TEST(ManifestOpenTest, ManifestsGiveEveryFileItsContentEntry) {
  TempFolder temp;
  Build build;
  auto installation = testkit::WriteInstallation(temp.path() / "game", build.layout);
  ASSERT_EQ(testkit::EncodingPageCount(build.layout.encoding), 4u);

  OpenedStorage storage(installation);
  ASSERT_NE(storage.get(), nullptr) << storage.error();
  ContentTables& contents = storage->contents;

  for (uint32_t i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    ContentEntry* entry = contents.FindByCKey(build.files[i].ckey.data());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(contents.FindByEKey(build.files[i].ekey.data()), entry);
    EXPECT_EQ(entry->contentSize, build.files[i].content.size());
    EXPECT_EQ((entry->flags & EF_LOCAL) != 0, i < 30) << "located when stored";
    const bool inDownload = i >= 3 && i <= 7;
    EXPECT_EQ((entry->flags & EF_IN_DOWNLOAD) != 0, inDownload);
    EXPECT_EQ(entry->priority, inDownload ? i : 0);
  }
  EXPECT_EQ(storage.Read(FormatHexKey(build.files[12].ckey)), build.files[12].content);

  // Tags: download entry 0 is file 3, entry 1 file 4, entry 5 the first
  // EKey-only file, entry 6 the second.
  EXPECT_TRUE(storage->features & STF_HAS_TAGS);
  ASSERT_EQ(storage->downloadTags.size(), 3u);
  EXPECT_EQ(storage->downloadTags[2].name, "Alternate");
  EXPECT_EQ(contents.FindByCKey(build.files[3].ckey.data())->tagBitMask, 1u);
  EXPECT_EQ(contents.FindByCKey(build.files[4].ckey.data())->tagBitMask, 3u);
  EXPECT_EQ(contents.FindByCKey(build.files[5].ckey.data())->tagBitMask, 0u);
  ContentEntry* downloadOnly = contents.FindByEKey(KeyFromSeed(8000).data());
  ASSERT_NE(downloadOnly, nullptr);
  EXPECT_EQ(downloadOnly->flags, EF_EKEY | EF_IN_DOWNLOAD);
  EXPECT_EQ(downloadOnly->encodedSize, 4000u);
  EXPECT_EQ(downloadOnly->tagBitMask, 1u);
  EXPECT_EQ(contents.FindByEKey(KeyFromSeed(8001).data())->tagBitMask, 2u);

  // The ENCODING manifest's own entry, 40 encoding entries, the root's and
  // the DOWNLOAD manifest's, the INSTALL entry the configuration names, and 3
  // download-only entries.
  EXPECT_EQ(contents.size(), 1 + 40u + 1 + 1 + 1 + 3);
  EXPECT_EQ(contents.entries()[0].ckey, installation.encodingFile->ckey);
  EXPECT_EQ(storage->entriesAfterDownload, contents.size());
  ContentEntry* install = contents.FindByCKey(KeyFromSeed(9000).data());
  ASSERT_NE(install, nullptr);
  EXPECT_EQ(install->contentSize, 123u);
  EXPECT_EQ(contents.FindByCKey(build.files[0].ckey.data()), &contents.entries()[1]);
  EXPECT_EQ(contents.FindByEKey(KeyFromSeed(7777).data()), nullptr);
  EXPECT_FALSE(storage->features & STF_ONLINE);
}

// A DOWNLOAD manifest is optional: absent from the configuration, named but
// stored nowhere, or empty, the storage opens without tags, also when it may
// look for missing manifests online.
TEST(ManifestOpenTest, StorageWithoutDownloadManifestOpens) {
  TempFolder temp;
  struct Case {
    const char* name;
    void (*alter)(InstallationPlan&);
    uint32_t flags;
  };
  const Case cases[] = {
      {"not named", [](InstallationPlan& s) { s.download.reset(); }, 0},
      {"not named, online fallback", [](InstallationPlan& s) { s.download.reset(); },
       STF_ONLINE_FALLBACK},
      {"named, stored nowhere",
       [](InstallationPlan& s) {
         s.download.reset();
         s.buildConfig.push_back({"download", testkit::KeyText(KeyFromSeed(31)) + " " +
                                                  testkit::KeyText(KeyFromSeed(32))});
       },
       STF_ONLINE_FALLBACK},
      {"empty", [](InstallationPlan& s) { s.download->truncateBy = 1000; }, 0},
  };
  for (const Case& c : cases) {
    Build build;
    c.alter(build.layout);
    auto installation = testkit::WriteInstallation(temp.path() / c.name, build.layout);
    OpenedStorage storage(installation, c.flags);
    ASSERT_NE(storage.get(), nullptr) << c.name << ": " << storage.error();
    EXPECT_FALSE(storage->features & STF_HAS_TAGS) << c.name;
    EXPECT_FALSE(storage->features & STF_ONLINE) << c.name;
    EXPECT_EQ(storage->entriesAfterDownload, storage->contents.size()) << c.name;
    ContentEntry* entry = storage->contents.FindByCKey(build.files[3].ckey.data());
    ASSERT_NE(entry, nullptr) << c.name;
    EXPECT_FALSE(entry->flags & EF_IN_DOWNLOAD) << c.name;
  }
}

// Every way the manifest steps fail the open, each with its own number.
TEST(ManifestOpenTest, FaultyManifestsFailTheOpen) {
  TempFolder temp;
  struct Case {
    const char* name;
    void (*alter)(InstallationPlan&);
    uint32_t flags;
    uint32_t error;
  };
  const Case cases[] = {
      {"ENCODING page first key altered",
       [](InstallationPlan& s) { s.encoding.wrongTableKeyPage = 1; }, 0, kErrorFileCorrupt},
      {"ENCODING cut inside a page", [](InstallationPlan& s) { s.encoding.truncateBy = 10; }, 0,
       kErrorFileCorrupt},
      {"ENCODING bad signature", [](InstallationPlan& s) { s.encoding.signature = "EM"; }, 0,
       kErrorBadFormat},
      {"ENCODING not stored", [](InstallationPlan& s) { s.storeEncoding = false; }, 0,
       kErrorFileNotFound},
      {"ENCODING not stored, online fallback", [](InstallationPlan& s) { s.storeEncoding = false; },
       STF_ONLINE_FALLBACK, kErrorFileNotFound},
      {"ENCODING shorter than named", [](InstallationPlan& s) { s.encodingContentSize = 1 << 20; },
       0, kErrorFileCorrupt},
      {"DOWNLOAD bad version", [](InstallationPlan& s) { s.download->version = 4; }, 0,
       kErrorBadFormat},
      {"DOWNLOAD shorter than named", [](InstallationPlan& s) { s.downloadContentSize = 1 << 20; },
       0, kErrorFileCorrupt},
  };
  for (const Case& c : cases) {
    Build build;
    c.alter(build.layout);
    auto installation = testkit::WriteInstallation(temp.path() / c.name, build.layout);
    OpenedStorage storage(installation, c.flags);
    EXPECT_EQ(storage.get(), nullptr) << c.name;
    EXPECT_EQ(storage.error(), c.error) << c.name;
  }
}

// The content key of an open file is the CKey of its one span, when the
// storage knows it; an entry known only by its EKey has none.
TEST(ManifestContentKeyTest, OpenFilesGiveTheirContentKey) {
  TempFolder temp;
  Build build;
  OpenedStorage storage(testkit::WriteInstallation(temp.path() / "game", build.layout));
  ASSERT_NE(storage.get(), nullptr) << storage.error();

  FileHandle file = nullptr;
  ASSERT_TRUE(OpenFileByName(storage.handle(), FormatHexKey(build.files[12].ckey).c_str(), &file));
  Key16 key{};
  EXPECT_TRUE(GetFileContentKey(file, key.data()));
  EXPECT_EQ(key, build.files[12].ckey);
  EXPECT_FALSE(GetFileContentKey(file, nullptr));
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
  CloseFile(file);
  EXPECT_FALSE(GetFileContentKey(reinterpret_cast<FileHandle>(storage.handle()), key.data()));
  EXPECT_EQ(GetCascError(), kErrorInvalidHandle);

  ASSERT_TRUE(OpenFileByName(storage.handle(), FormatHexKey(KeyFromSeed(8000)).c_str(), &file));
  EXPECT_FALSE(GetFileContentKey(file, key.data()));
  EXPECT_EQ(GetCascError(), kErrorFileNotFound);
  CloseFile(file);
}

// A manifest whose frames all check but whose content is not what its CKey
// says (the configuration or the ENCODING manifest names another file) is
// damaged: the open fails with 1392 instead of reading other bytes as it.
TEST(ManifestContentKeyTest, RootThatIsNotItsKeyFailsTheOpen) {
  TempFolder temp;
  InstallationPlan layout;
  testkit::PlainTextRoot root;
  root.lines = {testkit::RootLine("arr/units.dat", KeyFromSeed(5))};
  testkit::BltePlan blte;
  blte.frames = testkit::SplitFrames(testkit::WritePlainTextRoot(root).size(), 1000);
  const StoredFile other = testkit::EncodeFile(testkit::WritePlainTextRoot(root), blte);
  const Key16 claimed = KeyFromSeed(77);  // with other.ckey the storage opens
  layout.files.push_back({other.ekey, other.encoded});
  layout.encoding.entries.push_back({claimed, other.content.size(), {other.ekey}});
  layout.buildConfig = {{"root", testkit::KeyText(claimed)}};
  OpenedStorage storage(testkit::WriteInstallation(temp.path() / "game", layout));
  EXPECT_EQ(storage.handle(), nullptr);
  EXPECT_EQ(storage.error(), kErrorFileCorrupt);
}

}  // namespace
}  // namespace kestrine
