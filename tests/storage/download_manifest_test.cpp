#include "storage/download_manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/index_files.h"
#include "testkit/manifests.h"
#include "tests/storage/manifest_storage.h"

namespace kestrine {
namespace {

using test::ManifestStorage;
using testkit::DownloadManifest;
using testkit::MakeKey;

// Entry i: EKey MakeKey(0x5000 + i), encoded size 300 + i, priority i % 5,
// checksum and flag bits that the reader must step over.
std::vector<testkit::DownloadEntry> MakeEntries(uint32_t count) {
  std::vector<testkit::DownloadEntry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    entries.push_back({MakeKey(0x5000 + i), 300 + i, static_cast<uint8_t>(i % 5), 0xC0FFEE00 + i,
                       0xA5A5A5A5A5A5A5A5u});
  }
  return entries;
}

uint32_t Parse(ManifestStorage& storage, const DownloadManifest& manifest) {
  return ParseDownloadManifest(*storage, testkit::WriteDownloadManifest(manifest));
}

// Every header layout: versions 1 to 3 (0 reads as 1), short and full EKeys,
// with and without checksums and flag bytes. Each must land the entries and
// the tag bits at the same places.
TEST(DownloadManifestTest, EveryHeaderLayoutCreatesTheSameEntries) {
  struct Case {
    uint8_t version;
    uint8_t ekeyLength;
    bool checksums;
    uint8_t flagBytes;
  };
  const Case cases[] = {{0, 16, false, 0}, {1, 16, true, 0}, {1, 9, false, 0},  {2, 16, false, 1},
                        {2, 9, true, 2},   {3, 16, true, 3}, {3, 16, false, 0}, {3, 9, false, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "version " << int{c.version} << ", EKey " << int{c.ekeyLength} << ", checksums "
                 << c.checksums << ", flag bytes " << int{c.flagBytes});
    DownloadManifest manifest;
    manifest.version = c.version;
    manifest.ekeyLength = c.ekeyLength;
    manifest.checksums = c.checksums;
    manifest.flagBytes = c.flagBytes;
    manifest.entries = MakeEntries(21);
    manifest.tags = {{"Windows", 1, {0, 3, 20}}, {"enUS", 3, {3, 7, 8}}};

    ManifestStorage storage;
    storage.Index({{MakeKey(0x5000 + 7), testkit::PackStorageOffset(2, 4096), 330}});
    ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);
    ASSERT_EQ(storage->contents.size(), 21u);
    EXPECT_EQ(storage->entriesAfterDownload, 21u);
    for (uint32_t i = 0; i < 21; ++i) {
      const ContentEntry& entry = storage->contents.entries()[i];
      Key16 ekey = MakeKey(0x5000 + i);
      std::fill(ekey.begin() + c.ekeyLength, ekey.end(), 0);
      EXPECT_EQ(entry.ekey, ekey) << i;
      EXPECT_EQ(entry.ckey, Key16{}) << i;
      EXPECT_EQ(entry.contentSize, kUnknownSize) << i;
      EXPECT_EQ(entry.priority, i % 5) << i;
      EXPECT_EQ(storage->contents.FindByEKey(ekey.data()), &entry) << i;
      if (i != 7) {
        EXPECT_EQ(entry.encodedSize, 300 + i) << i;
        EXPECT_EQ(entry.flags, EF_EKEY | EF_IN_DOWNLOAD) << i;
        EXPECT_EQ(entry.storageOffset, kUnknownOffset) << i;
      }
    }
    const ContentEntry& located = storage->contents.entries()[7];
    EXPECT_EQ(located.flags, EF_EKEY | EF_IN_DOWNLOAD | EF_LOCAL);
    EXPECT_EQ(located.storageOffset, testkit::PackStorageOffset(2, 4096));
    EXPECT_EQ(located.encodedSize, 330u) << "the index's size, not the manifest's";

    std::vector<uint64_t> masks;
    for (const ContentEntry& entry : storage->contents.entries()) masks.push_back(entry.tagBitMask);
    std::vector<uint64_t> expected(21, 0);
    expected[0] = expected[20] = 1;
    expected[3] = 3;
    expected[7] = expected[8] = 2;
    EXPECT_EQ(masks, expected);

    EXPECT_TRUE(storage->features & STF_HAS_TAGS);
    ASSERT_EQ(storage->downloadTags.size(), 2u);
    EXPECT_EQ(storage->downloadTags[0].name, "Windows");
    EXPECT_EQ(storage->downloadTags[0].type, 1u);
    EXPECT_EQ(storage->downloadTags[1].name, "enUS");
    EXPECT_EQ(storage->downloadTags[1].type, 3u);
  }
}

