#include "ExportTestUtil.h"

#include "base/Errors.h"
#include "base/Messages.h"
#include "codecs/Jpeg.h"
#include "codecs/Png.h"
#include "export/ExportToAmbulo.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace zvtest;
using zv::TExportOptions;
using zv::TExportProgress;

namespace {

struct Rect {
  int X, Y, W, H;
};

// An area built by hand: each image shows the pattern at its place in the
// picture, so any picture pixel (x, y) reads Pattern(x, y).
std::unique_ptr<zv::TMapArea> MakeArea(const std::string& name, const std::string& fileName,
                                       std::vector<std::string> lines, std::vector<Rect> images,
                                       zv::TDisplayMapsCore* view = nullptr, zv::TMapLayout* layout = nullptr) {
  auto area = std::make_unique<zv::TMapArea>(view, layout);
  area->Name = name;
  area->FileName = fileName;
  area->Lines = std::move(lines);
  for (const Rect& r : images) {
    auto image = std::make_unique<zv::TMapImage>(view, area.get());
    image->Bitmap = PatternBitmap(r.W, r.H, r.X, r.Y);
    image->X = r.X;
    image->Y = r.Y;
    area->Width = std::max(area->Width, r.X + r.W);
    area->Height = std::max(area->Height, r.Y + r.H);
    area->Images.push_back(std::move(image));
  }
  return area;
}

TExportOptions Options(const std::string& w, const std::string& h, int format = 0, bool tared = false) {
  TExportOptions o;
  o.TileWidthText = w;
  o.TileHeightText = h;
  o.Format = format == 1 ? zv::TTileFormat::Png : zv::TTileFormat::Jpeg;
  o.Tared = tared;
  return o;
}

TExportOptions Png(int depthRow, bool tared = false) {
  TExportOptions o = Options("400", "400", 1, tared);
  o.DepthRow = depthRow;
  return o;
}

void Export(const TempDir& dir, const zv::TMapArea& area, const TExportOptions& o,
            const TExportProgress& progress = {}) {
  zv::ExportSingleMap(dir.Path(), &area, o, progress);
}

std::string ExpectThrows(const std::function<void()>& f) {
  try {
    f();
  } catch (const zv::Error& e) {
    return e.what();
  }
  ADD_FAILURE() << "no error raised";
  return {};
}

} // namespace

TEST(ExportTileSet, ThousandBySevenHundredInFourHundredTiles) {
  for (int format : {0, 1}) {
    SCOPED_TRACE(format);
    TempDir dir;
    auto area = MakeArea("N", "/maps/N.map", {"OziExplorer Map Data File Version 2.2", "N", "N.png"},
                         {{0, 0, 1000, 700}});
    std::vector<std::int64_t> positions, maxima;
    int pumped = 0;
    std::string started;
    std::int64_t startedTiles = -1;
    TExportProgress p;
    p.SetPosition = [&](std::int64_t v) { positions.push_back(v); };
    p.SetMaximum = [&](std::int64_t v) { maxima.push_back(v); };
    p.ProcessMessages = [&] { ++pumped; };
    p.MapStarted = [&](const std::string& n, std::int64_t t) {
      started = n;
      startedTiles = t;
    };
    TExportOptions o = Options("400", "400", format);
    Export(dir, *area, o, p);

    const std::string ext = format == 0 ? ".jpg" : ".png";
    const std::vector<std::pair<std::string, std::pair<int, int>>> tiles = {
        {"N_0_0", {400, 400}},   {"N_400_0", {400, 400}},   {"N_800_0", {200, 400}},
        {"N_0_400", {400, 300}}, {"N_400_400", {400, 300}}, {"N_800_400", {200, 300}}};
    std::string list;
    std::set<std::string> expectedTree = {"N.map", "N.set", "set/"};
    for (const auto& [name, size] : tiles) {
      list += name + ext + "\r\n";
      expectedTree.insert("set/" + name + ext);
      EXPECT_EQ(ImageSize(ReadFile(dir / ("set/" + name + ext))), size) << name;
    }
    EXPECT_EQ(ReadFile(dir / "N.set"), list);
    EXPECT_EQ(ReadFile(dir / "N.map"), "OziExplorer Map Data File Version 2.2\r\nN\r\nN.png\r\n");
    EXPECT_EQ(Tree(dir.Path()), expectedTree);

    EXPECT_EQ(started, "N");
    EXPECT_EQ(startedTiles, 6);
    EXPECT_EQ(pumped, 6);
    EXPECT_EQ(maxima, std::vector<std::int64_t>{700000});
    // Position after each tile: W * y + x + tile width, unclipped; then the maximum.
    EXPECT_EQ(positions, (std::vector<std::int64_t>{0, 400, 800, 1200, 400400, 400800, 401200, 700000}));
  }
}

