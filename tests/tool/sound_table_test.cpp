// The sound table "arr/sfxdata.tbl": parsing, loading and the sound filter.
#include "tool/sound_table.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testkit/memory_storage.h"
#include "tests/tool/test_util.h"
#include "tool/import_driver.h"

namespace kestrine {
namespace {

using testkit::MemoryStorage;

SoundSet Parse(const std::string& table) {
  return ParseSoundTable({reinterpret_cast<const uint8_t*>(table.data()), table.size()});
}

std::string ParseFailure(const std::string& table) {
  return test::FailureMessage([&] { Parse(table); });
}

TEST(ParseSoundTableTest, NamesBecomeNormalisedSoundAssetNames) {
  EXPECT_EQ(
      Parse(test::SoundTableNaming({"Zerg\\Unit\\Sample00.wav", "misc/Button.WAV", "SD\\x.wav"})),
      (SoundSet{"sound/zerg/unit/sample00.wav", "sound/misc/button.wav", "sound/x.wav"}));
}

TEST(ParseSoundTableTest, CountZeroKeepsNoSound) {
  EXPECT_EQ(Parse(test::SoundTableBytes(0, {})), SoundSet{});
  EXPECT_EQ(Parse(test::SoundTableBytes(0, {}, std::string("\xFF\xFF garbage", 10))), SoundSet{});
}

TEST(ParseSoundTableTest, DuplicatesSharedOffsetsAndEmptyNamesAreAccepted) {
  // Two spellings of one name, two slots at one name, and an empty name.
  std::string tail = std::string("A.wav\0a.wav\0b.wav\0\0", 19);
  uint16_t base = 2 + 2 * 5;
  EXPECT_EQ(Parse(test::SoundTableBytes(5,
                                        {base, uint16_t(base + 6), uint16_t(base + 12),
                                         uint16_t(base + 12), uint16_t(base + 18)},
                                        tail)),
            (SoundSet{"sound/a.wav", "sound/b.wav", "sound/"}));
}

TEST(ParseSoundTableTest, OffsetsMayPointAnywhereInTheFile) {
  // Slot 0 points at the count's high byte, which is zero: an empty name.
  // Slot 1 points at slot 0 itself, whose bytes are 01 00.
  EXPECT_EQ(Parse(test::SoundTableBytes(2, {1, 2})), (SoundSet{"sound/", "sound/\x01"}));
}

TEST(ParseSoundTableTest, ChecksOnlyTheCountedEntries) {
  // The uncounted slot would be an invalid offset, the trailing byte an unterminated name.
  EXPECT_EQ(Parse(test::SoundTableBytes(1, {6, 0xFFFF}, std::string("a\0", 2))),
            SoundSet{"sound/a"});
  EXPECT_EQ(Parse(test::SoundTableBytes(1, {4}, std::string("a\0\xFF", 3))), SoundSet{"sound/a"});
}

TEST(ParseSoundTableTest, AcceptsTheLargestCount) {
  // Every slot holds 0x0100 and so points at byte 256, the low byte of a slot: zero.
  std::vector<uint16_t> offsets(0xFFFF, 0x0100);
  EXPECT_EQ(Parse(test::SoundTableBytes(0xFFFF, offsets)), SoundSet{"sound/"});
  EXPECT_EQ(ParseFailure(test::SoundTableBytes(0xFFFF, std::vector<uint16_t>(0xFFFE, 0x0100))),
            "Truncated sound table");
}

TEST(ParseSoundTableTest, KeepsNamesAsLongAsAFileName) {
  std::string longName(kMaxPath - 6, 'n');
  EXPECT_EQ(Parse(test::SoundTableNaming({longName})), SoundSet{"sound/" + longName});
  // A name no file can carry must still be terminated, and fails nothing else.
  EXPECT_NO_THROW(Parse(test::SoundTableNaming({std::string(5000, 'n'), "a.wav"})));
  EXPECT_EQ(ParseFailure(test::SoundTableBytes(1, {4}, std::string(5000, 'n'))),
            "Unterminated sound name");
}

TEST(ParseSoundTableTest, ReportsTheFirstFailingEntry) {
  struct Case {
    const char* what;
    std::string table;
    std::string message;
  };
  const Case cases[] = {
      {"empty", "", "Invalid sound table"},
      {"one byte", std::string(1, '\0'), "Invalid sound table"},
      {"count 1 in 3 bytes", test::SoundTableBytes(1, {}, std::string(1, '\0')),
       "Truncated sound table"},
      {"count 2, room for one slot", test::SoundTableBytes(2, {4}, std::string(1, '\0')),
       "Truncated sound table"},
      {"offset equal to the size", test::SoundTableBytes(1, {4}), "Invalid sound name offset"},
      {"offset beyond the size", test::SoundTableBytes(1, {0xFFFF}, std::string(8, '\0')),
       "Invalid sound name offset"},
      {"second offset invalid", test::SoundTableBytes(2, {6, 200}, std::string("a\0", 2)),
       "Invalid sound name offset"},
      {"name runs to the last byte", test::SoundTableBytes(1, {4}, "a.wav"),
       "Unterminated sound name"},
      {"last zero before the name", test::SoundTableBytes(1, {5}, std::string("\0a.wav", 6)),
       "Unterminated sound name"},
      {"unterminated before truncated", test::SoundTableBytes(2, {4}, "x"),
       "Unterminated sound name"},
      {"second name unterminated", test::SoundTableBytes(2, {6, 8}, std::string("a\0bc", 4)),
       "Unterminated sound name"},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseFailure(c.table), c.message) << c.what;
  // The boundaries just inside.
  EXPECT_EQ(Parse(test::SoundTableBytes(1, {5}, std::string("a\0", 2))), SoundSet{"sound/"});
  EXPECT_EQ(Parse(test::SoundTableBytes(1, {4}, std::string("a.wav\0", 6))),
            SoundSet{"sound/a.wav"});
}

TEST(FilterSoundsTest, DropsUnnamedSoundsAndKeepsEverythingElseInOrder) {
  std::vector<AssetEntry> entries = {
      {"sound/z.wav", "SD\\sound\\z.wav"}, {"unit/a.grp", "unit/a.grp"},
      {"sound/a.ogg", "sound/a.ogg"},      {"music/zerg1.wav", "music/zerg1.wav"},
      {"sound/a.wav", "sound/a.wav"},      {"arr/sfxdata.tbl", "arr/sfxdata.tbl"},
      {"sound/b.wav", "sound/b.wav"},
  };
  FilterSounds(entries, {"sound/z.wav", "sound/b.wav", "sound/q.wav", "unit/a.grp"});
  std::vector<std::string> kept;
  for (const AssetEntry& entry : entries) kept.push_back(entry.assetName + "|" + entry.storageName);
  EXPECT_EQ(kept, (std::vector<std::string>{"sound/z.wav|SD\\sound\\z.wav", "unit/a.grp|unit/a.grp",
                                            "music/zerg1.wav|music/zerg1.wav",
                                            "arr/sfxdata.tbl|arr/sfxdata.tbl",
                                            "sound/b.wav|sound/b.wav"}));
}

// ---- LoadSoundTable over the in-memory storage ----

class LoadSoundTableTest : public testing::Test {
 protected:
  void SetUp() override {
    StorageOpenArgs args{};
    args.size = sizeof(args);
    handle_ = storage_.OpenStorage("install", &args);
  }
  void TearDown() override { storage_.CloseStorage(handle_); }

