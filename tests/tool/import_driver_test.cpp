// The import from storage to bundle, end to end over the in-memory storage.
#include "tool/import_driver.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "testkit/memory_storage.h"
#include "tests/tool/test_util.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using test::BundleRecord;
using testkit::GeneratedByte;
using testkit::MemoryStorage;

constexpr uint64_t kMiB = 1 << 20;
const std::string kPreviousBundle = "KVRN previous bundle, must survive";

struct ImportRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string Failure(const std::string& message) {
  return "Asset import failed: " + message + "\n";
}

// Megabytes as both output lines print them.
std::string MiB(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f", static_cast<double>(bytes) / 1048576.0);
  return text;
}

std::string Progress(size_t written, size_t total, uint64_t bytes) {
  return "Imported " + std::to_string(written) + "/" + std::to_string(total) + " files, " +
         MiB(bytes) + " MiB\n";
}

std::string Summary(size_t files, uint64_t bytes) {
  return "Imported " + std::to_string(files) + " original asset files, " + MiB(bytes) +
         " MiB from local storage.\n";
}

ImportRun RunImport(MemoryStorage& storage, const std::string& output,
                    const std::string& installDirectory = "/games/starcraft") {
  test::CapturedStream out, err;
  ImportRun run;
  run.exitCode =
      ImportClassicAssets(storage, installDirectory.c_str(), output.c_str(), out.get(), err.get());
  run.out = out.Text();
  run.err = err.Text();
  return run;
}

void ExpectAllReleased(const MemoryStorage& storage) {
  EXPECT_EQ(storage.openStorages(), 0);
  EXPECT_EQ(storage.openSearches(), 0);
  EXPECT_EQ(storage.openFiles(), 0);
}

// Checks size and sampled bytes of a large generated record.
void ExpectGeneratedRecord(const fs::path& bundle, const test::BundleRecordInfo& record,
                           const std::string& name, uint64_t size, uint32_t seed) {
  EXPECT_EQ(record.name, name);
  EXPECT_EQ(record.dataSize, size);
  for (uint64_t offset : {uint64_t{0}, uint64_t{1}, size / 3, size / 2 + 7, size - 1}) {
    std::string expected(1, static_cast<char>(GeneratedByte(seed, offset)));
    EXPECT_EQ(test::ReadBytesAt(bundle, record.dataOffset + offset, 1), expected)
        << name << " at " << offset;
  }
}

class ImportDriverTest : public testing::Test {
 protected:
  ImportRun Import() { return RunImport(storage_, output_); }
  std::vector<BundleRecord> Bundle() const {
    std::vector<BundleRecord> records;
    EXPECT_TRUE(test::ReadBundle(output_, records));
    return records;
  }
  std::vector<std::string> Listing() const { return test::FolderListing(folder_.path()); }

  MemoryStorage storage_;
  test::TempDir folder_;
  std::string output_ = folder_.File("out.kvrn");
};

TEST_F(ImportDriverTest, WritesTheSelectedAssetsSortedByName) {
  std::string table = test::SoundTableNaming({"Zerg\\Unit\\Sample00.wav", "misc\\button.ogg"});
  storage_.AddFile("unit/terran/marine.grp", "marine")
      .AddFile("SD\\SOUND\\Zerg\\Unit\\Sample00.WAV", "wav named")
      .AddFile("sound/zerg/unit/sample00.ogg", "ogg of a named wav")
      .AddFile("sound/misc/button.ogg", "ogg named")
      .AddFile("sound/misc/unnamed.wav", "unnamed")
      .AddFile("SD\\Music\\Zerg1.wav", "music")
      .AddFile("music/title.wav", "other music")
      .AddFile("SD\\arr\\sfxdata.tbl", table)
      .AddFile("game/tconsole.dds", "console")
      .AddFile("readme.txt", "not an asset");
  ImportRun run = Import();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  uint64_t total = 6 + 9 + 9 + 5 + table.size() + 7;
  EXPECT_EQ(run.out, Progress(1, 6, table.size()) + Summary(6, total));
  EXPECT_EQ(Bundle(), (std::vector<BundleRecord>{
                          {"arr/sfxdata.tbl", table},
                          {"game/tconsole.dds", "console"},
                          {"music/zerg1.wav", "music"},
                          {"sound/misc/button.ogg", "ogg named"},
                          {"sound/zerg/unit/sample00.wav", "wav named"},
                          {"unit/terran/marine.grp", "marine"},
                      }));
  EXPECT_EQ(Listing(), std::vector<std::string>{"out.kvrn"});
  ExpectAllReleased(storage_);
}

