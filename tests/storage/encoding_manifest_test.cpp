#include "storage/encoding_manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/index_files.h"
#include "testkit/manifests.h"
#include "tests/storage/manifest_storage.h"

namespace kestrine {
namespace {

using test::ManifestStorage;
using testkit::EncodingEntry;
using testkit::EncodingManifest;
using testkit::MakeKey;

// Entry i: CKey MakeKey(i), content size 1000 + i, and 1 + i % 3 EKeys
// MakeKey(0x1000 * (k + 1) + i).
std::vector<EncodingEntry> MakeEntries(uint32_t count, uint32_t firstSeed = 0) {
  std::vector<EncodingEntry> entries;
  for (uint32_t i = firstSeed; i < firstSeed + count; ++i) {
    EncodingEntry entry{MakeKey(i), 1000 + i, {}};
    for (uint32_t k = 0; k <= i % 3; ++k) entry.ekeys.push_back(MakeKey(0x1000 * (k + 1) + i));
    entries.push_back(entry);
  }
  return entries;
}

uint32_t Parse(ManifestStorage& storage, const EncodingManifest& manifest) {
  return ParseEncodingManifest(*storage, testkit::WriteEncodingManifest(manifest));
}

TEST(EncodingManifestTest, HeaderThatDoesNotMatchIsBadFormat) {
  struct Case {
    const char* name;
    void (*alter)(EncodingManifest&);
  };
  const Case cases[] = {
      {"signature", [](EncodingManifest& m) { m.signature = "NE"; }},
      {"version", [](EncodingManifest& m) { m.version = 2; }},
      {"CKey length", [](EncodingManifest& m) { m.ckeyLength = 9; }},
      {"EKey length", [](EncodingManifest& m) { m.ekeyLength = 9; }},
      {"header cut short",
       [](EncodingManifest& m) {
         m.entries.clear();
         m.especText.clear();
         m.truncateBy = 1;
       }},
  };
  for (const Case& c : cases) {
    ManifestStorage storage;
    EncodingManifest manifest;
    manifest.entries = MakeEntries(3);
    c.alter(manifest);
    EXPECT_EQ(Parse(storage, manifest), kErrorBadFormat) << c.name;
    EXPECT_EQ(storage->contents.size(), 0u) << c.name;
  }

  ManifestStorage storage;
  EncodingManifest empty;
  empty.especText.clear();
  EXPECT_EQ(Parse(storage, empty), kErrorSuccess) << "a bare header lists no pages";
}

// Every page is checked against the page table and against the file's end.
TEST(EncodingManifestTest, PageOutsideTheFileOrWithAnotherFirstKeyIsCorrupt) {
  struct Case {
    const char* name;
    void (*alter)(EncodingManifest&);
  };
  const Case cases[] = {
      {"first key of page 0 altered", [](EncodingManifest& m) { m.wrongTableKeyPage = 0; }},
      {"first key of the last page altered", [](EncodingManifest& m) { m.wrongTableKeyPage = 3; }},
      {"last page cut by one byte", [](EncodingManifest& m) { m.truncateBy = 1; }},
      {"one page more than written", [](EncodingManifest& m) { m.pageCount = 5; }},
      {"page count far beyond the file", [](EncodingManifest& m) { m.pageCount = 0xFFFFFFFF; }},
  };
  for (const Case& c : cases) {
    ManifestStorage storage;
    EncodingManifest manifest;
    manifest.entries = MakeEntries(20);
    manifest.pageSizeKb = 1;
    manifest.entriesPerPage = 5;
    ASSERT_EQ(testkit::EncodingPageCount(manifest), 4u);
    c.alter(manifest);
    EXPECT_EQ(Parse(storage, manifest), kErrorFileCorrupt) << c.name;
  }
}

// Several padded pages: one content entry per CKey-page entry, with the first
// of its EKeys, located when the local index holds that EKey.
TEST(EncodingManifestTest, PagesYieldOneLocatedEntryPerCKeyWithItsFirstEKey) {
  EncodingManifest manifest;
  manifest.entries = MakeEntries(60);
  manifest.pageSizeKb = 1;
  manifest.entriesPerPage = 7;  // the rest of every page is padding
  manifest.especText = std::string(300, 'b');
  ASSERT_EQ(testkit::EncodingPageCount(manifest), 9u);

  ManifestStorage storage;
  std::vector<testkit::IndexEntry> located;
  for (uint32_t i = 0; i < 60; i += 2) {
    located.push_back({MakeKey(0x1000 + i), testkit::PackStorageOffset(i % 4, 64 * i), 500 + i});
  }
  storage.Index(located);
  ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);

