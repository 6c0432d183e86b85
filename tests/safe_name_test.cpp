#include "extract/safe_name.h"

#include <gtest/gtest.h>

namespace {

TEST(IsSafeRelativePath, AcceptsOrdinaryNamesAndHarmlessSeparators) {
  for (const char* name :
       {"a.txt", "\\a.txt", "art\\ui\\x.png", "sound/fx\\boom.wav", "a\\\\b.txt", "..a", "a..b",
        ".hidden", "CONSOLE.txt", "com10", "LPT0.dat", "my file.txt", "x"}) {
    EXPECT_TRUE(IsSafeRelativePath(name, true)) << name;
  }
}

TEST(IsSafeRelativePath, RefusesNamesThatLeaveTheRootOrCannotBeFiles) {
  for (const char* name : {"..\\x",       "a/../../x", "..",       "C:\\x",   "C:x",
                           "a\\b:stream", "CON",       "con.txt",  "nul",     "sub\\NUL.tar.gz",
                           "COM1",        "lpt9.log",  "aux .txt", "name.",   "name ",
                           "dir.\\x",     "dir \\x",   ".",        "a\\.\\b", "",
                           "folder\\",    "\\",        "a<b",      "a|b",     "a?b",
                           "a*b",         "a\"b",      "tab\there"}) {
    EXPECT_FALSE(IsSafeRelativePath(name, true)) << name;
  }
}

TEST(IsSafeRelativePath, AnEmptyFolderPathIsFineWhereNoFileIsNamed) {
  EXPECT_TRUE(IsSafeRelativePath("", false));
  EXPECT_TRUE(IsSafeRelativePath("data", false));
  EXPECT_TRUE(IsSafeRelativePath("data\\", false));
  EXPECT_FALSE(IsSafeRelativePath("..", false));
  EXPECT_FALSE(IsSafeRelativePath("C:", false));
}

TEST(IsSafeRelativePath, RefusesNamesDeeperThanTheLimit) {
  std::string name = "file";
  for (size_t i = 1; i < kMaxNameComponents; ++i) name = "d\\" + name;
  EXPECT_TRUE(IsSafeRelativePath(name, true));
  EXPECT_FALSE(IsSafeRelativePath("d/" + name, true));
  EXPECT_FALSE(IsSafeRelativePath(std::string(kMaxNameComponents, '\\') + "x", true));
}

}  // namespace