TEST_F(ImportDriverTest, OpensTheStorageWithTheDirectoryUnchangedAndOnlyTheLocale) {
  storage_.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}));
  const std::string directory = " C:\\Games\\StarCraft/x*s1 ";
  ASSERT_EQ(RunImport(storage_, output_, directory).exitCode, 0);
  EXPECT_EQ(storage_.openParameters(), directory);
  StorageOpenArgs args = storage_.openArgs();
  EXPECT_EQ(args.size, 88u);
  EXPECT_EQ(args.localeMask, 2u);
  EXPECT_EQ(args.flags, 0u);
  EXPECT_EQ(args.localPath, nullptr);
  EXPECT_EQ(args.productCode, nullptr);
  EXPECT_EQ(args.region, nullptr);
  EXPECT_EQ(args.progressCallback, nullptr);
  EXPECT_EQ(args.progressContext, nullptr);
  EXPECT_EQ(args.productCallback, nullptr);
  EXPECT_EQ(args.productContext, nullptr);
  EXPECT_EQ(args.buildKey, nullptr);
  EXPECT_EQ(args.cdnHost, nullptr);
}

TEST_F(ImportDriverTest, ImportsTheFirstNameFoundButReadsTheSoundTableFromTheLast) {
  std::string firstTable = test::SoundTableNaming({"a.wav"});
  std::string lastTable = test::SoundTableNaming({"b.wav"});
  storage_.AddFile("SD\\Arr\\SfxData.tbl", firstTable)
      .AddFile("Unit\\A.grp", "first")
      .AddFile("sound/a.wav", "a")
      .AddFile("sound/b.wav", "b")
      .AddFile("SD/unit/a.GRP", "second")
      .AddFile("arr/sfxdata.tbl", lastTable);
  ASSERT_EQ(Import().exitCode, 0);
  EXPECT_EQ(Bundle(),
            (std::vector<BundleRecord>{
                {"arr/sfxdata.tbl", firstTable}, {"sound/b.wav", "b"}, {"unit/a.grp", "first"}}));
  EXPECT_EQ(storage_.readNames(),
            (std::vector<std::string>{"arr/sfxdata.tbl", "SD\\Arr\\SfxData.tbl", "sound/b.wav",
                                      "Unit\\A.grp"}));
}

TEST_F(ImportDriverTest, SortsNamesAsUnsignedBytesWithPrefixesFirst) {
  storage_.AddFile("unit/\xC3\xA9.grp", "e-acute")
      .AddFile("unit/\x7F.grp", "delete")
      .AddFile("unit/z.grp", "z")
      .AddFile("unit/a.grp.grp", "longer")
      .AddFile("unit/a.grp", "prefix")
      .AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}));
  ASSERT_EQ(Import().exitCode, 0);
  std::vector<std::string> names;
  for (const BundleRecord& record : Bundle()) names.push_back(record.name);
  EXPECT_EQ(names, (std::vector<std::string>{"arr/sfxdata.tbl", "unit/a.grp", "unit/a.grp.grp",
                                             "unit/z.grp", "unit/\x7F.grp", "unit/\xC3\xA9.grp"}));
}

TEST_F(ImportDriverTest, ZeroSizeAssetIsAnEmptyRecordWithoutARead) {
  storage_.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}))
      .AddFile("unit/empty.grp", "")
      .AddFile("unit/full.grp", "full");
  storage_.Faults("unit/empty.grp").readError = kErrorInvalidParameter;
  ImportRun run = Import();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Bundle(), (std::vector<BundleRecord>{{"arr/sfxdata.tbl", test::SoundTableNaming({})},
                                                 {"unit/empty.grp", ""},
                                                 {"unit/full.grp", "full"}}));
  EXPECT_EQ(storage_.readNames(),
            (std::vector<std::string>{"arr/sfxdata.tbl", "arr/sfxdata.tbl", "unit/full.grp"}));
  ExpectAllReleased(storage_);
}

TEST_F(ImportDriverTest, TableOfNoSoundsDropsEverySound) {
  storage_.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}))
      .AddFile("sound/a.wav", "a")
      .AddFile("sound/b.ogg", "b")
      .AddFile("music/terran1.wav", "music");
  ImportRun run = Import();
  ASSERT_EQ(run.exitCode, 0);
  std::vector<BundleRecord> records = Bundle();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].name, "music/terran1.wav");
}