TEST(ExportTileSet, WorkersWriteTheSameFiles) {
  auto area = MakeArea("N", "N.map", {"cal"}, {{0, 0, 1000, 700}, {300, 200, 250, 100}});
  for (int format : {0, 1}) {
    SCOPED_TRACE(format);
    TempDir one, many;
    TExportOptions o = Options("150", "120", format);
    o.Workers = 1;
    std::vector<std::int64_t> positionsOne, positionsMany;
    TExportProgress p;
    p.SetPosition = [&](std::int64_t v) { positionsOne.push_back(v); };
    Export(one, *area, o, p);
    o.Workers = 5;
    p.SetPosition = [&](std::int64_t v) { positionsMany.push_back(v); };
    Export(many, *area, o, p);
    EXPECT_EQ(positionsOne, positionsMany);
    const auto files = Tree(one.Path());
    ASSERT_EQ(files, Tree(many.Path()));
    EXPECT_EQ(files.size(), 3u + 7 * 6);
    for (const std::string& f : files) {
      if (f.back() == '/') continue;
      EXPECT_EQ(ReadFile(one / f), ReadFile(many / f)) << f;
    }
  }
}

TEST(ExportTileSet, SmallAndEmptyMaps) {
  {
    TempDir dir;
    auto area = MakeArea("small", "small.map", {"x"}, {{0, 0, 123, 45}});
    Export(dir, *area, Options("400", "400"));
    EXPECT_EQ(ReadFile(dir / "small.set"), "small_0_0.jpg\r\n");
    EXPECT_EQ(ImageSize(ReadFile(dir / "set/small_0_0.jpg")), std::make_pair(123, 45));
  }
  for (Rect r : {Rect{0, 0, 0, 50}, Rect{0, 0, 50, 0}}) {
    TempDir dir;
    auto area = MakeArea("empty", "empty.gmi", {"a", "b"}, {r});
    int pumped = 0;
    TExportProgress p;
    p.ProcessMessages = [&] { ++pumped; };
    Export(dir, *area, Options("400", "400"), p);
    EXPECT_EQ(pumped, 0);
    EXPECT_EQ(Tree(dir.Path()), (std::set<std::string>{"empty.gmi", "empty.set", "set/"}));
    EXPECT_EQ(ReadFile(dir / "empty.set"), "");
    EXPECT_EQ(ReadFile(dir / "empty.gmi"), "a\r\nb\r\n");
  }
}

TEST(ExportTileSet, CalibrationCopyNames) {
  struct Case {
    std::string Name, FileName, Copy;
  };
  const std::vector<Case> cases = {
      {"North", "/data/North", "North"},             // no extension
      {"photo", "/data/photo.png", "photo.png"},     // an image opened by itself
      {"x", "/data/maps.d/x", "x"},                  // a dot in a folder is no extension
      {"Upper", "UPPER.MAP", "Upper.MAP"},           // extension in its own letter case
      {"dir/inner", "/data/inner.map", "inner.map"}, // the name's last component
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.FileName);
    TempDir dir;
    auto area = MakeArea(c.Name, c.FileName, {"line 1", "", "line\t3 "}, {{0, 0, 10, 10}});
    Export(dir, *area, Options("400", "400"));
    EXPECT_EQ(ReadFile(dir / c.Copy), "line 1\r\n\r\nline\t3 \r\n");
  }
}

