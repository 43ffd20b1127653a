#include <cstdio>

#include "tool/import_driver.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("Usage: kestrine INSTALL_DIRECTORY OUTPUT_BUNDLE\n", stderr);
    return 1;
  }
  return kestrine::ImportClassicAssets(argv[1], argv[2]);
}