  ASSERT_EQ(storage->contents.size(), 60u);
  for (uint32_t i = 0; i < 60; ++i) {
    SCOPED_TRACE(i);
    const ContentEntry& entry = storage->contents.entries()[i];
    EXPECT_EQ(entry.ckey, MakeKey(i));
    EXPECT_EQ(entry.ekey, MakeKey(0x1000 + i));
    EXPECT_EQ(entry.contentSize, 1000 + i);
    EXPECT_EQ(entry.tagBitMask, 0u);
    EXPECT_EQ(entry.refCount, 0u);
    EXPECT_EQ(entry.spanCount, 1u);
    EXPECT_EQ(entry.priority, 0u);
    EXPECT_EQ(storage->contents.FindByCKey(entry.ckey.data()), &entry);
    EXPECT_EQ(storage->contents.FindByEKey(entry.ekey.data()), &entry);
    const uint16_t keys = EF_CKEY | EF_EKEY | EF_IN_ENCODING;
    if (i % 2 == 0) {
      EXPECT_EQ(entry.flags, keys | EF_LOCAL);
      EXPECT_EQ(entry.storageOffset, testkit::PackStorageOffset(i % 4, 64 * i));
      EXPECT_EQ(entry.encodedSize, 500 + i);
    } else {
      EXPECT_EQ(entry.flags, keys);
      EXPECT_EQ(entry.storageOffset, kUnknownOffset);
      EXPECT_EQ(entry.encodedSize, kUnknownSize);
    }
  }
  // Second and third EKeys name nothing.
  EXPECT_EQ(storage->contents.FindByEKey(MakeKey(0x2000 + 2).data()), nullptr);
  EXPECT_EQ(storage->contents.FindByEKey(MakeKey(0x3000 + 2).data()), nullptr);
}

TEST(EncodingManifestTest, DuplicateCKeysGetTwoEntriesButTheFirstIsFound) {
  EncodingManifest manifest;
  manifest.entries = MakeEntries(4);
  EncodingEntry duplicate{MakeKey(1), 77, {MakeKey(0x9999)}};
  manifest.entries.push_back(duplicate);

  ManifestStorage storage;
  ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);
  ASSERT_EQ(storage->contents.size(), 5u);
  ContentEntry* first = &storage->contents.entries()[1];
  ContentEntry* second = &storage->contents.entries()[4];
  EXPECT_EQ(second->contentSize, 77u);
  EXPECT_EQ(storage->contents.FindByCKey(MakeKey(1).data()), first);
  EXPECT_EQ(storage->contents.FindByEKey(MakeKey(0x9999).data()), second);
}

// The array is sized from the manifest's declared size; entries beyond it
// are dropped without failing the load.
TEST(EncodingManifestTest, EntriesBeyondTheArrayAreDropped) {
  ManifestStorage storage(0);  // room for 64
  ASSERT_EQ(storage->contents.capacity(), 64u);
  EncodingManifest manifest;
  manifest.entries = MakeEntries(80);
  ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);
  EXPECT_EQ(storage->contents.size(), 64u);
  EXPECT_NE(storage->contents.FindByCKey(MakeKey(63).data()), nullptr);
  EXPECT_EQ(storage->contents.FindByCKey(MakeKey(64).data()), nullptr);
}

// A file of 4 GiB or more sets the size's high byte, next to the EKey count:
// the walk goes on past it, and a size the entry cannot hold stays unknown.
TEST(EncodingManifestTest, FileOfFourGibibytesKeepsTheRestOfItsPage) {
  EncodingManifest manifest;
  manifest.entries = MakeEntries(5);
  manifest.entries[1].contentSize = 0x1'2345'6789;
  manifest.entries[2].contentSize = 0xFFFF'FFFE;
  ManifestStorage storage;
  ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);
  ASSERT_EQ(storage->contents.size(), 5u);
  EXPECT_EQ(storage->contents.entries()[1].contentSize, kUnknownSize);
  EXPECT_EQ(storage->contents.entries()[2].contentSize, 0xFFFF'FFFEu);
  EXPECT_EQ(storage->contents.entries()[4].ckey, MakeKey(4));
}

}  // namespace
}  // namespace kestrine