TEST(ExportTileSet, PackingLeavesOnlyTheArchive) {
  TempDir dir;
  auto area = MakeArea("N", "N.map", {"cal"}, {{0, 0, 500, 300}});
  Export(dir, *area, Options("256", "256", 0, true));
  EXPECT_EQ(Tree(dir.Path()), std::set<std::string>{"N.tar"});
  const auto entries = ReadTar(dir / "N.tar");
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"N.map", "N.set", "set/N_0_0.jpg", "set/N_256_0.jpg",
                                              "set/N_0_256.jpg", "set/N_256_256.jpg"}));
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_EQ(entries[0].Data, "cal\r\n");
  EXPECT_EQ(entries[1].Data, "N_0_0.jpg\r\nN_256_0.jpg\r\nN_0_256.jpg\r\nN_256_256.jpg\r\n");
  EXPECT_EQ(ImageSize(entries[3].Data), std::make_pair(244, 256));
  for (const auto& e : entries) EXPECT_EQ(e.Type, '0') << e.Name;
  if (HavePython()) {
    EXPECT_EQ(PythonTarNames(dir / "N.tar"),
              "N.map\nN.set\nset/N_0_0.jpg\nset/N_256_0.jpg\nset/N_0_256.jpg\nset/N_256_256.jpg\n");
  }
}

TEST(ExportTileSet, ExportingTwiceKeepsForeignTiles) {
  TempDir dir;
  auto area = MakeArea("N", "N.map", {"cal"}, {{0, 0, 500, 300}});
  Export(dir, *area, Options("256", "256"));
  Export(dir, *area, Options("400", "400"));
  EXPECT_EQ(ReadFile(dir / "N.set"), "N_0_0.jpg\r\nN_400_0.jpg\r\n");
  EXPECT_TRUE(fs::exists(dir / "set/N_256_256.jpg"));
  EXPECT_EQ(ImageSize(ReadFile(dir / "set/N_0_0.jpg")), std::make_pair(400, 300));
  // Packing now deletes only what this run wrote, so set/ keeps the old tiles.
  Export(dir, *area, Options("400", "400", 0, true));
  EXPECT_EQ(Tree(dir.Path()), (std::set<std::string>{"N.tar", "set/", "set/N_256_0.jpg", "set/N_0_256.jpg",
                                                      "set/N_256_256.jpg"}));
  EXPECT_EQ(TarNames(dir / "N.tar"), (std::vector<std::string>{"N.map", "N.set", "set/N_0_0.jpg", "set/N_400_0.jpg"}));
}

TEST(ExportTileSet, UncoveredPixelsKeepTheFreshTile) {
  // A tile set with a hole: only the left half of a 20 x 10 picture is covered.
  auto area = MakeArea("hole", "hole.map", {}, {{0, 0, 10, 10}});
  area->Width = 20;
  {
    TempDir dir;
    Export(dir, *area, Png(7));
    const std::string data = ReadFile(dir / "set/hole_0_0.png");
    zv::Bitmap b;
    zv::DecodePng(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), b);
    ASSERT_EQ(b.Width(), 20);
    EXPECT_EQ(b.Pixel(15, 5), (zv::Rgb{0, 0, 0}));
    EXPECT_EQ(b.Pixel(3, 4), Pattern(3, 4));
  }
  {
    TempDir dir;
    Export(dir, *area, Options("400", "400"));
    const std::string data = ReadFile(dir / "set/hole_0_0.jpg");
    zv::Bitmap b;
    zv::DecodeJpeg(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), b);
    ASSERT_EQ(b.Width(), 20);
    const zv::Rgb c = b.Pixel(17, 5);
    EXPECT_GE(std::min({c.r, c.g, c.b}), 245) << int(c.r) << "," << int(c.g) << "," << int(c.b);
  }
}

TEST(ExportTileSet, QualityIsOneUnsignedByte) {
  auto area = MakeArea("q", "q.map", {}, {{0, 0, 64, 48}});
  const auto tile = [&](const std::string& quality) {
    TempDir dir;
    TExportOptions o = Options("400", "400");
    o.QualityText = quality;
    Export(dir, *area, o);
    return ReadFile(dir / "set/q_0_0.jpg");
  };
  const std::vector<std::pair<std::string, std::string>> same = {
      {"300", "44"}, {"abc", "85"}, {"", "85"}, {"0", "1"}, {"256", "1"}, {"-5", "100"}, {"  60", "60"}};
  for (const auto& [a, b] : same) EXPECT_EQ(tile(a), tile(b)) << a << " vs " << b;
  EXPECT_NE(tile("44"), tile("85"));
}

