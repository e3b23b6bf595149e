#include "TarTestUtil.h"
#include "base/Messages.h"
#include "tar/TarWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace zv;
using zvtest::Entry;
using zvtest::ReadAll;
using zvtest::ReadFile;
using zvtest::TempDir;
using zvtest::TestData;
using zvtest::WriteFile;

namespace {

// One header block laid out by hand, so that the reader meets headers no
// writer of ours would make.
struct RawHeader {
  std::string Name = "f";
  char Type = '0';
  std::string Size = "0";
  std::string Magic = "ustar  "; // GNU form, with its zero byte
  std::string Prefix;
  std::string Link;

  RawHeader &WithName(std::string v) {
    Name = std::move(v);
    return *this;
  }
  RawHeader &WithType(char v) {
    Type = v;
    return *this;
  }
  RawHeader &WithSize(std::string v) {
    Size = std::move(v);
    return *this;
  }
  RawHeader &WithMagic(std::string v) {
    Magic = std::move(v);
    return *this;
  }
  RawHeader &WithPrefix(std::string v) {
    Prefix = std::move(v);
    return *this;
  }
  RawHeader &WithLink(std::string v) {
    Link = std::move(v);
    return *this;
  }

  std::string Block() const {
    std::string b(512, '\0');
    b.replace(0, std::min<std::size_t>(Name.size(), 100), Name.substr(0, 100));
    b.replace(100, 8, std::string("000644 \0", 8));
    b.replace(124, std::min<std::size_t>(Size.size(), 12), Size.substr(0, 12));
    b.replace(136, 12, "00000000000 ");
    b[156] = Type;
    b.replace(157, std::min<std::size_t>(Link.size(), 100), Link.substr(0, 100));
    b.replace(257, std::min<std::size_t>(Magic.size(), 8), Magic.substr(0, 8));
    b.replace(345, std::min<std::size_t>(Prefix.size(), 155), Prefix.substr(0, 155));
    b.replace(148, 8, "        ");
    unsigned sum = 0;
    for (unsigned char c : b)
      sum += c;
    char ck[8];
    std::snprintf(ck, sizeof ck, "%06o", sum);
    b.replace(148, 8, std::string(ck, 6) + std::string("\0 ", 2));
    return b;
  }
};

std::string Oct(std::size_t n) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%011zo", n);
  return buf;
}

std::string Padded(const std::string &data) { return data + std::string((512 - data.size() % 512) % 512, '\0'); }

std::string Pax(const std::vector<std::pair<std::string, std::string>> &records) {
  std::string out;
  for (const auto &[k, v] : records) {
    const std::string body = " " + k + "=" + v + "\n";
    std::size_t len = body.size() + 1;
    while (std::to_string(len).size() + body.size() != len)
      ++len;
    out += std::to_string(len) + body;
  }
  return out;
}

std::vector<std::string> Names(const std::vector<Entry> &entries) {
  std::vector<std::string> out;
  for (const auto &e : entries)
    out.push_back(e.Rec.Name);
  return out;
}

std::string WriteArchive(const TempDir &dir, const std::string &bytes) {
  const std::string path = dir / "t.tar";
  WriteFile(path, bytes);
  return path;
}

} // namespace

TEST(TarReader, ReadsBackTheWritersThreeByteFile) {
  TempDir dir;
  std::istringstream in("abc");
  {
    TTarWriter w(dir / "a.tar");
    w.AddStream(in, "a.txt", UnixToDateTime(1600000000));
  }
  TTarArchive tar(dir / "a.tar");
  EXPECT_EQ(tar.FileName(), dir / "a.tar");
  TTarDirRec rec;
  ASSERT_TRUE(tar.NextEntry(rec));
  EXPECT_EQ(rec.Name, "a.txt");
  EXPECT_EQ(rec.Size, 3);
  EXPECT_EQ(rec.FileType, TTarFileType::ftNormal);
  EXPECT_STREQ(FileTypeDisplayName(rec.FileType), "Regular");
  EXPECT_EQ(rec.Permissions, 0777);
  EXPECT_EQ(rec.ModeFlags, 0);
  EXPECT_EQ(rec.Magic, "ustar");
  EXPECT_TRUE(rec.ChecksumValid);
  EXPECT_EQ(rec.HeaderPos, 0);
  EXPECT_EQ(DateTimeToUnix(rec.ModTime), 1600000000);
  std::vector<std::uint8_t> dest{'>', '>'};
  tar.CopyEntryData(dest); // appends
  EXPECT_EQ(std::string(dest.begin(), dest.end()), ">>abc");
  tar.CopyEntryData(dest); // nothing is pending any more
  EXPECT_EQ(dest.size(), 5u);
  EXPECT_FALSE(tar.NextEntry(rec));
  EXPECT_FALSE(tar.NextEntry(rec));

  tar.Rewind();
  ASSERT_TRUE(tar.NextEntry(rec));
  EXPECT_EQ(rec.Name, "a.txt");
}

