#include "tests/explorer/explorer_fixture.h"

#include <cctype>
#include <cstdio>

namespace kestrine::test {

std::string ListText(const std::vector<Listed>& files) {
  std::string text;
  for (const Listed& file : files) {
    text += file.name + "\t";
    text += file.size == kSizeUnknown ? "-" : std::to_string(file.size);
    text += "\t" + std::to_string(file.nameType) + "\t";
    text += file.fileId == kNoFileId ? "-" : std::to_string(file.fileId);
    text += "\n";
  }
  return text;
}

std::string KeyName(const Key16& key) {
  std::string name = testkit::KeyText(key);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

std::string FileIdName(uint32_t id) {
  char name[32];
  std::snprintf(name, sizeof name, "FILE%08X.dat", id);
  return name;
}

}  // namespace kestrine::test
