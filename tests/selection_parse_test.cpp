#include "ui/selection_parse.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A buffer as the dialog leaves it: the result, then zero bytes to the end.
std::vector<char> DialogResult(const std::string& result) {
  std::vector<char> buffer(kSelectionBufferSize, 0);
  std::memcpy(buffer.data(), result.data(), result.size());
  return buffer;
}

Selection Parse(const std::string& result) {
  std::vector<char> buffer = DialogResult(result);
  return ParseSelection(buffer);
}

using Names = std::vector<std::string>;

TEST(ParseSelection, OneFile) {
  const Selection one = Parse(std::string("C:\\Games\\Data\\a.wza\0", 21));
  EXPECT_EQ(one.folder, "C:\\Games\\Data\\");
  EXPECT_EQ(one.names, Names{"a.wza"});
}

TEST(ParseSelection, SeveralFilesInAFolder) {
  const Selection several = Parse(std::string("C:\\Games\\Data\0a.wza\0b.big\0\0", 27));
  EXPECT_EQ(several.folder, "C:\\Games\\Data\\");
  EXPECT_EQ(several.names, (Names{"a.wza", "b.big"}));
}

TEST(ParseSelection, DriveRoots) {
  const Selection several = Parse(std::string("D:\\\0a.wza\0b.big\0\0", 17));
  EXPECT_EQ(several.folder, "D:\\");
  EXPECT_EQ(several.names, (Names{"a.wza", "b.big"}));
  const Selection one = Parse(std::string("D:\\a.wza\0", 9));
  EXPECT_EQ(one.folder, "D:\\");
  EXPECT_EQ(one.names, Names{"a.wza"});
}

TEST(ParseSelection, OneLetterNames) {
  EXPECT_EQ(Parse(std::string("C:\\d\\x\0", 7)).names, Names{"x"});
  const Selection several = Parse(std::string("C:\\d\0x\0y\0z\0\0", 12));
  EXPECT_EQ(several.folder, "C:\\d\\");
  EXPECT_EQ(several.names, (Names{"x", "y", "z"}));
}

TEST(ParseSelection, TheLargestSelectionThatFits) {
  // Names of 8 characters until the buffer has room for just the closing zero bytes.
  std::string result = "C:\\Archives";
  result.push_back('\0');
  Names expected;
  while (result.size() + 10 <= kSelectionBufferSize - 1) {
    char name[16];
    std::snprintf(name, sizeof name, "%04zu.big", expected.size());
    expected.push_back(name);
    result += name;
    result.push_back('\0');
  }
  std::vector<char> buffer = DialogResult(result);
  const Selection selection = ParseSelection(buffer);
  EXPECT_EQ(selection.folder, "C:\\Archives\\");
  EXPECT_EQ(selection.names, expected);
}

TEST(ParseSelection, StaysInsideABufferWithoutItsClosingZeros) {
  // Whatever the dialog leaves, nothing outside the buffer is read or written.
  std::vector<char> full(kSelectionBufferSize, 'a');
  full[5] = '\\';
  const Selection garbage = ParseSelection(full);
  EXPECT_EQ(garbage.folder, "aaaaa\\");
  std::vector<char> tiny = {'\\', 'x'};
  EXPECT_TRUE(ParseSelection(tiny).names.empty());
  std::vector<char> ending(kSelectionBufferSize, 0);
  ending[kSelectionBufferSize - 2] = '\\';
  ending[kSelectionBufferSize - 1] = 'x';
  EXPECT_NO_FATAL_FAILURE(ParseSelection(ending));
}

}  // namespace