TEST(ExportTileSet, RefusesBadTileSizesBeforeWriting) {
  auto area = MakeArea("N", "N.map", {"cal"}, {{0, 0, 10, 10}});
  for (const std::string bad : {"0", "-1", "", "abc", "4x", " ", "99999999999"}) {
    SCOPED_TRACE(bad);
    TempDir dir;
    EXPECT_EQ(ExpectThrows([&] { Export(dir, *area, Options(bad, "400")); }),
              "Tile width must be a whole number of at least 1");
    EXPECT_EQ(ExpectThrows([&] { Export(dir, *area, Options("400", bad)); }),
              "Tile height must be a whole number of at least 1");
    zv::TDisplayMapsCore core;
    EXPECT_EQ(ExpectThrows([&] { zv::ExportAtlas(dir.Path(), "a", *core.Layouts, Options(bad, "4"), {}); }),
              "Tile width must be a whole number of at least 1");
    EXPECT_TRUE(Tree(dir.Path()).empty());
  }
  // A tile wider than the map is fine; "$4" is hexadecimal four.
  TempDir dir;
  Export(dir, *area, Options("2147483647", "$4"));
  EXPECT_EQ(ReadFile(dir / "N.set"), "N_0_0.jpg\r\nN_0_4.jpg\r\nN_0_8.jpg\r\n");
}

TEST(ExportTileSet, FailuresAreReported) {
  auto area = MakeArea("N", "N.map", {"cal"}, {{0, 0, 10, 10}});
  {
    // Missing target directory: the calibration copy cannot be created.
    TempDir dir;
    const std::string missing = dir / "missing";
    EXPECT_EQ(ExpectThrows([&] { zv::ExportSingleMap(missing, area.get(), Options("400", "400"), {}); }),
              zv::msg::CannotCreateFile(missing + "/N.map"));
  }
  {
    // The tile list's name is taken by a directory.
    TempDir dir;
    fs::create_directory(dir / "N.set");
    EXPECT_EQ(ExpectThrows([&] { Export(dir, *area, Options("400", "400")); }),
              zv::msg::CannotCreateFile(dir / "N.set"));
  }
  for (int workers : {1, 4}) {
    // A tile that cannot be created ends the run; the list keeps the earlier
    // tiles, and tiles that other workers wrote meanwhile are gone again.
    SCOPED_TRACE(workers);
    TempDir dir;
    auto wide = MakeArea("N", "N.map", {"cal"}, {{0, 0, 60, 10}});
    fs::create_directories(dir / "set/N_5_0.jpg");
    TExportOptions o = Options("5", "400");
    o.Workers = workers;
    EXPECT_EQ(ExpectThrows([&] { Export(dir, *wide, o); }), zv::msg::CannotCreateFile(dir / "set/N_5_0.jpg"));
    EXPECT_EQ(ReadFile(dir / "N.set"), "N_0_0.jpg\r\n");
    EXPECT_EQ(Tree(dir.Path()), (std::set<std::string>{"N.map", "N.set", "set/", "set/N_0_0.jpg", "set/N_5_0.jpg/"}));
  }
  if (fs::exists("/dev/full")) {
    // A calibration copy that cannot be written (full disk).
    auto full = MakeArea("full", "full", {"cal"}, {{0, 0, 1, 1}});
    const std::string msg = ExpectThrows([&] { zv::ExportSingleMap("/dev", full.get(), Options("400", "400"), {}); });
    EXPECT_NE(msg.find("/dev/full"), std::string::npos) << msg;
  }
  EXPECT_EQ(ExpectThrows([&] { zv::ExportSingleMap("/tmp", nullptr, Options("400", "400"), {}); }),
            "No map is shown to export.");
}

