// OpenStorage's parameter string and argument checks, and CloseStorage's
// handle check.
#include "storage/open_storage.h"

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kestrine.h"
#include "tests/tool/test_util.h"

namespace kestrine {
namespace {

constexpr char kBuildKey[] = "0123456789abcdef0123456789ABCDEF";

StorageOpenArgs EmptyArgs() {
  StorageOpenArgs args{};
  args.size = sizeof(args);
  return args;
}

std::string Describe(const std::optional<std::string>& segment) {
  return segment ? "\"" + *segment + "\"" : "-";
}

// "path cdn product region key", "-" for an absent segment.
std::string Describe(const ParameterSegments& s) {
  return Describe(s.localPath) + " " + Describe(s.cdnHost) + " " + Describe(s.productCode) + " " +
         Describe(s.region) + " " + Describe(s.buildKey);
}

// The segments, or "error N".
std::string Split(const char* parameters, const StorageOpenArgs& args = EmptyArgs()) {
  ParameterSegments segments;
  if (uint32_t error = SplitParameterString(parameters, args, segments)) {
    return "error " + std::to_string(error);
  }
  return Describe(segments);
}

TEST(SplitParameterStringTest, SplitsPathCdnHostProductRegionAndBuildKey) {
  struct Case {
    const char* parameters;
    std::string segments;
  };
  const Case cases[] = {
      {"C:\\Games\\StarCraft", R"("C:\Games\StarCraft" - - - -)"},
      {"/games/sc*s1", R"("/games/sc" - "s1" - -)"},
      {"/games/sc*cdn.example*s1", R"("/games/sc" "cdn.example" "s1" - -)"},
      {"/games/sc*s1*eu*0123456789abcdef0123456789ABCDEF",
       R"("/games/sc" - "s1" "eu" "0123456789abcdef0123456789ABCDEF")"},
      {"/games/sc*cdn.example*s1*eu*k", R"("/games/sc" "cdn.example" "s1" "eu" "k")"},
      {"/games/sc*http://cdn.example:1119/tpr*s1",
       R"("/games/sc" "http://cdn.example:1119/tpr" "s1" - -)"},
      {"/games/sc*host/path", R"("/games/sc" "host/path" - - -)"},
      {"/games/sc*cdn.example", R"("/games/sc" "cdn.example" - - -)"},
      // A host is recognised only right after the path.
      {"/games/sc*s1*cdn.example", R"("/games/sc" - "s1" "cdn.example" -)"},
      {"/games/sc*", R"("/games/sc" - "" - -)"},
  };
  for (const Case& c : cases) EXPECT_EQ(Split(c.parameters), c.segments) << c.parameters;
}

TEST(SplitParameterStringTest, RefusesMissingPathsAndSurplusSegments) {
  for (const char* parameters :
       {static_cast<const char*>(nullptr), "", "*", "*s1", "*cdn.example*s1", "/g*s1*eu*k*extra",
        "/g*cdn.example*s1*eu*k*extra"}) {
    EXPECT_EQ(Split(parameters), "error 87") << (parameters ? parameters : "(null)");
  }
}

// '*' is legal in folder names: a path that exists is not split, even when
// the part before its '*' exists too.
TEST(SplitParameterStringTest, TakesAnExistingPathWholeStarsAndAll) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.path() / "Star*Craft" / "Data");
  std::filesystem::create_directories(dir.path() / "Star");
  const std::string star = dir.File("Star");
  for (const std::string& path : {dir.File("Star*Craft"), dir.File("Star*Craft/Data")}) {
    EXPECT_EQ(Split(path.c_str()), "\"" + path + "\" - - - -");
  }
  EXPECT_EQ(Split((star + "*s1").c_str()), "\"" + star + "\" - \"s1\" - -");
  EXPECT_EQ(Split((star + "*Craft*eu").c_str()), "\"" + star + "\" - \"Craft\" \"eu\" -");
}

// The arguments record with one string field set.
StorageOpenArgs ArgsWith(const char* StorageOpenArgs::*field, const char* value,
                         uint64_t size = sizeof(StorageOpenArgs)) {
  StorageOpenArgs args = EmptyArgs();
  args.size = size;
  args.*field = value;
  return args;
}

TEST(SplitParameterStringTest, RefusesASegmentTheArgumentsAlreadyCarry) {
  struct Case {
    const char* StorageOpenArgs::*field;
    const char* parameters;
  };
  const Case conflicts[] = {
      {&StorageOpenArgs::productCode, "/g*s1"},
      {&StorageOpenArgs::productCode, "/g*cdn.example*s1"},
      {&StorageOpenArgs::region, "/g*s1*eu"},
      {&StorageOpenArgs::buildKey, "/g*s1*eu*k"},
      {&StorageOpenArgs::cdnHost, "/g*cdn.example"},
  };
  for (const Case& c : conflicts) {
    EXPECT_EQ(Split(c.parameters, ArgsWith(c.field, "carried")), "error 87") << c.parameters;
    EXPECT_NE(Split(c.parameters, ArgsWith(c.field, "")), "error 87")
        << c.parameters << ": an empty field carries nothing";
  }
  // Fields whose segment is absent do not conflict.
  EXPECT_EQ(Split("/g*cdn.example", ArgsWith(&StorageOpenArgs::productCode, "s2")),
            R"("/g" "cdn.example" - - -)");
  EXPECT_EQ(Split("/g*s1", ArgsWith(&StorageOpenArgs::cdnHost, "cdn.other")), R"("/g" - "s1" - -)");
  EXPECT_EQ(Split("/g*s1", ArgsWith(&StorageOpenArgs::region, "us")), R"("/g" - "s1" - -)");
}

TEST(SplitParameterStringTest, ReadsOnlyTheFieldsTheRecordSizeCovers) {
  struct Case {
    const char* StorageOpenArgs::*field;
    size_t fieldEnd;
    const char* parameters;
  };
  const Case cases[] = {
      {&StorageOpenArgs::productCode, 24, "/g*s1"},
      {&StorageOpenArgs::region, 32, "/g*s1*eu"},
      {&StorageOpenArgs::buildKey, 80, "/g*s1*eu*k"},
      {&StorageOpenArgs::cdnHost, 88, "/g*cdn.example"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(Split(c.parameters, ArgsWith(c.field, "carried", c.fieldEnd - 1)), "error 87")
        << c.parameters;
    EXPECT_EQ(Split(c.parameters, ArgsWith(c.field, "carried", c.fieldEnd)), "error 87")
        << c.parameters;
  }
}

// ---- OpenStorage ----

TEST(OpenStorageTest, ParameterErrorsGiveNoHandleAndError87) {
  StorageOpenArgs carriesProduct = ArgsWith(&StorageOpenArgs::productCode, "s2");
  StorageOpenArgs tooShort = EmptyArgs();
  tooShort.size = 15;  // not even the local path
  struct Case {
    const char* what;
    const char* parameters;
    StorageOpenArgs* args;
  };
  StorageOpenArgs empty = EmptyArgs();
  const Case cases[] = {
      {"null string", nullptr, &empty},
      {"empty string", "", &empty},
      {"starts with *", "*s1", &empty},
      {"too many segments", "/g*s1*eu*k*x", &empty},
      {"product given twice", "/g*s1", &carriesProduct},
      {"no arguments", "/g", nullptr},
      {"record too short", "/g", &tooShort},
  };
  for (const Case& c : cases) {
    SetCascError(0);
    EXPECT_EQ(OpenStorage(c.parameters, c.args), nullptr) << c.what;
    EXPECT_EQ(GetCascError(), kErrorInvalidParameter) << c.what;
  }
}

TEST(OpenStorageTest, ValidStringStillFailsWithoutAStorageBehindIt) {
  StorageOpenArgs args = EmptyArgs();
  SetCascError(0);
  EXPECT_EQ(OpenStorage("/nonexistent/kestrine*s1", &args), nullptr);
  EXPECT_NE(GetCascError(), kErrorSuccess);
}

bool ReportNothing(void*, uint32_t, const char*, uint32_t, uint32_t) {
  return false;
}

TEST(OpenStorageTest, LeavesTheCallersRecordAsItWas) {
  int context = 0;
  StorageOpenArgs args = EmptyArgs();
  args.progressCallback = &ReportNothing;
  args.progressContext = &context;
  args.localeMask = 0x2;
  args.flags = STF_ONLINE_FALLBACK;
  const StorageOpenArgs before = args;
  std::string parameters = std::string("/nonexistent/kestrine*cdn.example*s1*eu*") + kBuildKey;
  OpenStorage(parameters.c_str(), &args);
  EXPECT_EQ(std::memcmp(&args, &before, sizeof(args)), 0);
  EXPECT_EQ(args.localPath, nullptr);
  EXPECT_EQ(args.productCode, nullptr);
  EXPECT_EQ(args.cdnHost, nullptr);
}

TEST(OpenStorageTest, TouchesNothingBeyondTheRecordSize) {
  // A record of an older, shorter layout: size, local path and product code
  // only, ending where an inaccessible page begins.
  constexpr size_t kShortSize = offsetof(StorageOpenArgs, productCode) + sizeof(char*);
  test::GuardedBytes memory(kShortSize);
  auto* args = reinterpret_cast<StorageOpenArgs*>(memory.data());
  args->size = kShortSize;
  args->localPath = nullptr;
  args->productCode = nullptr;
  std::vector<uint8_t> before(memory.data(), memory.data() + kShortSize);

  EXPECT_EQ(OpenStorage("/nonexistent/kestrine*s1*eu*k", args), nullptr);
  EXPECT_EQ(std::vector<uint8_t>(memory.data(), memory.data() + kShortSize), before);
  SetCascError(0);
  args->productCode = "s2";
  EXPECT_EQ(OpenStorage("/nonexistent/kestrine*s1", args), nullptr);
  EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
}

// ---- CloseStorage ----

TEST(CloseStorageTest, RefusesInvalidHandlesWithError87) {
  char wrongSignature[16] = "CASCFIND";
  char shortSignature[16] = "CASCSTO";
  for (StorageHandle handle :
       {static_cast<StorageHandle>(nullptr), reinterpret_cast<StorageHandle>(~uintptr_t{0}),
        reinterpret_cast<StorageHandle>(wrongSignature),
        reinterpret_cast<StorageHandle>(shortSignature)}) {
    SetCascError(0);
    EXPECT_FALSE(CloseStorage(handle));
    EXPECT_EQ(GetCascError(), kErrorInvalidParameter);
  }
}

}  // namespace
}  // namespace kestrine
