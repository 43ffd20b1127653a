// Writes the installation the C interface test reads: a local storage with a
// plain-text root naming three files, and beside it, under "expected/", each
// file's content as plain bytes for the test to compare with.
// Usage: write_c_api_installation FOLDER
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "testkit/demo_installation.h"
#include "testkit/index_files.h"

namespace {

using namespace kestrine::testkit;

struct NamedContent {
  const char* storageName;   // as the root names it
  const char* expectedName;  // its bytes below "expected/"
  std::vector<uint8_t> content;
};

std::vector<uint8_t> Counting(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed;
  for (uint8_t& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>((state >> 16) % 7 == 0 ? state >> 24 : 'a' + (state >> 16) % 26);
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: write_c_api_installation FOLDER\n", stderr);
    return 1;
  }
  const std::filesystem::path root = argv[1];
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);

  const std::string greeting = "Hello from the storage.\n";
  std::vector<NamedContent> files = {
      {"SD\\Text\\Greeting.txt", "greeting", {greeting.begin(), greeting.end()}},
      // Several 64 KiB frames, so that a read crosses frame boundaries.
      {"SD\\Data\\Large.bin", "large", Counting(200000, 7)},
      {"SD\\Data\\Empty.bin", "empty", {}},
  };

  InstallationPlan layout;
  layout.products[0].product = "s1";
  layout.products[0].version = "1.23.10.12345";
  layout.products[0].cdnPath = "tpr/sc1live";
  PlainTextRoot plainRoot;
  uint32_t seed = 1;
  for (const NamedContent& file : files) {
    AddNamedFile(layout, plainRoot, file.storageName,
                 EncodeDemoContent(file.content, false, seed++));
  }
  layout.rootFile = WritePlainTextRoot(plainRoot);
  WriteInstallation(root / "game", layout);

  std::filesystem::create_directories(root / "expected");
  for (const NamedContent& file : files) {
    if (!WriteFileBytes((root / "expected" / file.expectedName).string(), file.content)) {
      std::fprintf(stderr, "Cannot write %s\n", file.expectedName);
      return 1;
    }
  }
  return 0;
}