TEST(ExportTileSet, ColourDepthRows) {
  const std::vector<std::pair<int, int>> expected = {{0, 1}, {0, 4}, {0, 8}, {3, 2}, {3, 4}, {3, 6}, {3, 8}, {2, 16}};
  for (int row = 0; row < 8; ++row) {
    EXPECT_EQ(zv::ColorDepthRows[row].ColorType, static_cast<zv::TPngColorType>(expected[row].first));
    EXPECT_EQ(zv::ColorDepthRows[row].BitDepth, static_cast<std::uint32_t>(expected[row].second));
  }
  EXPECT_STREQ(zv::ColorDepthRows[6].Label, "8-bit color (256 colors)");
  // Every row writes tiles, the 64-colour one included.
  auto area = MakeArea("d", "d.map", {}, {{0, 0, 30, 20}});
  for (int row = 0; row < 8; ++row) {
    SCOPED_TRACE(row);
    TempDir dir;
    Export(dir, *area, Png(row));
    EXPECT_EQ(ImageSize(ReadFile(dir / "set/d_0_0.png")), std::make_pair(30, 20));
  }
}

// ---- Atlas ----

namespace {

struct Atlas {
  zv::TDisplayMapsCore Core;
  zv::TMapLayout* Add(const std::string& name) { return Core.Layouts->AddLayout(name); }
  zv::TMapArea* AddArea(zv::TMapLayout* layout, const std::string& name, const std::string& fileName,
                        std::vector<Rect> images) {
    return layout->Areas->Add(MakeArea(name, fileName, {"cal " + name}, std::move(images), &Core, layout));
  }
};

} // namespace

TEST(ExportAtlas, PlainTree) {
  TempDir dir;
  Atlas a;
  auto* topo = a.Add("Topo");
  a.AddArea(topo, "North", "/in/North.map", {{0, 0, 300, 200}});
  a.AddArea(topo, "South", "/in/South.gmi", {{0, 0, 100, 100}});
  a.Add("Empty");
  zv::ExportAtlas(dir.Path(), "myatlas", *a.Core.Layouts, Options("200", "200"), {});
  EXPECT_EQ(Tree(dir.Path()),
            (std::set<std::string>{"myatlas.vka", "Topo/", "Topo/North/", "Topo/North/North.map",
                                   "Topo/North/North.set", "Topo/North/set/", "Topo/North/set/North_0_0.jpg",
                                   "Topo/North/set/North_200_0.jpg", "Topo/South/", "Topo/South/South.gmi",
                                   "Topo/South/South.set", "Topo/South/set/", "Topo/South/set/South_0_0.jpg",
                                   "Empty/"}));
  EXPECT_EQ(ReadFile(dir / "myatlas.vka"), "Atlas 1.0\r\n");
  EXPECT_EQ(ReadFile(dir / "Topo/South/South.gmi"), "cal South\r\n");
}

TEST(ExportAtlas, TaredAtlasEntriesAndCleanUp) {
  TempDir dir;
  Atlas a;
  auto* topo = a.Add("Topo");
  a.AddArea(topo, "North", "North.map", {{0, 0, 300, 200}});
  a.AddArea(topo, "South", "South.gmi", {{0, 0, 100, 100}});
  zv::ExportAtlas(dir.Path(), "A", *a.Core.Layouts, Options("200", "200", 0, true), {});
  EXPECT_EQ(Tree(dir.Path()), (std::set<std::string>{"A.tar", "Topo/", "Topo/North/", "Topo/North/North.tar",
                                                      "Topo/South/", "Topo/South/South.tar"}));
  const auto entries = ReadTar(dir / "A.tar");
  std::vector<std::string> names;
  std::string types;
  for (const auto& e : entries) {
    names.push_back(e.Name);
    types += e.Type;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"A.vka", "Topo/", "Topo/North/", "Topo/North/North.map",
                                              "Topo/North/North.set", "Topo/North/set/", "Topo/South/",
                                              "Topo/South/South.gmi", "Topo/South/South.set", "Topo/South/set/"}));
  EXPECT_EQ(types, "0550055005");
  EXPECT_EQ(entries[0].Data, "Atlas 1.0\r\n");
  EXPECT_EQ(entries[4].Data, "North_0_0.jpg\r\nNorth_200_0.jpg\r\n");
  EXPECT_EQ(TarNames(dir / "Topo/North/North.tar"),
            (std::vector<std::string>{"North.map", "North.set", "set/North_0_0.jpg", "set/North_200_0.jpg"}));
  if (HavePython()) {
    EXPECT_EQ(PythonTarNames(dir / "A.tar"), "A.vka\nTopo/\nTopo/North/\nTopo/North/North.map\nTopo/North/North.set\n"
                                             "Topo/North/set/\nTopo/South/\nTopo/South/South.gmi\n"
                                             "Topo/South/South.set\nTopo/South/set/\n");
  }
}

