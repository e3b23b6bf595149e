#include "TarTestUtil.h"
#include "base/Messages.h"
#include "tar/TarWriter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <sys/stat.h>
#include <utime.h>

using namespace zv;
using zvtest::ReadFile;
using zvtest::TempDir;
using zvtest::WriteFile;

namespace {

std::string Field(const std::string& archive, std::size_t off, std::size_t len) { return archive.substr(off, len); }

std::string Octal(std::uint64_t v) {
  std::ostringstream s;
  s << std::oct << v;
  return s.str();
}

} // namespace

TEST(TarWriter, ThreeByteFileGivesTheUstarHeaderLayout) {
  TempDir dir;
  WriteFile(dir / "a.txt", "abc");
  const ::utimbuf times{1600000000, 1600000000};
  ASSERT_EQ(::utime((dir / "a.txt").c_str(), &times), 0);
  {
    TTarWriter w(dir / "out.tar");
    w.AddFile(dir / "a.txt", "a.txt");
    w.Finish();
  }
  const std::string t = ReadFile(dir / "out.tar");
  ASSERT_EQ(t.size(), 1536u);
  EXPECT_EQ(Field(t, 0, 100), std::string("a.txt") + std::string(95, '\0'));
  EXPECT_EQ(Field(t, 100, 8), std::string("   777 \0", 8));
  EXPECT_EQ(Field(t, 108, 8), std::string("     0 \0", 8));
  EXPECT_EQ(Field(t, 116, 8), std::string("     0 \0", 8));
  EXPECT_EQ(Field(t, 124, 12), std::string(10, ' ') + "3 ");
  EXPECT_EQ(Field(t, 136, 12), Octal(1600000000) + " "); // eleven digits, no blank in front
  EXPECT_EQ(t[156], '0');
  EXPECT_EQ(Field(t, 157, 100), std::string(100, '\0'));
  EXPECT_EQ(Field(t, 257, 8), "ustar   ");
  EXPECT_EQ(Field(t, 265, 64), std::string(64, '\0'));
  EXPECT_EQ(Field(t, 329, 8), std::string("     0 \0", 8));
  EXPECT_EQ(Field(t, 337, 8), std::string("     0 \0", 8));
  EXPECT_EQ(Field(t, 345, 167), std::string(167, '\0'));
  // Checksum over the first 345 bytes with the field as blanks, short octal form.
  unsigned sum = 0;
  for (int i = 0; i < 345; ++i) sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(t[i]);
  const std::string digits = Octal(sum);
  EXPECT_EQ(Field(t, 148, 8), std::string(6 - digits.size(), ' ') + digits + std::string(" \0", 2));
  EXPECT_EQ(Field(t, 512, 512), "abc" + std::string(509, '\0'));
  EXPECT_EQ(Field(t, 1024, 512), std::string(512, '\0'));
}

TEST(TarWriter, DataTakesWholeBlocks) {
  TempDir dir;
  const struct {
    std::size_t size;
    std::size_t archiveSize;
  } cases[] = {{0, 1024},    {1, 1536},     {511, 1536},          {512, 1536},
               {513, 2048},  {5000, 512 + 10 * 512 + 512},
               // Files are read in pieces of 64 KiB.
               {65536, 512 + 65536 + 512}, {65537, 512 + 65536 + 512 + 512}, {150001, 512 + 150016 + 512}};
  for (const auto& c : cases) {
    for (const bool fromFile : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.size << (fromFile ? " from a file" : " from a stream"));
      const std::string data = zvtest::Pattern(c.size, static_cast<unsigned>(c.size));
      {
        TTarWriter w(dir / "x.tar");
        if (fromFile) {
          WriteFile(dir / "x.bin", data);
          w.AddFile(dir / "x.bin", "x.bin");
        } else {
          std::istringstream in(data);
          w.AddStream(in, "x.bin", UnixToDateTime(1000));
        }
      }
      const std::string t = ReadFile(dir / "x.tar");
      ASSERT_EQ(t.size(), c.archiveSize);
      EXPECT_EQ(t.substr(512, c.size), data);
      EXPECT_EQ(t.find_first_not_of('\0', 512 + c.size), std::string::npos);
      const auto entries = zvtest::ReadAll(dir / "x.tar");
      ASSERT_EQ(entries.size(), 1u);
      EXPECT_EQ(entries[0].Data, data);
    }
  }
}

