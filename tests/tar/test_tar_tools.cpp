// Archives written here are read by GNU tar, bsdtar and Python's tarfile, and
// archives they write are read here. Each case skips when its tool is absent.
#include "TarTestUtil.h"
#include "tar/TarWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include <sys/stat.h>
#include <utime.h>

using namespace zv;
using zvtest::HaveTool;
using zvtest::ReadFile;
using zvtest::TempDir;
using zvtest::WriteFile;

namespace {

struct Sample {
  std::string Name;
  std::string Data;
  std::int64_t Mtime;
};

const std::vector<Sample> &Samples() {
  static const std::vector<Sample> samples = {
      {"empty.txt", "", 1000000000},
      {"a.txt", "abc", 1600000000},
      {"set/block512.bin", zvtest::Pattern(512, 1), 1234567890},
      {"set/block513.bin", zvtest::Pattern(513, 2), 1234567891},
      {"atlas/layer/map/tile_0_0.png", zvtest::Pattern(70001, 3), 1700000000},
      {std::string(90, 'n') + "/ten-bytes", "0123456789", 1500000000}, // exactly 100 bytes
  };
  return samples;
}

std::string Shell(const std::string &cmd) {
  std::string out;
  if (FILE *p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
      out.append(buf, n);
    if (::pclose(p) != 0)
      out = "FAILED: " + out;
  }
  return out;
}

std::string Quote(const std::string &s) { return "'" + s + "'"; }

std::string WriteSamples(const TempDir &dir) {
  const std::string archive = dir / "ours.tar";
  TTarWriter w(archive);
  w.AddDirectory("set/", UnixToDateTime(1234567000));
  for (const auto &s : Samples()) {
    std::istringstream in(s.Data);
    w.AddStream(in, s.Name, UnixToDateTime(s.Mtime));
  }
  w.Finish();
  return archive;
}

std::vector<std::string> SampleNames() {
  std::vector<std::string> names{"set/"};
  for (const auto &s : Samples())
    names.push_back(s.Name);
  return names;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

void ExpectExtracted(const std::string &dir) {
  for (const auto &s : Samples()) {
    SCOPED_TRACE(s.Name);
    const std::string path = dir + "/" + s.Name;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(ReadFile(path), s.Data);
    EXPECT_EQ(st.st_mtime, s.Mtime);
  }
}

class TarTool : public ::testing::TestWithParam<std::string> {};

} // namespace

TEST_P(TarTool, ListsAndExtractsOurArchives) {
  const std::string tool = GetParam();
  if (!HaveTool(tool))
    GTEST_SKIP() << tool << " is not installed";
  TempDir dir;
  const std::string archive = WriteSamples(dir);
  // The archive ends with one zero block; GNU tar notes that and reads on.
  const auto expectQuiet = [&](const std::string &err) {
    const std::string text = ReadFile(err);
    EXPECT_TRUE(text.empty() ||
                (text.rfind("tar: A lone zero block at ", 0) == 0 && text.find('\n') == text.size() - 1))
        << text;
  };
  EXPECT_EQ(Lines(Shell(tool + " -tf " + Quote(archive) + " 2>" + Quote(dir / "err1"))), SampleNames());
  expectQuiet(dir / "err1");
  std::filesystem::create_directory(dir / "x");
  EXPECT_EQ(Shell(tool + " -xf " + Quote(archive) + " -C " + Quote(dir / "x") + " 2>" + Quote(dir / "err2")), "");
  expectQuiet(dir / "err2");
  ExpectExtracted(dir / "x");
}

TEST_P(TarTool, OurReaderReadsItsArchives) {
  const std::string tool = GetParam();
  if (!HaveTool(tool))
    GTEST_SKIP() << tool << " is not installed";
  TempDir dir;
  // Names beyond 100 bytes make the tools use their long-name forms.
  std::map<std::string, std::string> files;
  const std::string deep = std::string(60, 'd') + "/" + std::string(60, 'e') + "/" + std::string(50, 'f');
  files[deep + "/long.bin"] = zvtest::Pattern(3000, 9);
  files["short.txt"] = "short";
  files["b/" + std::string(99, 'x')] = zvtest::Pattern(512, 4);
  for (const auto &[name, data] : files)
    WriteFile(dir / ("src/" + name), data);

  const std::vector<std::string> formats = tool == "tar" ? std::vector<std::string>{"gnu", "posix", "ustar", "oldgnu"}
                                                         : std::vector<std::string>{"pax", "ustar", "gnutar"};
  for (const auto &format : formats) {
    SCOPED_TRACE(format);
    const std::string archive = dir / (format + ".tar");
    const std::string out = Shell("cd " + Quote(dir / "src") + " && " + tool + " --format=" + format + " -cf " +
                                  Quote(archive) + " * 2>&1");
    ASSERT_EQ(out, "");
    std::map<std::string, std::string> got;
    for (const auto &e : zvtest::ReadAll(archive))
      if (e.Rec.FileType == TTarFileType::ftNormal)
        got[e.Rec.Name] = e.Data;
    EXPECT_EQ(got, files);
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, TarTool, ::testing::Values("tar", "bsdtar"));

TEST(TarPython, TarfileReadsOurArchivesAndWeReadItsArchives) {
  if (!HaveTool("python3") || Shell("python3 -c 'import tarfile'") != "")
    GTEST_SKIP() << "no python3 tarfile";
  TempDir dir;
  const std::string archive = WriteSamples(dir);
  const std::string listing =
      Shell("python3 -c \"import tarfile, hashlib, sys\n"
            "with tarfile.open(sys.argv[1]) as t:\n"
            "    for m in t:\n"
            "        d = t.extractfile(m).read() if m.isreg() else b''\n"
            "        print(m.name, m.size, int(m.mtime), m.isdir(), hashlib.md5(d).hexdigest())\" " +
            Quote(archive) + " 2>&1");
  std::vector<std::string> expected{"set 0 1234567000 True d41d8cd98f00b204e9800998ecf8427e"};
  for (const auto &s : Samples()) {
    WriteFile(dir / "payload", s.Data);
    const auto sum = Lines(Shell("md5sum " + Quote(dir / "payload")));
    ASSERT_FALSE(sum.empty());
    expected.push_back(s.Name + " " + std::to_string(s.Data.size()) + " " + std::to_string(s.Mtime) + " False " +
                       sum[0].substr(0, 32));
  }
  EXPECT_EQ(Lines(listing), expected);

  // The other direction, in each of tarfile's formats.
  const std::string longName = std::string(120, 'p') + "/y.txt";
  for (const char *format : {"GNU_FORMAT", "PAX_FORMAT", "USTAR_FORMAT"}) {
    SCOPED_TRACE(format);
    const std::string made = dir / (std::string(format) + ".tar");
    const std::string out = Shell("python3 -c \"import tarfile, io, sys\n"
                                  "with tarfile.open(sys.argv[1], 'w', format=tarfile." +
                                  std::string(format) +
                                  ") as t:\n"
                                  "    for name, data in (('x.txt', b'xyz'), (sys.argv[2], b'y' * 1000)):\n"
                                  "        i = tarfile.TarInfo(name); i.size = len(data); i.mtime = 1600000000\n"
                                  "        t.addfile(i, io.BytesIO(data))\" " +
                                  Quote(made) + " " + Quote(longName) + " 2>&1");
    ASSERT_EQ(out, "");
    const auto e = zvtest::ReadAll(made);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].Rec.Name, "x.txt");
    EXPECT_EQ(e[0].Data, "xyz");
    EXPECT_EQ(e[1].Rec.Name, longName);
    EXPECT_EQ(e[1].Data, std::string(1000, 'y'));
    EXPECT_EQ(DateTimeToUnix(e[1].Rec.ModTime), 1600000000);
  }
}