TEST(TarReader, SkipsUncopiedDataAndReadsOnlyHeaders) {
  TempDir dir;
  {
    TTarWriter w(dir / "s.tar");
    for (int i = 0; i < 5; ++i) {
      std::istringstream in(zvtest::Pattern(700 + i, i));
      w.AddStream(in, "f" + std::to_string(i), UnixToDateTime(0));
    }
  }
  TTarArchive tar(dir / "s.tar");
  TTarDirRec rec;
  std::vector<std::int64_t> positions;
  while (tar.NextEntry(rec))
    positions.push_back(rec.HeaderPos);
  EXPECT_EQ(positions, (std::vector<std::int64_t>{0, 1536, 3072, 4608, 6144}));
  EXPECT_EQ(tar.BytesRead(), 6 * 512); // five headers and the end block
  tar.Rewind();
  ASSERT_TRUE(tar.NextEntry(rec));
  ASSERT_TRUE(tar.NextEntry(rec));
  std::vector<std::uint8_t> data;
  tar.CopyEntryData(data);
  EXPECT_EQ(std::string(data.begin(), data.end()), zvtest::Pattern(701, 1));
}

TEST(TarReader, EntriesWithoutDataAndTheEndOfTheArchive) {
  TempDir dir;
  const auto d = RawHeader().WithName("d/").WithType('5').WithSize("00000000012");
  const auto f = RawHeader().WithName("f").WithSize("3");
  const auto zeroFirst = RawHeader().WithName(std::string("\0rest", 5));
  // A directory with a size is followed by the next header directly; a
  // header whose name starts with a zero byte ends the walk.
  const auto e = ReadAll(WriteArchive(dir, d.Block() + f.Block() + Padded("xyz") + zeroFirst.Block() + f.Block()));
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].Rec.FileType, TTarFileType::ftDirectory);
  EXPECT_EQ(e[0].Rec.Size, 10);
  EXPECT_EQ(e[0].Data, "");
  EXPECT_EQ(e[1].Data, "xyz");

  // A truncated header at the end counts as the end.
  EXPECT_EQ(ReadAll(WriteArchive(dir, f.Block() + Padded("xyz") + std::string(300, 'q'))).size(), 1u);
  // Data that ends exactly at the end of the file, without its zero fill.
  EXPECT_EQ(ReadAll(WriteArchive(dir, f.Block() + "xyz"))[0].Data, "xyz");
  EXPECT_TRUE(ReadAll(WriteArchive(dir, "")).empty());
}

TEST(TarReader, TypeCharacters) {
  TempDir dir;
  const struct {
    char c;
    TTarFileType type;
    const char *display;
  } cases[] = {
      {'0', TTarFileType::ftNormal, "Regular"},
      {'\0', TTarFileType::ftNormal, "Regular"},
      {'Z', TTarFileType::ftNormal, "Regular"},
      {'1', TTarFileType::ftLink, "Link"},
      {'2', TTarFileType::ftSymbolicLink, "Symbolic Link"},
      {'3', TTarFileType::ftCharacter, "Char File"},
      {'4', TTarFileType::ftBlock, "Block File"},
      {'5', TTarFileType::ftDirectory, "Directory"},
      {'6', TTarFileType::ftFifo, "FIFO File"},
      {'7', TTarFileType::ftContiguous, "Contiguous"},
      {'D', TTarFileType::ftDumpDir, "Dir Dump"},
      {'M', TTarFileType::ftMultiVolume, "Multivol"},
      {'V', TTarFileType::ftVolumeHeader, "Volume Header"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.display);
    // Links, devices, directories, FIFOs and volume headers have no data
    // blocks whatever their size says: the next header follows directly.
    const bool carries = c.type == TTarFileType::ftNormal || c.type == TTarFileType::ftContiguous ||
                         c.type == TTarFileType::ftDumpDir || c.type == TTarFileType::ftMultiVolume;
    const std::string bytes = RawHeader().WithName("e").WithType(c.c).WithSize("1").Block() +
                              (carries ? Padded("!") : "") + RawHeader().WithName("next").Block();
    const auto e = ReadAll(WriteArchive(dir, bytes));
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].Rec.FileType, c.type);
    EXPECT_STREQ(FileTypeDisplayName(e[0].Rec.FileType), c.display);
    EXPECT_EQ(e[0].Data, carries ? "!" : "");
    EXPECT_EQ(e[1].Rec.Name, "next");
  }
}