TEST(TarWriter, StreamIsAddedFromItsCurrentPosition) {
  TempDir dir;
  std::istringstream in("skipped|kept");
  in.seekg(8);
  {
    TTarWriter w(dir / "s.tar");
    w.AddStream(in, "s", UnixToDateTime(0));
  }
  const auto e = zvtest::ReadAll(dir / "s.tar");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].Data, "kept");
}

TEST(TarWriter, NamesUpTo100BytesAreKeptLongerOnesRefused) {
  TempDir dir;
  const std::string name100(100, 'n');
  const std::string name101 = std::string(100, 'n') + "X";
  TTarWriter w(dir / "n.tar");
  std::istringstream a("a");
  w.AddStream(a, name100, UnixToDateTime(0));
  std::istringstream b("b");
  try {
    w.AddStream(b, name101, UnixToDateTime(0));
    FAIL() << "a 101-byte name was accepted";
  } catch (const ETarError& e) {
    EXPECT_NE(std::string(e.what()).find(name101), std::string::npos) << e.what();
  }
  EXPECT_THROW(w.AddDirectory(name101 + "/", UnixToDateTime(0)), ETarError);
  std::istringstream c("c");
  EXPECT_THROW(w.AddStream(c, "", UnixToDateTime(0)), ETarError); // would read as the end of the archive
  w.Finish();
  const std::string t = ReadFile(dir / "n.tar");
  EXPECT_EQ(t.size(), 1536u); // the refused entries left nothing behind
  EXPECT_EQ(t.substr(0, 100), name100);
  EXPECT_EQ(t[100], ' '); // no terminator: the mode field follows directly
  const auto e = zvtest::ReadAll(dir / "n.tar");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].Rec.Name, name100);
}

TEST(TarWriter, BackslashesBecomeSlashesOnlyForDerivedFileNames) {
  TempDir dir;
  WriteFile(dir / "set\\x.png", "png");
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  {
    TTarWriter w("b.tar");
    w.AddFile("set\\x.png");
    w.AddFile("set\\x.png", "kept\\as given");
    w.AddDirectory("dir\\", UnixToDateTime(0));
  }
  std::filesystem::current_path(old);
  const auto e = zvtest::ReadAll(dir / "b.tar");
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].Rec.Name, "set/x.png");
  EXPECT_EQ(e[0].Data, "png");
  EXPECT_EQ(e[1].Rec.Name, "kept\\as given");
  EXPECT_EQ(e[2].Rec.Name, "dir\\");
  EXPECT_EQ(e[2].Rec.FileType, TTarFileType::ftDirectory);
}

TEST(TarWriter, DirectoryEntryCarriesItsSizeButNoData) {
  TempDir dir;
  const std::int64_t huge = std::int64_t{1} << 34; // needs the base-256 form
  {
    TTarWriter w(dir / "d.tar");
    w.AddDirectory("d/", UnixToDateTime(5), 1234);
    w.AddDirectory("big/", UnixToDateTime(5), huge);
    std::istringstream in("after");
    w.AddStream(in, "after", UnixToDateTime(5));
  }
  const std::string t = ReadFile(dir / "d.tar");
  ASSERT_EQ(t.size(), 5u * 512);
  EXPECT_EQ(t[156], '5');
  EXPECT_EQ(Field(t, 124, 12), std::string(7, ' ') + "2322 ");
  EXPECT_EQ(static_cast<unsigned char>(t[512 + 124]), 0x80);
  const auto e = zvtest::ReadAll(dir / "d.tar");
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].Rec.Size, 1234);
  EXPECT_EQ(e[1].Rec.Size, huge);
  EXPECT_EQ(e[2].Data, "after");
}

