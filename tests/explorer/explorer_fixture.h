// What the explorer tests share: a scratch folder, a way to run
// kestrine-casc in it, and the lines `list` is expected to print, computed
// from what the testkit wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/hex_key.h"
#include "testkit/build_files.h"
#include "tests/explorer/explorer_process.h"

namespace kestrine::test {

inline constexpr uint64_t kSizeUnknown = ~uint64_t{0};
inline constexpr uint32_t kNoFileId = 0xFFFFFFFF;

// One line of `list`.
struct Listed {
  std::string name;
  uint64_t size = kSizeUnknown;
  uint32_t nameType = 0;
  uint32_t fileId = kNoFileId;
};

// "name\tsize\ttype\tid\n" per file, "-" for an unknown size or no id.
std::string ListText(const std::vector<Listed>& files);

// The generated name of a key: lower-case hex.
std::string KeyName(const Key16& key);

// Bytes as the text a run's output is compared with.
inline std::string Text(const std::vector<uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

// "FILE%08X.dat".
std::string FileIdName(uint32_t id);

class ExplorerTest : public ::testing::Test {
 protected:
  ExplorerRun Run(const std::vector<std::string>& args) { return RunExplorer(args, temp_.path()); }
  std::string Path(const std::string& name) const { return temp_ / name; }

  testkit::TempFolder temp_;
};

}  // namespace kestrine::test
