// End-to-end runs of zovevod-export, and its JSON writer.

#include "../export/ExportTestUtil.h"

#include "base/Version.h"
#include "cli/ModelJson.h"

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zvtest;

namespace {

struct Result {
  int Status = -1;
  std::string Out, Err;
};

// Starts the converter with stdout and stderr going to the two files (not a
// terminal, so no progress bar).
pid_t StartConverter(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath,
                     const std::string& cwd = "") {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<char*> argv;
    std::string bin = ZOVEVOD_EXPORT_BIN;
    argv.push_back(bin.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(bin.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

// Runs the converter with stdout and stderr captured.
Result RunConverter(const std::vector<std::string>& args, const std::string& cwd = "") {
  TempDir capture;
  const std::string outPath = capture / "out", errPath = capture / "err";
  const pid_t pid = StartConverter(args, outPath, errPath, cwd);
  Result r;
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Out = ReadFile(outPath);
  r.Err = ReadFile(errPath);
  return r;
}

std::string MapFile(const TempDir& dir, const std::string& name, int w, int h) {
  WritePatternPng(dir / (name + ".png"), w, h);
  const std::string path = dir / (name + ".map");
  WriteFile(path, "OziExplorer Map Data File Version 2.2\r\n" + name + "\r\n" + name +
                      ".png\r\n1 ,Map Code,\r\nWGS 84,WGS 84,   0.0000,   0.0000,WGS 84\r\nReserved 1\r\n"
                      "Reserved 2\r\nMagnetic Variation,,,E\r\n"
                      "Map Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No\r\n"
                      "Point01,xy,   10,   20,in, deg,  48,30.0000,N,  17, 6.0000,E, grid,   ,           ,           ,N\r\n");
  return path;
}

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

} // namespace

TEST(Converter, UsageErrors) {
  TempDir dir;
  const std::string map = MapFile(dir, "m", 10, 10);
  const std::vector<std::vector<std::string>> bad = {
      {},                                    // no file
      {map},                                 // no target directory
      {"--bogus", "-o", dir.Path(), map},     // unknown option
      {"-o"},                                // missing value
      {"--format", "gif", "-o", dir.Path(), map},
      {"--depth", "8", "-o", dir.Path(), map},
      {"--tile", "400", "-o", dir.Path(), map},
      {"--tar=yes", "-o", dir.Path(), map},
      {"--zoom-out", "5", "-o", dir.Path(), map},
      {"--zoom-out=-1", "-o", dir.Path(), map},
      {"--zoom-out", "two", "-o", dir.Path(), map},
      {"--zoom-out", "1", "--single", "-o", dir.Path(), map},
  };
  for (const auto& args : bad) {
    const Result r = RunConverter(args);
    EXPECT_EQ(r.Status, 2) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "zovevod-export: ")) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
  EXPECT_EQ(Tree(dir.Path()), (std::set<std::string>{"m.map", "m.png"}));
  EXPECT_TRUE(Contains(RunConverter({"--zoom-out", "5", "-o", dir.Path(), map}).Err,
                       "--zoom-out expects a number of layers from 0 to 4"));
  EXPECT_TRUE(Contains(RunConverter({"--single", "--zoom-out=2", "-o", dir.Path(), map}).Err,
                       "--zoom-out does not go with --single"));
  // No layers at all goes with anything.
  EXPECT_EQ(RunConverter({"-q", "--single", "--zoom-out", "0", "-o", dir / "single", map}).Status, 0);
}

TEST(Converter, ZoomOutLayersReadBackAndCheckClean) {
  TempDir dir;
  WritePatternPng(dir / "m.png", 501, 91);
  // Three points of a plain latitude/longitude grid: 0.001 degree a pixel.
  WriteFile(dir / "m.map", "OziExplorer Map Data File Version 2.2\r\nm\r\nm.png\r\n1 ,Map Code,\r\n"
                           "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84\r\nReserved 1\r\nReserved 2\r\n"
                           "Magnetic Variation,,,E\r\n"
                           "Map Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No\r\n"
                           "Point01,xy,   10,   20,in, deg,  48,28.8000,N,  17, 6.6000,E, grid,   ,   ,   ,N\r\n"
                           "Point02,xy,  490,   31,in, deg,  48,28.1400,N,  17,35.4000,E, grid,   ,   ,   ,N\r\n"
                           "Point03,xy,  251,   85,in, deg,  48,24.9000,N,  17,21.0600,E, grid,   ,   ,   ,N\r\n"
                           "IWH,Map Image Width/Height,501,91\r\n");
  const std::string out = dir / "out";
  for (bool tared : {false, true}) {
    SCOPED_TRACE(tared);
    std::vector<std::string> args = {"-q", "--zoom-out", "4", "--tile", "64x64", "-o", out, dir / "m.map"};
    if (tared) args.insert(args.begin(), "--tar");
    Result r = RunConverter(args);
    ASSERT_EQ(r.Status, 0) << r.Err;
    if (!tared) {
      EXPECT_TRUE(Contains(ReadFile(out + "/Default 12.5%/m/m.map"),
                           "Point02,xy,   61,    4,in, deg,  48,28.1400,N,  17,35.4000,E, grid,   ,   ,   ,N\r\n"
                           "Point03,xy,   31,   11,in, deg,  48,24.9000,N,  17,21.0600,E, grid,   ,   ,   ,N\r\n"
                           "IWH,Map Image Width/Height, 63,12\r\n"));
    }
    const std::string atlas = out + (tared ? "/myatlas.tar" : "/myatlas.vka");
    r = RunConverter({"--list", atlas});
    for (const char* layer : {"Default", "Default 50%", "Default 25%", "Default 12.5%", "Default 6.25%"})
      EXPECT_TRUE(Contains(r.Out, std::string("\"name\":\"") + layer + "\"")) << layer;
    EXPECT_TRUE(Contains(r.Out, "\"width\":32,\"height\":6,")) << r.Out;
    r = RunConverter({"--check", atlas});
    EXPECT_EQ(r.Status, 0) << r.Out;
    fs::remove_all(out);
  }
}

TEST(Converter, HelpAndVersion) {
  const Result help = RunConverter({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_TRUE(Contains(help.Out, "zovevod-export [options] FILE..."));
  EXPECT_TRUE(Contains(help.Out, "--atlas-name NAME"));
  const Result version = RunConverter({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out, std::string("zovevod-export ") + ZOVEVOD_VERSION + "\n");
}

TEST(Converter, ExportsAnAtlasAndASingleMap) {
  TempDir dir;
  const std::string map = MapFile(dir, "m", 500, 90);
  const std::string out = dir / "new/atlas";
  Result r = RunConverter({"-q", "-o", out, "--tile", "256x256", "--atlas-name", "A", map});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(Tree(out), (std::set<std::string>{"A.vka", "Default/", "Default/m/", "Default/m/m.map",
                                              "Default/m/m.set", "Default/m/set/", "Default/m/set/m_0_0.jpg",
                                              "Default/m/set/m_256_0.jpg"}));

  const std::string single = dir / "single";
  r = RunConverter({"--single", "--tar", "--format=png", "--depth", "7", "--tile-width", "300", "-o", single, map});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Tree(single), std::set<std::string>{"m.tar"});
  EXPECT_EQ(TarNames(single + "/m.tar"),
            (std::vector<std::string>{"m.map", "m.set", "set/m_0_0.png", "set/m_300_0.png"}));
}

TEST(Converter, LoadAndExportFailures) {
  TempDir dir;
  const std::string map = MapFile(dir, "good", 20, 20);
  WriteFile(dir / "broken.png", "not a png at all");
  const std::string out = dir / "out";
  Result r = RunConverter({"-o", out, dir / "missing.map", dir / "broken.png", map});
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Contains(r.Err, "Loading error (missing.map) !\n")) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "Loading error (broken.png) !\n")) << r.Err;
  // Loading goes on, and the export still runs.
  EXPECT_TRUE(fs::exists(out + "/Default/good/set/good_0_0.jpg"));

  // Refused runs do not even make the target directory.
  r = RunConverter({"-o", dir / "new1", "--tile", "0x400", map});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Tile width must be a whole number of at least 1\n");
  r = RunConverter({"-o", dir / "new2", "--tile-height", "x", map});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Tile height must be a whole number of at least 1\n");
  r = RunConverter({"-o", dir / "new3", "--atlas-name", "../up", map});
  EXPECT_EQ(r.Status, 1);
  EXPECT_TRUE(Contains(r.Err, "\"../up\"")) << r.Err;
  WriteFile(dir / "notes.txt", "nothing to open");
  r = RunConverter({"-o", dir / "new4", "--single", dir / "notes.txt"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "No map is shown to export.\n");
  for (const char* d : {"new1", "new2", "new3", "new4"}) EXPECT_FALSE(fs::exists(dir / d)) << d;

  r = RunConverter({"-o", map, map}); // the target is a file
  EXPECT_EQ(r.Status, 1);
}

namespace {

// Waits until path exists, at most about a minute.
bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 30000; ++i) {
    if (fs::exists(path)) return true;
    ::usleep(2000);
  }
  return false;
}

} // namespace