TEST_F(ImportDriverTest, PrintsProgressAfterEveryHundredthAsset) {
  std::string table = test::SoundTableNaming({});
  storage_.AddFile("arr/sfxdata.tbl", table);
  constexpr uint64_t kAssetSize = 20000;
  for (int i = 0; i < 249; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "unit/a%03d.grp", i);
    storage_.AddGeneratedFile(name, kAssetSize, i);
  }
  ImportRun run = Import();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  uint64_t base = table.size();
  EXPECT_EQ(run.out, Progress(1, 250, base) + Progress(101, 250, base + 100 * kAssetSize) +
                         Progress(201, 250, base + 200 * kAssetSize) +
                         Summary(250, base + 249 * kAssetSize));
  std::vector<BundleRecord> records = Bundle();
  ASSERT_EQ(records.size(), 250u);
  EXPECT_EQ(records[250 - 1].name, "unit/a248.grp");
  EXPECT_EQ(records[250 - 1].data[kAssetSize - 1],
            static_cast<char>(GeneratedByte(248, kAssetSize - 1)));
}

// Assets growing and shrinking in turn share one buffer: each record must
// hold exactly its own bytes, nothing left from a larger one before it.
TEST_F(ImportDriverTest, EachRecordHoldsOnlyItsOwnContent) {
  storage_.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}));
  const std::vector<size_t> sizes = {30000, 10, 0, 70000, 5, 70001};
  std::vector<BundleRecord> expected = {{"arr/sfxdata.tbl", test::SoundTableNaming({})}};
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::string name = "unit/" + std::to_string(i) + ".grp";
    std::string content(sizes[i], static_cast<char>('a' + i));
    storage_.AddFile(name, content);
    expected.push_back({name, content});
  }
  ImportRun run = Import();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Bundle(), expected);
}

TEST_F(ImportDriverTest, AcceptsAnAssetOfExactly64MiB) {
  storage_.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}))
      .AddGeneratedFile("unit/huge.grp", 64 * kMiB, 7);
  ImportRun run = Import();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, Progress(1, 2, 2) + Summary(2, 2 + 64 * kMiB));
  std::vector<test::BundleRecordInfo> records;
  ASSERT_TRUE(test::ReadBundleIndex(output_, records));
  ASSERT_EQ(records.size(), 2u);
  ExpectGeneratedRecord(output_, records[1], "unit/huge.grp", 64 * kMiB, 7);
}

TEST_F(ImportDriverTest, RefusesAnAssetOneByteOver64MiB) {
  storage_.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}))
      .AddGeneratedFile("unit/huge.grp", 64 * kMiB + 1);
  ImportRun run = Import();
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, Failure("Invalid classic asset size"));
  EXPECT_EQ(storage_.readNames(), (std::vector<std::string>{"arr/sfxdata.tbl", "arr/sfxdata.tbl"}))
      << "refused before its read";
  EXPECT_EQ(Listing(), std::vector<std::string>{});
  ExpectAllReleased(storage_);
}

// Seven assets of 64 MiB and one that brings the total, with the 2-byte sound
// table, to 512 MiB plus `excess`.
void AddAssetsTotalling512MiB(MemoryStorage& storage, uint64_t excess) {
  storage.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}));
  for (uint32_t i = 0; i < 7; ++i) {
    storage.AddGeneratedFile("unit/big" + std::to_string(i) + ".grp", 64 * kMiB, i);
  }
  storage.AddGeneratedFile("unit/big7.grp", 64 * kMiB - 2 + excess, 7);
}

TEST_F(ImportDriverTest, AcceptsATotalOfExactly512MiB) {
  AddAssetsTotalling512MiB(storage_, 0);
  ImportRun run = Import();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, Progress(1, 9, 2) + Summary(9, 512 * kMiB));
  std::vector<test::BundleRecordInfo> records;
  ASSERT_TRUE(test::ReadBundleIndex(output_, records));
  ASSERT_EQ(records.size(), 9u);
  ExpectGeneratedRecord(output_, records[1], "unit/big0.grp", 64 * kMiB, 0);
  ExpectGeneratedRecord(output_, records[8], "unit/big7.grp", 64 * kMiB - 2, 7);
}

TEST_F(ImportDriverTest, RefusesATotalOneByteOver512MiB) {
  test::WriteFile(output_, kPreviousBundle);
  AddAssetsTotalling512MiB(storage_, 1);
  ImportRun run = Import();
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, Failure("Invalid classic asset size"));
  EXPECT_EQ(run.out, Progress(1, 9, 2));
  EXPECT_EQ(test::ReadFile(output_), kPreviousBundle);
  EXPECT_EQ(Listing(), std::vector<std::string>{"out.kvrn"});
  ExpectAllReleased(storage_);
}

