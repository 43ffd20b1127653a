#include "testkit/name_index.h"

namespace kestrine::testkit {

std::vector<std::string> OddNameIndexLines() {
  return {"no bar on this line", "|starts/with/a/bar", "", "   "};
}

std::vector<uint8_t> WriteNameIndex(const NameIndex& index) {
  std::string text;
  auto line = [&](const std::string& content) { text += content + index.lineBreak; };
  for (const std::string& odd : index.oddLines) line(odd);
  for (const std::string& path : index.paths) line(path + "|" + index.tail);
  if (!index.finalBreak && text.ends_with(index.lineBreak)) {
    text.resize(text.size() - index.lineBreak.size());
  }
  return {text.begin(), text.end()};
}

}  // namespace kestrine::testkit
