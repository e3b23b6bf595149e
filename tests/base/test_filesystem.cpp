#include "base/Errors.h"
#include "base/FileSystem.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace zv;

namespace {

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

} // namespace

// Both readers share one loop over 64 KiB blocks: the cases sit on and
// across a block's end.
TEST(FileSystem, WholeFileAndTextUpToNul) {
  zvtest::TempDir dir;
  const std::string big(70000, 'x');
  const std::string exact(1 << 16, 'y');
  struct Case {
    std::string bytes, whole, untilNul;
  } cases[] = {
      {"", "", ""},
      {std::string("ab\0cd", 5), std::string("ab\0cd", 5), "ab"},
      {std::string("\0z", 2), std::string("\0z", 2), ""},
      {big, big, big},
      {exact, exact, exact},
      {big + std::string(1, '\0') + "tail", big + std::string(1, '\0') + "tail", big},
  };
  for (const Case& c : cases) {
    const std::string path = dir / "f.bin";
    zvtest::WriteFile(path, c.bytes);
    EXPECT_EQ(Text(ReadWholeFile(path)), c.whole);
    EXPECT_EQ(Text(ReadFileUntilNul(path)), c.untilNul);
  }
  EXPECT_THROW(ReadWholeFile(dir / "missing"), Error);
  EXPECT_THROW(ReadFileUntilNul(dir / "missing"), Error);
}