TEST(DownloadManifestTest, HeaderThatDoesNotMatchIsBadFormat) {
  struct Case {
    const char* name;
    void (*alter)(DownloadManifest&);
  };
  const Case cases[] = {
      {"signature", [](DownloadManifest& m) { m.signature = "LD"; }},
      {"version 4", [](DownloadManifest& m) { m.version = 4; }},
      {"EKey of 17 bytes", [](DownloadManifest& m) { m.ekeyLength = 17; }},
      {"15 bytes", [](DownloadManifest& m) { m.truncateBy = 1; }},
  };
  for (const Case& c : cases) {
    DownloadManifest manifest;
    c.alter(manifest);
    ManifestStorage storage;
    EXPECT_EQ(Parse(storage, manifest), kErrorBadFormat) << c.name;
  }
  ManifestStorage storage;
  EXPECT_EQ(Parse(storage, DownloadManifest{}), kErrorSuccess) << "16 bytes, no entries";
  EXPECT_FALSE(storage->features & STF_HAS_TAGS);
}

// An entry the encoding manifest created is completed, not duplicated: it
// gains the download flag, the priority and the tag bits; a partial EKey
// becomes whole; only an unknown encoded size is taken from the manifest.
TEST(DownloadManifestTest, EntryKnownByEKeyIsCompletedInPlace) {
  ManifestStorage storage;
  ContentEntry encoded;
  encoded.ckey = MakeKey(1);
  encoded.ekey = MakeKey(0x5000 + 0);
  encoded.contentSize = 900;
  encoded.flags = EF_CKEY | EF_EKEY | EF_IN_ENCODING;
  ContentEntry* fromEncoding = storage->contents.Insert(encoded);

  ContentEntry partial;
  std::copy_n(MakeKey(0x5000 + 1).begin(), 9, partial.ekey.begin());
  partial.encodedSize = 1234;
  partial.flags = EF_EKEY | EF_EKEY_PARTIAL;
  ContentEntry* fromIndex = storage->contents.Insert(partial);

  DownloadManifest manifest;
  manifest.entries = MakeEntries(3);
  manifest.tags = {{"Windows", 1, {0, 1}}, {"Mac", 1, {0}}};
  ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);

  ASSERT_EQ(storage->contents.size(), 3u);
  EXPECT_EQ(fromEncoding->flags, EF_CKEY | EF_EKEY | EF_IN_ENCODING | EF_IN_DOWNLOAD);
  EXPECT_EQ(fromEncoding->ckey, MakeKey(1));
  EXPECT_EQ(fromEncoding->contentSize, 900u);
  EXPECT_EQ(fromEncoding->encodedSize, 300u);
  EXPECT_EQ(fromEncoding->priority, 0u);
  EXPECT_EQ(fromEncoding->tagBitMask, 3u);

  EXPECT_EQ(fromIndex->flags, EF_EKEY | EF_IN_DOWNLOAD);
  EXPECT_EQ(fromIndex->ekey, MakeKey(0x5000 + 1));
  EXPECT_EQ(fromIndex->encodedSize, 1234u);
  EXPECT_EQ(fromIndex->priority, 1u);
  EXPECT_EQ(fromIndex->tagBitMask, 1u);
}