TEST(Converter, FirstSignalStopsCleanlySecondEndsAtOnce) {
  TempDir dir;
  // Thousands of tiny tiles: the run is still going when the signal comes.
  const std::string map = MapFile(dir, "m", 1600, 1600);
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    const std::string out = dir / ("out" + std::to_string(sig));
    const pid_t pid = StartConverter({"--single", "--tar", "--tile", "8x8", "-o", out, map}, dir / "stdout",
                                     dir / "stderr");
    ASSERT_TRUE(WaitForFile(out + "/set/m_8_0.jpg"));
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(ReadFile(dir / "stderr"), "Export stopped.\n");
    // No archive; every tile left is listed, whole, and the list has whole lines.
    EXPECT_FALSE(fs::exists(out + "/m.tar"));
    const std::string list = ReadFile(out + "/m.set");
    ASSERT_FALSE(list.empty());
    ASSERT_EQ(list.substr(list.size() - 2), "\r\n");
    std::set<std::string> listed;
    for (std::size_t start = 0, end; (end = list.find("\r\n", start)) != std::string::npos; start = end + 2)
      listed.insert(list.substr(start, end - start));
    std::set<std::string> tiles;
    for (const auto& e : fs::directory_iterator(out + "/set")) {
      tiles.insert(e.path().filename().string());
      const std::string jpeg = ReadFile(e.path().string());
      EXPECT_EQ(jpeg.substr(jpeg.size() - 2), "\xFF\xD9") << e.path();
    }
    EXPECT_EQ(tiles, listed);
    EXPECT_LT(tiles.size(), 200u * 200u);
  }

  // A second signal does not wait for the tile in hand.
  const std::string out = dir / "twice";
  const pid_t pid = StartConverter({"--single", "--tile", "8x8", "-o", out, map}, dir / "stdout", dir / "stderr");
  ASSERT_TRUE(WaitForFile(out + "/set/m_8_0.jpg"));
  ::kill(pid, SIGINT);
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
  } else {
    // The stop was quicker than the second signal.
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(ReadFile(dir / "stderr"), "Export stopped.\n");
  }
}