TEST_F(ImportDriverTest, SizeErrorBecomesTheLastError) {
  storage_.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({})).AddFile("unit/a.grp", "a");
  storage_.Faults("unit/a.grp").sizeError = kErrorFileCorrupt;
  SetCascError(0);
  EXPECT_EQ(Import().err, Failure("Invalid classic asset size"));
  EXPECT_EQ(GetCascError(), kErrorFileCorrupt);
}

TEST_F(ImportDriverTest, OutputThatCannotBeCreatedFailsAndCreatesNoFolder) {
  storage_.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}));
  fs::create_directory(folder_.path() / "bundle");
  for (const char* output : {"bundle", "missing/out.kvrn"}) {
    ImportRun run = RunImport(storage_, folder_.File(output));
    EXPECT_EQ(run.exitCode, 1) << output;
    EXPECT_EQ(run.err, Failure("Cannot create output bundle")) << output;
    EXPECT_EQ(run.out, "") << output;
    ExpectAllReleased(storage_);
  }
  EXPECT_EQ(Listing(), std::vector<std::string>{"bundle"});
  EXPECT_TRUE(fs::is_empty(folder_.path() / "bundle"));
}

// ---- Every failure: its line, its exit code, and nothing left behind ----

struct FailureCase {
  const char* what;
  std::function<void(MemoryStorage&)> setUp;
  std::string message;
  std::string out;  // progress printed before the failure
};

// The sound table and `asset`, so that the asset is written second.
std::function<void(MemoryStorage&)> TableAnd(const std::string& asset,
                                             std::function<void(MemoryStorage&)> fault) {
  return [=](MemoryStorage& storage) {
    storage.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}));
    storage.AddFile(asset, "asset content");
    fault(storage);
  };
}

std::function<void(MemoryStorage&)> OnlyTable(std::string table) {
  return [=](MemoryStorage& storage) {
    storage.AddFile("unit/a.grp", "a");
    storage.AddFile("arr/sfxdata.tbl", table);
  };
}

const std::string kOpenFailure =
    "Cannot open local CASC storage (finish Lumengate installation first), error ";

const FailureCase kFailureCases[] = {
    {"OpenInvalidParameter", [](MemoryStorage& s) { s.FailOpen(kErrorInvalidParameter); },
     kOpenFailure + "87", ""},
    {"OpenNotFound", [](MemoryStorage& s) { s.FailOpen(kErrorFileNotFound); }, kOpenFailure + "2",
     ""},
    {"NothingListed", [](MemoryStorage&) {}, "Cannot enumerate local CASC files", ""},
    {"SearchFails",
     [](MemoryStorage& s) {
       s.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}));
       s.FailSearch();
     },
     "Cannot enumerate local CASC files", ""},
    {"NoSoundTable", [](MemoryStorage& s) { s.AddFile("unit/a.grp", "a"); },
     "Missing original sound table", ""},
    {"SoundTableTooSmall", OnlyTable(std::string(1, '\0')), "Invalid sound table", ""},
    {"SoundTableUnreadable",
     [](MemoryStorage& s) {
       OnlyTable(test::SoundTableNaming({}))(s);
       s.Faults("arr/sfxdata.tbl").readError = kErrorBlockReadFailed;
     },
     "Cannot read sound table", ""},
    {"SoundTableTruncated", OnlyTable(test::SoundTableBytes(1, {}, "x")), "Truncated sound table",
     ""},
    {"SoundNameOffsetInvalid", OnlyTable(test::SoundTableBytes(1, {4})),
     "Invalid sound name offset", ""},
    {"SoundNameUnterminated", OnlyTable(test::SoundTableBytes(1, {4}, "a.wav")),
     "Unterminated sound name", ""},
    {"AssetOpenFails",
     TableAnd("SD\\unit\\x.grp",
              [](MemoryStorage& s) { s.Faults("SD\\unit\\x.grp").openError = kErrorFileNotFound; }),
     "Cannot open local asset SD\\unit\\x.grp, error 2", Progress(1, 2, 2)},
    {"AssetNotStored",
     [](MemoryStorage& s) {
       s.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}));
       s.AddListedName("Unit\\Gone.grp");
     },
     "Cannot open local asset Unit\\Gone.grp, error 2", Progress(1, 2, 2)},
    {"FirstAssetOpenFails",
     TableAnd("arr/a.dat",
              [](MemoryStorage& s) { s.Faults("arr/a.dat").openError = kErrorFileCorrupt; }),
     "Cannot open local asset arr/a.dat, error 1392", ""},
    {"AssetSizeUnknown",
     TableAnd("unit/a.grp",
              [](MemoryStorage& s) { s.Faults("unit/a.grp").sizeError = kErrorCanNotComplete; }),
     "Invalid classic asset size", Progress(1, 2, 2)},
    {"AssetTooLarge",
     [](MemoryStorage& s) {
       s.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}));
       s.AddGeneratedFile("unit/a.grp", 64 * kMiB + 1);
     },
     "Invalid classic asset size", Progress(1, 2, 2)},
    {"AssetReadFails",
     TableAnd("unit/a.grp",
              [](MemoryStorage& s) { s.Faults("unit/a.grp").readError = kErrorBlockReadFailed; }),
     "Cannot read local asset unit/a.grp, error 1006", Progress(1, 2, 2)},
    {"AssetReadShort",
     TableAnd("unit/a.grp", [](MemoryStorage& s) { s.Faults("unit/a.grp").shortBy = 1; }),
     "Cannot read local asset unit/a.grp, error 1392", Progress(1, 2, 2)},
    {"AssetContentNotItsKey",
     TableAnd("unit/a.grp",
              [](MemoryStorage& s) { s.Faults("unit/a.grp").wrongContentKey = true; }),
     "Cannot read local asset unit/a.grp, error 1392", Progress(1, 2, 2)},
    {"EmptyAssetNotItsKey",
     [](MemoryStorage& s) {
       s.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}));
       s.AddFile("unit/a.grp", "");
       s.Faults("unit/a.grp").wrongContentKey = true;
     },
     "Cannot read local asset unit/a.grp, error 1392", Progress(1, 2, 2)},
};