  SoundSet Load(const std::string& name) {
    SoundSet wanted = LoadSoundTable(storage_, handle_, name);
    EXPECT_EQ(storage_.openFiles(), 0);
    return wanted;
  }
  // The message of a failing load, which leaves no file open.
  std::string LoadFailure(const std::string& name) {
    std::string message = test::FailureMessage([&] { LoadSoundTable(storage_, handle_, name); });
    EXPECT_EQ(storage_.openFiles(), 0) << name;
    return message;
  }

  MemoryStorage storage_;
  StorageHandle handle_ = nullptr;
};

TEST_F(LoadSoundTableTest, ReadsTheNamedFileAndClosesIt) {
  storage_.AddFile("SD\\Arr\\SfxData.tbl", test::SoundTableNaming({"Zerg\\A.wav"}));
  EXPECT_EQ(Load("SD\\Arr\\SfxData.tbl"), SoundSet{"sound/zerg/a.wav"});
  EXPECT_EQ(storage_.openFiles(), 0);
  EXPECT_EQ(storage_.readNames(), std::vector<std::string>{"SD\\Arr\\SfxData.tbl"});
}

TEST_F(LoadSoundTableTest, MissingOrUnopenableTableIsMissing) {
  storage_.AddListedName("arr/listed.tbl");
  storage_.AddFile("arr/locked.tbl", test::SoundTableNaming({}));
  storage_.Faults("arr/locked.tbl").openError = 5;
  for (const char* name : {"", "arr/absent.tbl", "arr/listed.tbl", "arr/locked.tbl"}) {
    EXPECT_EQ(LoadFailure(name), "Missing original sound table") << name;
  }
  EXPECT_EQ(storage_.openFiles(), 0);
}

TEST_F(LoadSoundTableTest, SizeErrorBecomesTheLastError) {
  storage_.AddFile("t", test::SoundTableNaming({}));
  storage_.Faults("t").sizeError = kErrorCanNotComplete;
  SetCascError(0);
  EXPECT_EQ(LoadFailure("t"), "Invalid sound table");
  EXPECT_EQ(GetCascError(), kErrorCanNotComplete);
}

TEST_F(LoadSoundTableTest, SizeMustBeFromTwoBytesToOneMiB) {
  std::string largest = test::SoundTableNaming({"a.wav"});
  largest.resize(kMaxSoundTableSize, '\0');
  storage_.AddFile("empty", "").AddFile("one", std::string(1, '\0'));
  storage_.AddFile("two", test::SoundTableBytes(0, {})).AddFile("largest", largest);
  storage_.AddGeneratedFile("over", kMaxSoundTableSize + 1);
  for (const char* name : {"empty", "one", "over"}) {
    EXPECT_EQ(LoadFailure(name), "Invalid sound table") << name;
  }
  EXPECT_EQ(storage_.readNames(), std::vector<std::string>{}) << "refused before any read";
  EXPECT_EQ(Load("two"), SoundSet{});
  EXPECT_EQ(Load("largest"), SoundSet{"sound/a.wav"});
  EXPECT_EQ(storage_.openFiles(), 0);
}

TEST_F(LoadSoundTableTest, FailedOrShortReadCannotBeRead) {
  storage_.AddFile("broken", test::SoundTableNaming({"a.wav"}))
      .AddFile("short", test::SoundTableNaming({"a.wav"}));
  storage_.Faults("broken").readError = kErrorBlockReadFailed;
  storage_.Faults("short").shortBy = 1;
  for (const char* name : {"broken", "short"}) {
    EXPECT_EQ(LoadFailure(name), "Cannot read sound table") << name;
  }
}

// ---- Through the import, whose failure handler closes what the table left open ----

struct ImportCase {
  const char* what;
  std::function<void(MemoryStorage&)> addSoundTable;
  std::string message;
};

class SoundTableImportTest : public testing::TestWithParam<ImportCase> {};

TEST_P(SoundTableImportTest, FailsTheImportAndReleasesEverything) {
  const ImportCase& c = GetParam();
  MemoryStorage storage;
  storage.AddFile("unit/a.grp", "grp");
  c.addSoundTable(storage);
  test::TempDir folder;
  test::CapturedStream out, err;
  int exitCode = ImportClassicAssets(storage, "install", folder.File("out.kvrn").c_str(), out.get(),
                                     err.get());
  EXPECT_EQ(exitCode, 1);
  EXPECT_EQ(err.Text(), "Asset import failed: " + c.message + "\n");
  EXPECT_EQ(out.Text(), "");
  EXPECT_EQ(storage.openFiles(), 0);
  EXPECT_EQ(storage.openSearches(), 0);
  EXPECT_EQ(storage.openStorages(), 0);
  EXPECT_EQ(test::FolderListing(folder.path()), std::vector<std::string>{});
}

const std::string kTable = "arr/sfxdata.tbl";

INSTANTIATE_TEST_SUITE_P(
    Failures, SoundTableImportTest,
    testing::Values(
        ImportCase{"NoTable", [](MemoryStorage&) {}, "Missing original sound table"},
        ImportCase{"OnlyListed", [](MemoryStorage& s) { s.AddListedName(kTable); },
                   "Missing original sound table"},
        ImportCase{"OpenFails",
                   [](MemoryStorage& s) {
                     s.AddFile(kTable, test::SoundTableNaming({}));
                     s.Faults(kTable).openError = 5;
                   },
                   "Missing original sound table"},
        ImportCase{"SizeError",
                   [](MemoryStorage& s) {
                     s.AddFile(kTable, test::SoundTableNaming({}));
                     s.Faults(kTable).sizeError = kErrorCanNotComplete;
                   },
                   "Invalid sound table"},
        ImportCase{"SizeZero", [](MemoryStorage& s) { s.AddFile(kTable, ""); },
                   "Invalid sound table"},
        ImportCase{"SizeOne", [](MemoryStorage& s) { s.AddFile(kTable, std::string(1, '\0')); },
                   "Invalid sound table"},
        ImportCase{"OverOneMiB",
                   [](MemoryStorage& s) { s.AddGeneratedFile(kTable, kMaxSoundTableSize + 1); },
                   "Invalid sound table"},
        ImportCase{"ReadFails",
                   [](MemoryStorage& s) {
                     s.AddFile(kTable, test::SoundTableNaming({}));
                     s.Faults(kTable).readError = kErrorBlockReadFailed;
                   },
                   "Cannot read sound table"},
        ImportCase{"ShortRead",
                   [](MemoryStorage& s) {
                     s.AddFile(kTable, test::SoundTableNaming({}));
                     s.Faults(kTable).shortBy = 2;
                   },
                   "Cannot read sound table"},
        ImportCase{"NotItsKey",
                   [](MemoryStorage& s) {
                     s.AddFile(kTable, test::SoundTableNaming({}));
                     s.Faults(kTable).wrongContentKey = true;
                   },
                   "Cannot read sound table"},
        ImportCase{"Truncated",
                   [](MemoryStorage& s) { s.AddFile(kTable, test::SoundTableBytes(1, {}, "x")); },
                   "Truncated sound table"},
        ImportCase{"BadOffset",
                   [](MemoryStorage& s) { s.AddFile(kTable, test::SoundTableBytes(1, {4})); },
                   "Invalid sound name offset"},
        ImportCase{
            "Unterminated",
            [](MemoryStorage& s) { s.AddFile(kTable, test::SoundTableBytes(1, {4}, "a.wav")); },
            "Unterminated sound name"}),
    [](const testing::TestParamInfo<ImportCase>& info) { return info.param.what; });

}  // namespace
}  // namespace kestrine