// Tags beyond the 64 bits of a tag mask are kept in the tag table but set
// no bits.
TEST(DownloadManifestTest, SeventyTagsSetBitsOnlyForTheFirstSixtyFour) {
  DownloadManifest manifest;
  manifest.entries = MakeEntries(140);
  manifest.tags = testkit::ManyTags(70, 140);  // tag t lists the entries i % (t + 1) == 0
  ManifestStorage storage;
  ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);

  ASSERT_EQ(storage->downloadTags.size(), 70u);
  EXPECT_EQ(storage->downloadTags[69].name, "tag69");
  EXPECT_EQ(storage->downloadTags[69].type, 69u % 4 + 1);
  for (uint32_t i = 0; i < 140; ++i) {
    uint64_t expected = 0;
    for (uint32_t t = 0; t < 64; ++t) {
      if (i % (t + 1) == 0) expected |= uint64_t{1} << t;
    }
    EXPECT_EQ(storage->contents.entries()[i].tagBitMask, expected) << i;
  }
  // Entry 0 is listed by all 70 tags.
  EXPECT_EQ(storage->contents.entries()[0].tagBitMask, ~uint64_t{0});
}

// A file cut inside the tags: the last bit field counts as far as it goes;
// a file cut inside the entries: the entries it holds are read, the tags
// (which follow the entries) are absent.
TEST(DownloadManifestTest, ManifestCutShortKeepsWhatItHolds) {
  DownloadManifest manifest;
  manifest.entries = MakeEntries(40);  // bit fields of 5 bytes
  manifest.tags = {{"all", 1, {}}, {"last", 2, {}}};
  for (size_t i = 0; i < 40; ++i) manifest.tags[0].entries.push_back(i);
  manifest.tags[1].entries = {0, 9, 39};
  manifest.truncateBy = 3;  // "last" keeps bytes 0 and 1 of its field
  {
    ManifestStorage storage;
    ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);
    ASSERT_EQ(storage->contents.size(), 40u);
    ASSERT_EQ(storage->downloadTags.size(), 2u);
    EXPECT_EQ(storage->contents.entries()[0].tagBitMask, 3u);
    EXPECT_EQ(storage->contents.entries()[9].tagBitMask, 3u);
    EXPECT_EQ(storage->contents.entries()[39].tagBitMask, 1u);
  }
  manifest.truncateBy = 23 + 22 * 10 + 5;  // the tags (23 bytes) and 10.2 entries
  {
    ManifestStorage storage;
    ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);
    EXPECT_EQ(storage->contents.size(), 29u);
    EXPECT_TRUE(storage->features & STF_HAS_TAGS) << "the header announced tags";
    EXPECT_TRUE(storage->downloadTags.empty());
    EXPECT_EQ(storage->contents.entries()[0].tagBitMask, 0u);
  }
  manifest.entryCount = 1'000'000;  // far more than the file holds
  {
    ManifestStorage storage;
    ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);
    EXPECT_EQ(storage->contents.size(), 29u);
  }
}

TEST(DownloadManifestTest, EntriesBeyondTheArrayAreDroppedWithTheirTags) {
  ManifestStorage storage(0);  // room for 64
  DownloadManifest manifest;
  manifest.entries = MakeEntries(70);
  manifest.tags = {{"odd", 1, {1, 63, 65, 69}}};
  ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);
  EXPECT_EQ(storage->contents.size(), 64u);
  EXPECT_EQ(storage->entriesAfterDownload, 64u);
  EXPECT_EQ(storage->contents.entries()[63].tagBitMask, 1u);
  EXPECT_EQ(storage->contents.FindByEKey(MakeKey(0x5000 + 65).data()), nullptr);
}

// An encoded size that needs more than 32 bits stays unknown.
TEST(DownloadManifestTest, EncodedSizeAboveThirtyTwoBitsStaysUnknown) {
  DownloadManifest manifest;
  manifest.entries = MakeEntries(2);
  manifest.entries[0].encodedSize = 0x1'0000'0010;
  ManifestStorage storage;
  ASSERT_EQ(Parse(storage, manifest), kErrorSuccess);
  EXPECT_EQ(storage->contents.entries()[0].encodedSize, kUnknownSize);
  EXPECT_EQ(storage->contents.entries()[1].encodedSize, 301u);
}

}  // namespace
}  // namespace kestrine
