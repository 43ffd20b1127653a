#include "storage/key_tables.h"

#include <gtest/gtest.h>

#include <vector>

#include "testkit/index_files.h"

namespace kestrine {
namespace {

using testkit::MakeKey;

ContentEntry Record(uint32_t seed, uint16_t flags, uint32_t contentSize = kUnknownSize,
                    uint32_t encodedSize = kUnknownSize) {
  ContentEntry record;
  if (flags & EF_CKEY) record.ckey = MakeKey(seed);
  if (flags & EF_EKEY) record.ekey = MakeKey(seed + 0x10000);
  record.flags = flags;
  record.contentSize = contentSize;
  record.encodedSize = encodedSize;
  return record;
}

// Capacity: the larger manifest bound, each counted only when known, a
// million when neither is; the maps get a power-of-two bucket count with
// room for a quarter more.
TEST(KeyTablesTest, CapacityAndBucketCountsFollowTheManifestSizes) {
  EXPECT_EQ(ContentTables::CapacityFor(kUnknownSize, kUnknownSize), 1'000'000u);
  EXPECT_EQ(ContentTables::CapacityFor(3800, kUnknownSize), 164u);
  EXPECT_EQ(ContentTables::CapacityFor(kUnknownSize, 2200), 164u);
  EXPECT_EQ(ContentTables::CapacityFor(38 * 1000, 22 * 5000), 5064u);
  EXPECT_EQ(ContentTables::CapacityFor(38 * 9000, 22 * 5000), 9064u);
  EXPECT_EQ(ContentTables::CapacityFor(0, kUnknownSize), 64u);

  EXPECT_EQ(HashBucketCount(0), 256u);
  EXPECT_EQ(HashBucketCount(192), 256u);  // 192 * 4 / 3 = 256
  EXPECT_EQ(HashBucketCount(193), 512u);
  EXPECT_EQ(HashBucketCount(1'000'000), 2'097'152u);

  ContentTables tables;
  ASSERT_EQ(tables.Create(kUnknownSize, kUnknownSize, 9), 0u);
  EXPECT_EQ(tables.capacity(), 1'000'000u);
  EXPECT_EQ(tables.size(), 0u);
  EXPECT_EQ(tables.ckeyMap().bucketCount(), 2'097'152u);
  EXPECT_EQ(tables.ekeyMap().bucketCount(), 2'097'152u);
  EXPECT_EQ(tables.ekeyMap().keyLength(), 9u);
}

TEST(KeyTablesTest, InsertEntersEachKeyItsRecordCarries) {
  ContentTables tables;
  ASSERT_EQ(tables.Create(3800, kUnknownSize, 9), 0u);

  EXPECT_EQ(tables.Insert(Record(1, 0)), nullptr);
  EXPECT_EQ(tables.Insert(Record(1, EF_IN_ENCODING)), nullptr);
  EXPECT_EQ(tables.size(), 0u);

  ContentEntry* both = tables.Insert(Record(1, EF_CKEY | EF_EKEY, 100, 130));
  ContentEntry* ekeyOnly = tables.Insert(Record(2, EF_EKEY));
  ContentEntry* ckeyOnly = tables.Insert(Record(3, EF_CKEY));
  ASSERT_NE(both, nullptr);
  ASSERT_NE(ekeyOnly, nullptr);
  ASSERT_NE(ckeyOnly, nullptr);
  EXPECT_EQ(tables.size(), 3u);
  EXPECT_EQ(both->contentSize, 100u);
  EXPECT_EQ(both->encodedSize, 130u);

  EXPECT_EQ(tables.FindByCKey(MakeKey(1).data()), both);
  EXPECT_EQ(tables.FindByEKey(MakeKey(1 + 0x10000).data()), both);
  EXPECT_EQ(tables.FindByEKey(MakeKey(2 + 0x10000).data()), ekeyOnly);
  EXPECT_EQ(tables.FindByCKey(MakeKey(3).data()), ckeyOnly);
  // An entry without a key is in neither map: a zero key finds nothing.
  EXPECT_EQ(tables.FindByCKey(Key16{}.data()), nullptr);
  EXPECT_EQ(tables.FindByEKey(Key16{}.data()), nullptr);
  EXPECT_EQ(tables.FindByCKey(MakeKey(4).data()), nullptr);
}

// Two records with the same CKey: the second returns the first entry,
// completing only its unknown sizes, and creates nothing.
TEST(KeyTablesTest, SecondRecordOfACKeyCompletesTheFirstEntry) {
  ContentTables tables;
  ASSERT_EQ(tables.Create(3800, kUnknownSize, 9), 0u);
  ContentEntry* first = tables.Insert(Record(7, EF_CKEY, 500, kUnknownSize));
  ASSERT_NE(first, nullptr);

  ContentEntry second = Record(7, EF_CKEY | EF_EKEY, 999, 640);
  second.ekey = MakeKey(77);
  EXPECT_EQ(tables.Insert(second), first);
  EXPECT_EQ(tables.size(), 1u);
  EXPECT_EQ(first->contentSize, 500u);  // known: kept
  EXPECT_EQ(first->encodedSize, 640u);  // unknown: completed
  EXPECT_EQ(tables.FindByEKey(MakeKey(77).data()), nullptr);
}

// The EKey map compares 9 bytes, or all 16 for storages keyed by full EKeys;
// equal keys keep the first entry in the map although both entries exist.
TEST(KeyTablesTest, EKeyMapComparesItsKeyLengthAndKeepsTheFirstEntry) {
  for (size_t keyLength : {size_t{9}, size_t{16}}) {
    ContentTables tables;
    ASSERT_EQ(tables.Create(3800, kUnknownSize, keyLength), 0u);
    ContentEntry a = Record(1, EF_CKEY | EF_EKEY);
    ContentEntry b = Record(2, EF_CKEY | EF_EKEY);
    b.ekey = a.ekey;
    b.ekey[12] ^= 0xFF;  // differs only after the ninth byte
    ContentEntry* first = tables.Insert(a);
    ContentEntry* second = tables.Insert(b);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables.FindByEKey(a.ekey.data()), first) << keyLength;
    EXPECT_EQ(tables.FindByEKey(b.ekey.data()), keyLength == 9 ? first : second) << keyLength;
  }
}

// A full array makes Insert return null and changes nothing; the entries
// handed out before stay where they are.
TEST(KeyTablesTest, FullArrayDropsTheRecordAndEntriesNeverMove) {
  ContentTables tables;
  ASSERT_EQ(tables.Create(38, kUnknownSize, 9), 0u);  // 1 + 64 entries
  ASSERT_EQ(tables.capacity(), 65u);
  std::vector<ContentEntry*> handedOut;
  for (uint32_t i = 0; i < 65; ++i) {
    handedOut.push_back(tables.Insert(Record(i, EF_CKEY | EF_EKEY, i)));
    ASSERT_NE(handedOut.back(), nullptr);
  }
  EXPECT_EQ(tables.Insert(Record(1000, EF_CKEY | EF_EKEY)), nullptr);
  EXPECT_EQ(tables.Allocate(), nullptr);
  EXPECT_EQ(tables.size(), 65u);
  EXPECT_EQ(tables.ckeyMap().size(), 65u);
  EXPECT_EQ(tables.ekeyMap().size(), 65u);
  EXPECT_EQ(tables.FindByCKey(MakeKey(1000).data()), nullptr);
  // A known CKey still merges although the array is full.
  EXPECT_EQ(tables.Insert(Record(3, EF_CKEY)), handedOut[3]);
  for (uint32_t i = 0; i < 65; ++i) {
    EXPECT_EQ(tables.FindByCKey(MakeKey(i).data()), handedOut[i]);
    EXPECT_EQ(handedOut[i]->contentSize, i);
    EXPECT_EQ(&tables.entries()[i], handedOut[i]);
  }
}

// Keys that all hash alike fill the map up to one bucket short of its size;
// then insertions stop and every look-up, even of an absent key, ends.
TEST(KeyTablesTest, MapStopsOneShortOfFullAndLookUpsStillEnd) {
  std::vector<ContentEntry> entries(300);
  EntryKeyMap map;
  ASSERT_TRUE(map.Create(0, entries.data(), entries.size(), offsetof(ContentEntry, ckey), 16));
  ASSERT_EQ(map.bucketCount(), 256u);
  size_t accepted = 0;
  for (uint32_t i = 0; i < entries.size(); ++i) {
    entries[i].ckey = MakeKey(i);
    entries[i].ckey[0] = entries[i].ckey[1] = entries[i].ckey[2] = entries[i].ckey[3] = 0xAB;
    accepted += map.Insert(&entries[i]) ? 1 : 0;
  }
  EXPECT_EQ(accepted, 255u);
  EXPECT_EQ(map.size(), 255u);
  EXPECT_EQ(map.Find(entries[0].ckey.data()), &entries[0]);
  EXPECT_EQ(map.Find(entries[254].ckey.data()), &entries[254]);
  EXPECT_EQ(map.Find(entries[255].ckey.data()), nullptr);
  EXPECT_FALSE(map.Insert(&entries[0]));

  // Only entries of the map's array are taken.
  EntryKeyMap other;
  ASSERT_TRUE(other.Create(0, entries.data(), 2, offsetof(ContentEntry, ckey), 16));
  EXPECT_TRUE(other.Insert(&entries[1]));
  EXPECT_FALSE(other.Insert(&entries[2]));
  EXPECT_EQ(other.Find(entries[1].ckey.data()), &entries[1]);
}

// Keys that differ only in the bytes after the bucket hash and the tag are
// still told apart: the tag only spares the reads of other entries.
TEST(KeyTablesTest, KeysEqualInHashAndTagBytesStayApart) {
  std::vector<ContentEntry> entries(3);
  for (uint32_t i = 0; i < entries.size(); ++i) {
    entries[i].ckey = MakeKey(7);
    entries[i].ckey[15] = static_cast<uint8_t>(i);
  }
  EntryKeyMap map;
  ASSERT_TRUE(map.Create(0, entries.data(), entries.size(), offsetof(ContentEntry, ckey), 16));
  for (ContentEntry& entry : entries) EXPECT_TRUE(map.Insert(&entry));
  for (ContentEntry& entry : entries) EXPECT_EQ(map.Find(entry.ckey.data()), &entry);
  Key16 absent = MakeKey(7);
  absent[15] = 9;
  EXPECT_EQ(map.Find(absent.data()), nullptr);
}

}  // namespace
}  // namespace kestrine
