#include "storage/text_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testkit/build_files.h"

namespace kestrine {
namespace {

using testkit::TableText;

size_t Slot(std::string_view name) {
  return ColumnNameHash(name) % TextTable::kIndexSlots;
}

std::vector<std::string_view> Fields(const TableRow& row) {
  return {row.fields.begin(), row.fields.begin() + row.fieldCount};
}

TEST(TextTableTest, ColumnNamesLandInTheirKnownSlots) {
  EXPECT_EQ(Slot(""), 110u);
  EXPECT_EQ(Slot("Active!DEC:1"), 26u);
  EXPECT_EQ(Slot("Product!STRING:0"), 79u);
  EXPECT_EQ(Slot("Build Key!HEX:16"), 68u);
  EXPECT_EQ(Slot("Region!STRING:0"), 81u);
  EXPECT_EQ(Slot("Path!STRING:0"), 104u);
}

TEST(TextTableTest, ReadsHeaderAndRowsAcrossLineBreakStyles) {
  // A leading '#', CR LF, runs of line breaks and a trailing empty field.
  std::string text = "#A|B|C\r\n\r\n1|2|3\n\n\r4||\r\n";
  TextTable table;
  ASSERT_TRUE(table.Load(text, true, true));
  EXPECT_EQ(std::vector<std::string_view>(table.columns().begin(), table.columns().end()),
            (std::vector<std::string_view>{"A", "B", "C"}));
  ASSERT_EQ(table.rows().size(), 2u);
  EXPECT_EQ(Fields(table.rows()[1]), (std::vector<std::string_view>{"4", "", ""}));
  EXPECT_EQ(GetColumn(table.rows()[0], "B"), "2");
  // Lookups match the whole header text, case included.
  EXPECT_EQ(GetColumn(table.rows()[0], "b"), "");
  EXPECT_EQ(GetColumn(table.rows()[0], "D"), "");
}

TEST(TextTableTest, SkipsLinesThatDoNotFit) {
  std::string wide(31, '|');  // 32 fields: never a header nor a row
  std::string text = wide + "\nA|B\n1\n2|3|4\n5|6\n" + wide + "\n7|8\n";
  TextTable table;
  ASSERT_TRUE(table.Load(text, true, true));
  ASSERT_EQ(table.columns().size(), 2u);
  ASSERT_EQ(table.rows().size(), 2u);
  EXPECT_EQ(GetColumn(table.rows()[0], "A"), "5");
  EXPECT_EQ(GetColumn(table.rows()[1], "B"), "8");

  EXPECT_FALSE(table.Load(wide + "\n", true, true));
  EXPECT_FALSE(table.Load("\r\n\n", true, true));
  EXPECT_FALSE(table.Load("", true, false));
}

TEST(TextTableTest, StopsAtTheFirstNulAndAtTheRowCapacity) {
  std::string text = std::string("A\n1\n\0\n2\n", 8);
  TextTable table;
  ASSERT_TRUE(table.Load(text, true, true));
  EXPECT_EQ(table.rows().size(), 1u);

  TableText many{{"N"}, {}};
  for (int i = 0; i < 70; ++i) many.rows.push_back({std::to_string(i)});
  std::string manyText = testkit::FormatTable(many);
  ASSERT_TRUE(table.Load(manyText, true, true));
  ASSERT_EQ(table.rows().size(), TextTable::kDefaultRowCapacity);
  EXPECT_EQ(GetColumn(table.rows().back(), "N"), "63");
  ASSERT_TRUE(table.Load(manyText, true, true, 3));
  EXPECT_EQ(table.rows().size(), 3u);
}

TEST(TextTableTest, HeaderlessTablesKeepEveryLineAndHaveNoColumns) {
  TextTable table;
  ASSERT_TRUE(table.Load("a|b|c\nd\n", false, true));
  ASSERT_EQ(table.rows().size(), 2u);
  EXPECT_EQ(Fields(table.rows()[0]), (std::vector<std::string_view>{"a", "b", "c"}));
  EXPECT_EQ(GetColumn(table.rows()[0], "a"), "");
}

// Names whose hashes share a slot are found by probing on, past slot 127.
TEST(TextTableTest, CollidingColumnNamesAreAllFound) {
  std::vector<std::string> names;
  for (int i = 0; names.size() < 3; ++i) {
    std::string name = "Column" + std::to_string(i);
    if (Slot(name) == 127) names.push_back(name);
  }
  TableText text{{names[0], names[1], names[2]}, {{"x", "y", "z"}}};
  std::string data = testkit::FormatTable(text);
  TextTable table;
  ASSERT_TRUE(table.Load(data, true, true));
  EXPECT_EQ(table.slot(127), 0);
  EXPECT_EQ(table.slot(0), 1);
  EXPECT_EQ(table.slot(1), 2);
  const TableRow& row = table.rows()[0];
  EXPECT_EQ(GetColumn(row, names[0]), "x");
  EXPECT_EQ(GetColumn(row, names[1]), "y");
  EXPECT_EQ(GetColumn(row, names[2]), "z");
}

TEST(TextTableTest, TableFilesMustHoldOneByteTo32MiB) {
  testkit::TempFolder folder;
  std::vector<char> text;
  testkit::WriteTextFile(folder / "t", "A|B\n1|2\n");
  ASSERT_EQ(ReadTableFile(folder / "t", text), kErrorSuccess);
  EXPECT_EQ(std::string(text.data(), text.size()), std::string("A|B\n1|2\n\0", 9));

  testkit::WriteTextFile(folder / "empty", "");
  EXPECT_EQ(ReadTableFile(folder / "empty", text), kErrorBadFormat);
  testkit::WriteTextFile(folder / "big", "A");
  std::filesystem::resize_file(folder / "big", kMaxTableFileSize + 1);
  EXPECT_EQ(ReadTableFile(folder / "big", text), kErrorBadFormat);
  EXPECT_EQ(ReadTableFile(folder / "missing", text), kErrorFileNotFound);
}

}  // namespace
}  // namespace kestrine
