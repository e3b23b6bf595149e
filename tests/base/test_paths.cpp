#include "base/Paths.h"

#include <gtest/gtest.h>

using namespace zv;

TEST(Paths, ExtensionFollowsTheLastSeparator) {
  EXPECT_EQ(ExtractFileExt("/data/north.map"), ".map");
  EXPECT_EQ(ExtractFileExt("/data.dir/north"), "");
  EXPECT_EQ(ExtractFileExt("north"), "");
  EXPECT_EQ(ExtractFileExt("a.b.JPEG"), ".JPEG");
  EXPECT_EQ(UpperFileExt("x/photo.jpeg"), ".JPEG");
}

TEST(Paths, NameAndDirectoryParts) {
  EXPECT_EQ(ExtractFileName("/data/north.map"), "north.map");
  EXPECT_EQ(ExtractFilePath("/data/north.map"), "/data/");
  EXPECT_EQ(ExtractFilePath("north.map"), "");
  EXPECT_EQ(ExtractFileNameWithoutExt("/data/north.v2.map"), "north.v2");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/data"), "/data/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/data/"), "/data/");
}

TEST(Paths, UpperCaseFoldsAsciiOnly) {
  EXPECT_EQ(UpperCaseAscii("abc\xe1z"), "ABC\xe1Z");
  EXPECT_TRUE(SameTextAscii("default", "Default"));
  EXPECT_FALSE(SameTextAscii("\xe1", "\xc1"));
}