TEST(Converter, ListPrintsTheModel) {
  TempDir dir;
  const std::string map = MapFile(dir, "m", 30, 20);
  Result r = RunConverter({"--list", map, map});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "{\"layouts\":[{\"name\":\"Default\",\"active\":true,\"areas\":[{\"name\":\"m\",\"fileName\":" +
                       zv::JsonString(map) + ",\"imageFileName\":\"m.png\",\"width\":30,\"height\":20,"
                       "\"shown\":true,\"active\":true,\"points\":[{\"x\":10,\"y\":20,\"lat\":48.5,\"lon\":17.1}],"
                       "\"fit\":null,\"fitProblem\":\"Too few calibration points with latitude and longitude: 1 (at least 3 "
                       "not on one line are needed).\","
                       "\"images\":[{\"x\":0,\"y\":0,\"width\":30,\"height\":20,\"bitsPerPixel\":24}]}]}]}\n");
  // Relative names are opened by their full path, as the open dialog gives them.
  r = RunConverter({"--list", "./sub/../m.map"}, dir.Path());
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "\"fileName\":" + zv::JsonString(map) + ",")) << r.Out;

  // Yes to the duplicate question replaces the earlier area, which moves it
  // behind the maps opened since; No keeps the first one.
  const std::string other = MapFile(dir, "o", 5, 5);
  const auto areaOrder = [](const std::string& json) {
    std::string names;
    for (auto p = json.find("\"fileName\":"); p != std::string::npos; p = json.find("\"fileName\":", p + 1))
      names += json[json.find(".map\"", p) - 1];
    return names;
  };
  r = RunConverter({"--list", map, other, map});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(areaOrder(r.Out), "mo");
  r = RunConverter({"--list", "--reload", map, other, map});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(areaOrder(r.Out), "om");
  if (std::system("python3 -c 'import json' >/dev/null 2>&1") == 0) {
    WriteFile(dir / "list.json", r.Out);
    const std::string check = "python3 -c 'import json,sys\nd=json.load(open(sys.argv[1]))\n"
                              "a=d[\"layouts\"][0][\"areas\"]\nassert [x[\"name\"] for x in a]==[\"o\",\"m\"]\n"
                              "assert a[1][\"active\"] and a[1][\"shown\"] and not a[0][\"shown\"]' '" +
                              (dir / "list.json") + "'";
    EXPECT_EQ(std::system(check.c_str()), 0);
  }
}