TEST(TarReader, LongNamesFromOtherTools) {
  TempDir dir;
  const std::string longName = std::string(150, 'a') + "/file";
  const std::string longLink = std::string(120, 'b') + "/target";
  // GNU L and K entries: their data names the following entry.
  const std::string gnu =
      RawHeader().WithName("././@LongLink").WithType('L').WithSize(Oct(longName.size() + 1)).Block() +
      Padded(longName + '\0') +
      RawHeader().WithName("././@LongLink").WithType('K').WithSize(Oct(longLink.size())).Block() + Padded(longLink) +
      RawHeader().WithName("cut").WithType('2').WithLink("cut").Block() + RawHeader().WithName("plain").Block();
  auto e = ReadAll(WriteArchive(dir, gnu));
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].Rec.Name, longName);
  EXPECT_EQ(e[0].Rec.LinkName, longLink);
  EXPECT_EQ(e[0].Rec.HeaderPos, 512 * 4);
  EXPECT_EQ(e[1].Rec.Name, "plain"); // the long name applies to one entry only

  // pax x sets path, linkpath and size; g is skipped.
  const std::string paxData = Pax({{"path", longName}, {"linkpath", longLink}, {"size", "0004"}, {"mtime", "77.5"}});
  const std::string globalData = Pax({{"path", "global-ignored"}});
  const std::string pax =
      RawHeader().WithName("g").WithType('g').WithSize(Oct(globalData.size())).Block() + Padded(globalData) +
      RawHeader().WithName("x").WithType('x').WithSize(Oct(paxData.size())).Block() + Padded(paxData) +
      RawHeader().WithName("cut").WithSize("1").Block() + Padded("data") + RawHeader().WithName("after").Block();
  e = ReadAll(WriteArchive(dir, pax));
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].Rec.Name, longName);
  EXPECT_EQ(e[0].Rec.LinkName, longLink);
  EXPECT_EQ(e[0].Rec.Size, 4);
  EXPECT_EQ(e[0].Data, "data");
  EXPECT_EQ(DateTimeToUnix(e[0].Rec.ModTime), 77);
  EXPECT_EQ(e[1].Rec.Name, "after");

  // The POSIX prefix field is joined with "/" only under the POSIX magic.
  const auto posix = RawHeader()
                         .WithName("name")
                         .WithMagic(std::string("ustar\0"
                                                "00",
                                                8))
                         .WithPrefix("pre/fix");
  const auto gnuMagic = RawHeader().WithName("name").WithPrefix("pre/fix");
  e = ReadAll(WriteArchive(dir, posix.Block() + gnuMagic.Block()));
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].Rec.Name, "pre/fix/name");
  EXPECT_EQ(e[1].Rec.Name, "name");
}