TEST(TarWriter, ModificationTimes) {
  TempDir dir;
  const struct {
    std::int64_t seconds;
    std::int64_t stored;
  } cases[] = {{0, 0}, {1, 1}, {1600000000, 1600000000}, {-1, 0}, {-2209161600, 0}, {2147483647, 2147483647},
               {2147483648, 2147483648}, {4102444800, 4102444800}, {8589934591, 8589934591}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    {
      TTarWriter w(dir / "m.tar");
      w.AddDirectory("d/", UnixToDateTime(c.seconds));
    }
    const std::string t = ReadFile(dir / "m.tar");
    const std::string digits = Octal(static_cast<std::uint64_t>(c.stored));
    EXPECT_EQ(Field(t, 136, 12), std::string(11 - digits.size(), ' ') + digits + " ");
    const auto e = zvtest::ReadAll(dir / "m.tar");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(DateTimeToUnix(e[0].Rec.ModTime), c.stored);
  }
}

TEST(TarWriter, WholeSecondsSurviveTheDateTimeRoundTrip) {
  for (std::int64_t s : {std::int64_t{0}, std::int64_t{1}, std::int64_t{-1}, std::int64_t{59}, std::int64_t{86399},
                         std::int64_t{1041808783}, std::int64_t{1600000001}, std::int64_t{4102444799},
                         std::int64_t{-2208988800}, std::int64_t{253402300799}})
    EXPECT_EQ(DateTimeToUnix(UnixToDateTime(s)), s) << s;
  for (std::int64_t s = 1700000000; s < 1700000000 + 100000; s += 7) ASSERT_EQ(DateTimeToUnix(UnixToDateTime(s)), s);
  EXPECT_EQ(DateTimeToUnix(UnixToDateTime(10) + 0.9 / 86400), 10); // truncated, not rounded up
  EXPECT_EQ(DateTimeToUnix(UnixToDateTime(-10) - 0.9 / 86400), -10);
  EXPECT_DOUBLE_EQ(UnixToDateTime(0), 25569.0);
}

TEST(TarWriter, FileErrors) {
  TempDir dir;
  try {
    TTarWriter w(dir / "missing/out.tar");
    FAIL();
  } catch (const EFileError& e) {
    EXPECT_EQ(std::string(e.what()), msg::CannotCreateFile(dir / "missing/out.tar"));
  }
  TTarWriter w(dir / "out.tar");
  try {
    w.AddFile(dir / "nothing.txt");
    FAIL();
  } catch (const EFileError& e) {
    EXPECT_EQ(std::string(e.what()), msg::CannotOpenFile(dir / "nothing.txt"));
  }
  EXPECT_THROW(w.AddFile(dir.Path()), EFileError); // a directory is no file
  // Nor is a pipe; opening it must not wait for a writer.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_THROW(w.AddFile(dir / "pipe"), EFileError);
}

TEST(TarWriter, FailedWritesAreReportedWithTheSystemReason) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::string reason = std::strerror(ENOSPC);
  auto expectReported = [&](auto&& action) {
    try {
      action();
      FAIL() << "the write failure went unreported";
    } catch (const ETarError& e) {
      const std::string msg = e.what();
      EXPECT_NE(msg.find("/dev/full"), std::string::npos) << msg;
      EXPECT_NE(msg.find(reason), std::string::npos) << msg;
    }
  };
  expectReported([] {
    TTarWriter w("/dev/full");
    w.AddDirectory("d/", UnixToDateTime(0));
  });
  expectReported([] {
    TTarWriter w("/dev/full");
    std::istringstream in(std::string(100000, 'x'));
    w.AddStream(in, "big", UnixToDateTime(0));
  });
  expectReported([] {
    TTarWriter w("/dev/full");
    w.Finish();
  });
  { TTarWriter quiet("/dev/full"); } // the destructor swallows the failure
}

TEST(TarWriter, DestructorFinishesTheArchive) {
  TempDir dir;
  {
    TTarWriter w(dir / "a.tar");
    w.AddDirectory("d/", UnixToDateTime(0));
  }
  {
    TTarWriter w(dir / "b.tar");
    w.AddDirectory("d/", UnixToDateTime(0));
    w.Finish();
    w.Finish(); // a second call writes nothing more
  }
  EXPECT_EQ(ReadFile(dir / "a.tar"), ReadFile(dir / "b.tar"));
  EXPECT_EQ(ReadFile(dir / "a.tar").size(), 1024u);
}
