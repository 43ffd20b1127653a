// Writes the demo installation that `make demo` imports.
// Usage: write_demo_installation FOLDER
#include <cstdio>
#include <filesystem>
#include <string>

#include "testkit/installation.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: write_demo_installation FOLDER\n", stderr);
    return 1;
  }
  using namespace kestrine::testkit;
  InstallationSpec spec;
  spec.products[0].product = "s1";
  spec.products[0].version = "1.23.10.12345";
  spec.products[0].cdnPath = "tpr/sc1live";
  for (uint32_t i = 0; i < 8; ++i) {
    std::string content = "demo file " + std::to_string(i);
    spec.files.push_back({KeyFromSeed(5000 + i), {content.begin(), content.end()}});
  }
  Installation installation = WriteInstallation(argv[1], spec);
  std::printf("Demo installation written to %s\n", installation.root.string().c_str());
  return 0;
}
