// Writer of the "index" name map that storages marked by
// "data\.build.config" keep beside their TVFS root: "path|rest" lines, with
// the odd lines a reader must pass over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrine::testkit {

struct NameIndex {
  std::vector<std::string> paths;  // one "path|tail" line each
  std::string tail = "0";          // what follows the "|"
  std::string lineBreak = "\n";    // after every line ("\r\n", "\r", ...)
  // Lines written before the paths as they are: no "|", "|" first, empty.
  std::vector<std::string> oddLines;
  bool finalBreak = true;  // false: the last line ends the text
};

std::vector<uint8_t> WriteNameIndex(const NameIndex& index);

// The lines that make every odd case of the format.
std::vector<std::string> OddNameIndexLines();

}  // namespace kestrine::testkit