TEST(ExportAtlas, EmptyAtlas) {
  zv::TDisplayMapsCore core;
  {
    TempDir dir;
    zv::ExportAtlas(dir.Path(), "", *core.Layouts, Options("400", "400"), {});
    EXPECT_EQ(Tree(dir.Path()), std::set<std::string>{".vka"});
  }
  {
    TempDir dir;
    zv::ExportAtlas(dir.Path(), "e", *core.Layouts, Options("400", "400", 0, true), {});
    EXPECT_EQ(Tree(dir.Path()), std::set<std::string>{"e.tar"});
    EXPECT_EQ(TarNames(dir / "e.tar"), std::vector<std::string>{"e.vka"});
  }
}

TEST(ExportAtlas, RefusesNamesThatLeaveTheTarget) {
  const auto refused = [](const std::string& layout, const std::string& map, const std::string& atlasName) {
    TempDir dir;
    Atlas a;
    a.AddArea(a.Add("Fine"), "ok", "ok.map", {{0, 0, 4, 4}});
    a.AddArea(a.Add(layout), map, "m.map", {{0, 0, 4, 4}});
    const std::string msg =
        ExpectThrows([&] { zv::ExportAtlas(dir.Path(), atlasName, *a.Core.Layouts, Options("400", "400"), {}); });
    EXPECT_TRUE(Tree(dir.Path()).empty());
    return msg;
  };
  for (const std::string bad : {"..", ".", "a/b", "a\\b", "../up", ""}) {
    SCOPED_TRACE(bad);
    const std::string msg = refused(bad, "m", "atlas");
    EXPECT_NE(msg.find("layout name \"" + bad + "\""), std::string::npos) << msg;
  }
  for (const std::string bad : {"..", ".", "a\\b", "x/.."}) {
    SCOPED_TRACE(bad);
    const std::string msg = refused("L", bad, "atlas");
    EXPECT_NE(msg.find("map name"), std::string::npos) << msg;
  }
  for (const std::string bad : {"..", ".", "a/b", "a\\b"}) {
    SCOPED_TRACE(bad);
    const std::string msg = refused("L", "m", bad);
    EXPECT_NE(msg.find("atlas name \"" + bad + "\""), std::string::npos) << msg;
  }
  // Single map: a map name reduced to ".." is refused too.
  TempDir dir;
  auto area = MakeArea("maps/..", "m.map", {}, {{0, 0, 4, 4}});
  EXPECT_NE(ExpectThrows([&] { Export(dir, *area, Options("400", "400")); }).find("map name"), std::string::npos);
  EXPECT_TRUE(Tree(dir.Path()).empty());
}

TEST(ExportAtlas, SameMapNameSharesADirectory) {
  TempDir dir;
  Atlas a;
  auto* l = a.Add("L");
  a.AddArea(l, "m", "m.map", {{0, 0, 500, 10}});
  a.AddArea(l, "m", "m.map", {{0, 0, 10, 10}});
  zv::ExportAtlas(dir.Path(), "x", *a.Core.Layouts, Options("400", "400"), {});
  EXPECT_EQ(ReadFile(dir / "L/m/m.set"), "m_0_0.jpg\r\n");
  EXPECT_TRUE(fs::exists(dir / "L/m/set/m_400_0.jpg"));
}

TEST(ExportTargetDirectory, MadeWithItsParentsOrRefused) {
  TempDir dir;
  const std::string deep = dir / "a/b/c";
  zv::CreateTargetDirectory(deep);
  EXPECT_TRUE(fs::is_directory(deep));
  zv::CreateTargetDirectory(deep); // an existing one is reused
  // A file where a directory should go.
  { std::ofstream(dir / "file") << "x"; }
  const std::string blocked = dir / "file/sub";
  const std::string message = ExpectThrows([&] { zv::CreateTargetDirectory(blocked); });
  EXPECT_EQ(message.rfind(zv::msg::CannotCreateTargetDirectory(blocked), 0), 0u) << message;
}