class ImportFailureTest : public testing::TestWithParam<std::tuple<FailureCase, bool>> {};

TEST_P(ImportFailureTest, PrintsOneLineAndLeavesNoTrace) {
  const auto& [c, previousBundle] = GetParam();
  test::TempDir folder;
  std::string output = folder.File("out.kvrn");
  if (previousBundle) test::WriteFile(output, kPreviousBundle);
  MemoryStorage storage;
  c.setUp(storage);

  ImportRun run = RunImport(storage, output);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, Failure(c.message));
  EXPECT_EQ(run.out, c.out);
  ExpectAllReleased(storage);
  if (previousBundle) {
    EXPECT_EQ(test::ReadFile(output), kPreviousBundle);
    EXPECT_EQ(test::FolderListing(folder.path()), std::vector<std::string>{"out.kvrn"});
  } else {
    EXPECT_EQ(test::FolderListing(folder.path()), std::vector<std::string>{});
  }
}

INSTANTIATE_TEST_SUITE_P(Failures, ImportFailureTest,
                         testing::Combine(testing::ValuesIn(kFailureCases), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<FailureCase, bool>>& info) {
                           return std::string(std::get<0>(info.param).what) +
                                  (std::get<1>(info.param) ? "_OverPreviousBundle"
                                                           : "_NoPreviousBundle");
                         });

// Runs the import in a process whose files may not grow past 1 KiB; returns
// the exit code, the resources left open, and both output streams.
std::string ImportBeyondFileSizeLimit(MemoryStorage& storage, const std::string& output) {
  return test::RunWithFileSizeLimit(1 << 10, [&] {
    ImportRun run = RunImport(storage, output);
    return std::to_string(run.exitCode) + " open " + std::to_string(storage.openStorages()) + "/" +
           std::to_string(storage.openSearches()) + "/" + std::to_string(storage.openFiles()) +
           "\n" + run.out + run.err;
  });
}

TEST_F(ImportDriverTest, DataTheFileCannotTakeIsAWriteFailure) {
  test::WriteFile(output_, kPreviousBundle);
  storage_.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}))
      .AddGeneratedFile("unit/big.grp", 4 * kMiB);
  EXPECT_EQ(ImportBeyondFileSizeLimit(storage_, output_),
            "1 open 0/0/0\n" + Progress(1, 2, 2) + Failure("Write failed"));
  EXPECT_EQ(test::ReadFile(output_), kPreviousBundle);
  EXPECT_EQ(Listing(), std::vector<std::string>{"out.kvrn"});
}

TEST_F(ImportDriverTest, BufferedDataTheFileCannotTakeIsACloseFailure) {
  test::WriteFile(output_, kPreviousBundle);
  storage_.AddFile("arr/sfxdata.tbl", test::SoundTableNaming({}))
      .AddGeneratedFile("unit/big.grp", 2 << 10);
  EXPECT_EQ(ImportBeyondFileSizeLimit(storage_, output_),
            "1 open 0/0/0\n" + Progress(1, 2, 2) + Failure("Bundle close failed"));
  EXPECT_EQ(test::ReadFile(output_), kPreviousBundle);
  EXPECT_EQ(Listing(), std::vector<std::string>{"out.kvrn"});
}

}  // namespace
}  // namespace kestrine
