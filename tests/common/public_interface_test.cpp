// The words for the error numbers and the version, as the public header and
// the library give them.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "kestrine.h"

namespace kestrine {
namespace {

// Every error number the header defines, read from the header itself, so
// that a number added without its words fails here.
std::vector<std::pair<std::string, uint32_t>> HeaderErrorNumbers() {
  std::ifstream header(std::string(KESTRINE_SOURCE_DIR) + "/include/kestrine.h");
  const std::regex define(R"(^#define (KESTRINE_ERROR_\w+) (\d+))");
  std::vector<std::pair<std::string, uint32_t>> numbers;
  std::smatch match;
  for (std::string line; std::getline(header, line);) {
    if (std::regex_search(line, match, define)) {
      numbers.emplace_back(match[1], static_cast<uint32_t>(std::stoul(match[2])));
    }
  }
  return numbers;
}

TEST(ErrorTextTest, EveryNumberTheLibraryReportsHasItsOwnWords) {
  const auto numbers = HeaderErrorNumbers();
  ASSERT_GE(numbers.size(), 22u);
  std::set<std::string> texts;
  for (const auto& [name, number] : numbers) {
    const std::string text = ErrorText(number);
    EXPECT_NE(text, "unknown error") << name;
    EXPECT_FALSE(text.empty()) << name;
    EXPECT_TRUE(texts.insert(text).second) << name << " shares \"" << text << "\"";
  }
  // The numbers the storage, the online layer and the OS wrapper use, as
  // the C++ code names them.
  for (uint32_t number : {kErrorSuccess,
                          kErrorFileNotFound,
                          kErrorPathNotFound,
                          kErrorTooManyOpenFiles,
                          kErrorAccessDenied,
                          kErrorInvalidHandle,
                          kErrorNotEnoughMemory,
                          kErrorBadFormat,
                          kErrorHandleEof,
                          kErrorNotSupported,
                          kErrorInvalidParameter,
                          kErrorDiskFull,
                          kErrorInsufficientBuffer,
                          kErrorAlreadyExists,
                          kErrorCanNotComplete,
                          kErrorBlockReadFailed,
                          kErrorIoDevice,
                          kErrorCancelled,
                          kErrorFileCorrupt,
                          kErrorNetworkUnreachable,
                          kErrorUnknownFileKey,
                          kErrorHostNotFound}) {
    EXPECT_STRNE(ErrorText(number), "unknown error") << number;
  }
}

TEST(ErrorTextTest, NamesTheCommonOnesAndNothingElse) {
  EXPECT_STREQ(ErrorText(2), "file not found");
  EXPECT_STREQ(ErrorText(11), "bad format");
  EXPECT_STREQ(ErrorText(1392), "file corrupt");
  // 1011 passes between the root loaders and the open only.
  for (uint32_t number : {1u, 7u, 1011u, 4242u, 0xFFFFFFFFu}) {
    EXPECT_STREQ(ErrorText(number), "unknown error") << number;
  }
}

TEST(VersionTest, HeaderLibraryAndBuildAgree) {
  EXPECT_EQ(LibraryVersion(), KESTRINE_VERSION_NUMBER);
  EXPECT_STREQ(LibraryVersionString(), KESTRINE_VERSION_STRING);
  const std::string parts = std::to_string(KESTRINE_VERSION_MAJOR) + "." +
                            std::to_string(KESTRINE_VERSION_MINOR) + "." +
                            std::to_string(KESTRINE_VERSION_PATCH);
  EXPECT_EQ(parts, KESTRINE_VERSION_STRING);
  EXPECT_EQ(KESTRINE_VERSION_NUMBER >> 16, static_cast<uint32_t>(KESTRINE_VERSION_MAJOR));
  EXPECT_EQ((KESTRINE_VERSION_NUMBER >> 8) & 0xFF, static_cast<uint32_t>(KESTRINE_VERSION_MINOR));
  EXPECT_EQ(KESTRINE_VERSION_NUMBER & 0xFF, static_cast<uint32_t>(KESTRINE_VERSION_PATCH));
  EXPECT_EQ(KESTRINE_PROJECT_VERSION, parts) << "CMake's project(VERSION) differs";
}

}  // namespace
}  // namespace kestrine