TEST(TarReader, DamagedArchivesRaiseErrorsNamingThem) {
  TempDir dir;
  const std::string bigPax = Pax({{"size", "99999999999"}});
  const struct {
    const char *what;
    std::string bytes;
  } cases[] = {
      {"size not octal", RawHeader().WithSize("12x4").Block()},
      {"size with sign", RawHeader().WithSize("-1").Block()},
      {"negative base-256 size",
       RawHeader().WithSize(std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xfe", 12)).Block()},
      {"base-256 size beyond 63 bits", RawHeader().WithSize(std::string("\x80\x01\0\0\0\0\0\0\0\0\0\0", 12)).Block()},
      {"data past the end", RawHeader().WithSize("77777777777").Block() + Padded("short")},
      {"pax size past the end", RawHeader().WithType('x').WithSize(Oct(bigPax.size())).Block() + Padded(bigPax) +
                                    RawHeader().WithSize("1").Block()},
      {"long name past the end", RawHeader().WithType('L').WithSize("7777").Block() + Padded("abc")},
      {"pax record without newline", RawHeader().WithType('x').WithSize("12").Block() + Padded("10 path=abc")},
      {"pax record of length 0", RawHeader().WithType('x').WithSize("5").Block() + Padded("0 X=\n")},
      {"pax record longer than its data", RawHeader().WithType('x').WithSize("12").Block() + Padded("99 path=abc\n")},
      {"pax size not decimal", RawHeader().WithType('x').WithSize("13").Block() + Padded("11 size=1x\n")},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = WriteArchive(dir, c.bytes);
    try {
      TTarArchive tar(path);
      TTarDirRec rec;
      std::vector<std::uint8_t> data;
      for (int i = 0; i < 10 && tar.NextEntry(rec); ++i)
        tar.CopyEntryData(data);
      FAIL() << "no error";
    } catch (const ETarError &e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}

TEST(TarReader, HugeSizeFieldNeverAllocatesMoreThanTheFileHolds) {
  // A 16 GiB entry in GNU base-256 form whose data is absent.
  TTarArchive tar(TestData("writer-big.tar"));
  TTarDirRec rec;
  ASSERT_TRUE(tar.NextEntry(rec));
  EXPECT_EQ(rec.Name, "tmp/16gig.txt");
  EXPECT_EQ(rec.Size, std::int64_t{16} << 30);
  std::vector<std::uint8_t> data{1, 2};
  EXPECT_THROW(tar.CopyEntryData(data), ETarError);
  EXPECT_EQ(data.size(), 2u);
  EXPECT_LT(data.capacity(), 4096u);
  EXPECT_FALSE(tar.NextEntry(rec));
}

TEST(TarReader, ArchivesFromOtherToolsKeepTheirNames) {
  const std::string kilts = ReadFile(TestData("small.txt"));
  const std::string google = ReadFile(TestData("small2.txt"));
  const std::string hundred = "123456789101112131415161718192021222324252627282930313233343536373839404142434445464748"
                              "4950515253545556575859606162636465666768697071727374757677787980818283848586878889909192"
                              "93949596979899100";
  std::string longname;
  for (int i = 0; i < 15; ++i)
    longname += "longname/";
  const struct {
    const char *file;
    std::vector<std::string> names;
  } cases[] = {
      {"gnu.tar", {"small.txt", "small2.txt"}},
      {"v7.tar", {"small.txt", "small2.txt"}},
      {"star.tar", {"small.txt", "small2.txt"}},
      {"ustar.tar", {longname + "file.txt"}},
      {"pax.tar", {"a/" + hundred, "a/b"}},
      {"gnu-multi-hdrs.tar", {"GNU2/GNU2/long-path-name"}},
      {"pax-multi-hdrs.tar", {"PAX2/PAX2/long-path-name"}},
      {"gnu-long-nul.tar", {"0123456789"}},
      {"pax-global-records.tar", {"file1", "file2", "file3", "file4"}},
      {"hardlink.tar", {"file.txt", "hard.txt"}},
      {"sparse-formats.tar",
       {"sparse-gnu", "sparse-posix-0.0", "./GNUSparseFile.1234/sparse-posix-0.1",
        "./GNUSparseFile.1234/sparse-posix-1.0", "end"}},
      {"hdr-only.tar",
       {"dir/", "fifo", "file", "hardlink", "null", "sda", "symlink", "badlink", "dir/", "fifo", "file", "hardlink",
        "null", "sda", "symlink", "badlink"}},
      {"extranils.tar", {"file"}},
      {"notenoughnils.tar", {"file"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.file);
    const auto e = ReadAll(TestData(c.file));
    EXPECT_EQ(Names(e), c.names);
  }
  auto e = ReadAll(TestData("gnu.tar"));
  EXPECT_EQ(e[0].Data, kilts);
  EXPECT_EQ(e[1].Data, google);
  EXPECT_EQ(e[1].Rec.Magic, "ustar");
  EXPECT_EQ(ReadAll(TestData("v7.tar"))[0].Rec.Magic, "");
  EXPECT_EQ(ReadAll(TestData("v7.tar"))[0].Rec.Permissions, 0444);
  EXPECT_EQ(ReadAll(TestData("ustar.tar"))[0].Data, "hello\n");
  EXPECT_EQ(ReadAll(TestData("pax.tar"))[1].Rec.LinkName, hundred);
  EXPECT_EQ(ReadAll(TestData("gnu-multi-hdrs.tar"))[0].Rec.LinkName, "GNU4/GNU4/long-linkpath-name");
  EXPECT_EQ(ReadAll(TestData("pax-pos-size-file.tar"))[0].Rec.Size, 999);
  EXPECT_EQ(ReadAll(TestData("pax-pos-size-file.tar"))[0].Data.size(), 999u);
  EXPECT_EQ(ReadAll(TestData("sparse-formats.tar")).back().Data, "end\n");
  e = ReadAll(TestData("longlink.tar"));
  ASSERT_FALSE(e.empty());
  EXPECT_EQ(e.back().Rec.Name, "./asfd/asdf/asdf/asfd/asdf/asdf/asdf/asdf/asdf/asdf/asdf/asdf/asdf/asdf/asdf/asdf/asdf/"
                               "axcdfasdfasdfasdfasdfasdfasdfasdfasdfasdf");
  e = ReadAll(TestData("hdr-only.tar"));
  EXPECT_EQ(e[4].Rec.FileType, TTarFileType::ftCharacter);
  EXPECT_EQ(e[10].Data.size(), 46u); // the size-5 device entries before it carried no data
}

namespace {

// Walks an archive to its end or first error; anything but our errors fails.
void Walk(const std::string &path) {
  try {
    TTarArchive tar(path);
    TTarDirRec rec;
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 100000 && tar.NextEntry(rec); ++i) {
      data.clear();
      tar.CopyEntryData(data);
      ASSERT_LE(static_cast<std::int64_t>(data.size()), static_cast<std::int64_t>(std::filesystem::file_size(path)));
    }
  } catch (const Error &) {
  }
}

std::vector<std::string> TarFiles(const std::string &dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto &e : std::filesystem::recursive_directory_iterator(dir, ec))
    if (e.path().extension() == ".tar")
      out.push_back(e.path().string());
  return out;
}

} // namespace

TEST(TarReader, EveryCorpusArchiveAndEveryTruncationIsWalkedSafely) {
  auto files = TarFiles(std::string(ZOVEVOD_TESTDATA_DIR) + "/tar");
  ASSERT_GT(files.size(), 40u);
  const auto corpus = TarFiles(std::string(ZOVEVOD_CORPUS_DIR) + "/tar");
  files.insert(files.end(), corpus.begin(), corpus.end());
  TempDir dir;
  for (const auto &f : files) {
    SCOPED_TRACE(f);
    Walk(f);
    const std::string bytes = ReadFile(f);
    if (bytes.size() > 40000)
      continue;
    for (std::size_t cut = 0; cut < bytes.size(); cut += cut % 512 == 0 ? 1 : 97) {
      WriteFile(dir / "cut.tar", bytes.substr(0, cut));
      Walk(dir / "cut.tar");
    }
  }
}

TEST(TarReader, CannotOpen) {
  TempDir dir;
  try {
    TTarArchive tar(dir / "none.tar");
    FAIL();
  } catch (const EFileError &e) {
    EXPECT_EQ(std::string(e.what()), msg::CannotOpenFile(dir / "none.tar"));
  }
  EXPECT_THROW(TTarArchive tar(dir.Path()), EFileError);
}

TEST(TarReader, PositionsAndSizesBeyond4GiB) {
  // A sparse file: a 5 GiB entry whose data is a hole, then a second entry.
  TempDir dir;
  const std::int64_t big = (std::int64_t{5} << 30) + 3;
  const std::string first = RawHeader().WithName("big").WithSize(Oct(static_cast<std::size_t>(big))).Block();
  const std::string second = RawHeader().WithName("second").WithSize("2").Block() + Padded("ok");
  const std::int64_t secondPos = 512 + (big + 511) / 512 * 512;
  {
    std::ofstream out(dir / "big.tar", std::ios::binary);
    out.write(first.data(), 512);
    out.seekp(secondPos);
    out.write(second.data(), static_cast<std::streamsize>(second.size()));
  }
  TTarArchive tar(dir / "big.tar");
  TTarDirRec rec;
  ASSERT_TRUE(tar.NextEntry(rec));
  EXPECT_EQ(rec.Size, big);
  ASSERT_TRUE(tar.NextEntry(rec));
  EXPECT_EQ(rec.Name, "second");
  EXPECT_EQ(rec.HeaderPos, secondPos);
  std::vector<std::uint8_t> data;
  tar.CopyEntryData(data);
  EXPECT_EQ(std::string(data.begin(), data.end()), "ok");
  EXPECT_FALSE(tar.NextEntry(rec));
  EXPECT_EQ(tar.BytesRead(), 2 * 512 + 2);
}

TEST(TarReader, TopLevelNameDropsLeadingDotSlashes) {
  EXPECT_EQ(TopLevelName("./m.map"), "m.map");
  EXPECT_EQ(TopLevelName("././set/m_0_0.png"), "set/m_0_0.png");
  EXPECT_EQ(TopLevelName("./"), "");
  EXPECT_EQ(TopLevelName("."), ".");
  EXPECT_EQ(TopLevelName("m.map"), "m.map");
  EXPECT_EQ(TopLevelName("../m.map"), "../m.map");
  EXPECT_EQ(TopLevelName("set/./m.png"), "set/./m.png");
  EXPECT_EQ(TopLevelName(".//m.map"), "/m.map");
}