TEST(ModelJson, Strings) {
  EXPECT_EQ(zv::JsonString("plain"), "\"plain\"");
  EXPECT_EQ(zv::JsonString("q\"b\\s/"), "\"q\\\"b\\\\s/\"");
  EXPECT_EQ(zv::JsonString(std::string("\n\r\t\x01\x1f\x7f", 6)), "\"\\n\\r\\t\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(zv::JsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
  // Valid UTF-8 passes; other bytes read as Latin-1.
  EXPECT_EQ(zv::JsonString("Súbor ☺ 😀"), "\"Súbor ☺ 😀\"");
  EXPECT_EQ(zv::JsonString("\xe9t\xe9"), "\"\\u00e9t\\u00e9\"");
  EXPECT_EQ(zv::JsonString("\xc3"), "\"\\u00c3\"");             // truncated sequence
  EXPECT_EQ(zv::JsonString("\xc0\xaf"), "\"\\u00c0\\u00af\"");  // overlong
  EXPECT_EQ(zv::JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\""); // surrogate
  EXPECT_EQ(zv::JsonString("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\""); // above U+10FFFF
}

TEST(ModelJson, Numbers) {
  EXPECT_EQ(zv::JsonNumber(48.5L), "48.5");
  EXPECT_EQ(zv::JsonNumber(-17.1L), "-17.1");
  EXPECT_EQ(zv::JsonNumber(0), "0");
  EXPECT_EQ(zv::JsonNumber(1.0L / 3), "0.333333333333333");
  EXPECT_EQ(zv::JsonNumber(48.0L + 30.0L / 60 + 12.3456L / 3600), "48.5034293333333");
  EXPECT_EQ(zv::JsonNumber(1e-7L), "1e-07");
}

TEST(Converter, MapAppFiles) {
  TempDir dir;
  const std::string map = MapFile(dir, "m", 10, 10);
  const std::vector<std::vector<std::string>> bad = {
      {"--mbtiles", dir / "a.mbtiles", "-o", dir.Path(), map}, // two targets
      {"--kmz", dir / "a.kmz", "--sqlitedb", dir / "a.sqlitedb", map},
      {"--mbtiles", dir / "a.mbtiles", "--single", map},
      {"--mbtiles", dir / "a.mbtiles", "--min-zoom", "25", map},
      {"--mbtiles", dir / "a.mbtiles", "--max-zoom", "-1", map},
      {"--kmz", dir / "a.kmz", "--kmz-tiles", "501", map},
      {"--mbtiles", dir / "a.mbtiles", "--no-crop=yes", map},
  };
  for (const auto& args : bad) EXPECT_EQ(RunConverter(args).Status, 2);
  EXPECT_EQ(Tree(dir.Path()), (std::set<std::string>{"m.map", "m.png"}));

  // Three points: 0.001 degree a pixel, 74 m east-west at 48.4 N, which zoom 11 keeps.
  WritePatternPng(dir / "s.png", 300, 200);
  WriteFile(dir / "s.map", "OziExplorer Map Data File Version 2.2\r\ns\r\ns.png\r\n1 ,Map Code,\r\n"
                           "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84\r\nReserved 1\r\nReserved 2\r\n"
                           "Magnetic Variation,,,E\r\n"
                           "Map Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No\r\n"
                           "Point01,xy,    0,    0,in, deg,  48,30.0000,N,  17, 0.0000,E, grid,   ,   ,   ,N\r\n"
                           "Point02,xy,  300,    0,in, deg,  48,30.0000,N,  17,18.0000,E, grid,   ,   ,   ,N\r\n"
                           "Point03,xy,    0,  200,in, deg,  48,18.0000,N,  17, 0.0000,E, grid,   ,   ,   ,N\r\n");
  const std::string out = dir / "s.mbtiles";
  Result r = RunConverter({"--mbtiles", out, "--min-zoom", "9", dir / "s.map"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(RunConverter({"--mbtiles", out, dir / "s.map"}).Status, 1); // there already
  EXPECT_EQ(RunConverter({"--mbtiles", out, "--reload", "--format", "png", dir / "s.map"}).Status, 0);
  if (HaveTool("gdalinfo")) {
    const std::string info = dir / "info";
    ASSERT_EQ(std::system(("gdalinfo '" + out + "' > '" + info + "' 2>&1").c_str()), 0);
    const std::string text = ReadFile(info);
    EXPECT_TRUE(Contains(text, "Driver: MBTiles")) << text;
    EXPECT_TRUE(Contains(text, "ZOOM_LEVEL=11")) << text;
    EXPECT_TRUE(Contains(text, "minzoom=6")) << text;
    EXPECT_TRUE(Contains(text, "format=png")) << text;
  }
}
