// Writes the demo installation that `make demo` imports and, when asked, the
// bundle the import must produce from it. Prints what the installation holds
// and which classic assets the bundle must have, by folder.
// Usage: write_demo_installation FOLDER [EXPECTED_BUNDLE]
#include <cstdio>
#include <map>
#include <string>

#include "testkit/demo_installation.h"
#include "testkit/index_files.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fputs("Usage: write_demo_installation FOLDER [EXPECTED_BUNDLE]\n", stderr);
    return 1;
  }
  using namespace kestrine::testkit;
  DemoInstallation demo = WriteDemoInstallation(argv[1]);
  if (argc == 3 && !WriteFileBytes(argv[2], BundleBytes(demo.records))) {
    std::fprintf(stderr, "Cannot write %s\n", argv[2]);
    return 1;
  }
  std::map<std::string, size_t> perFolder;
  for (const DemoRecord& record : demo.records) {
    ++perFolder[record.name.substr(0, record.name.find('/'))];
  }
  std::printf("%zu names in the root, %zu of them classic assets (%.1f MiB):\n",
              demo.storageNameCount, demo.records.size(), demo.contentBytes / 1048576.0);
  for (const auto& [folder, count] : perFolder) std::printf("  %-9s %zu\n", folder.c_str(), count);
  return 0;
}
