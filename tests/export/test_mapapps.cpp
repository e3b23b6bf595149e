// Map-app files read back by their own means: SQLite queries, the zip's
// own headers, an independent Web Mercator reprojection of a synthetic sheet.

#include "ExportTestUtil.h"

#include "base/Errors.h"
#include "codecs/Png.h"
#include "export/ExportToMapApps.h"
#include "export/MapBorder.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <map>
#include <numbers>

using namespace zvtest;

namespace {

// The sheet: 1024 x 1024 pixels over 17.0..17.1 E, 48.1..48.2 N, linear in
// latitude and longitude; red grows with x, green with y, blue is fixed.
constexpr int kSide = 1024;
constexpr double kWest = 17.0, kNorth = 48.2, kSpan = 0.1;

zv::Rgb SheetColour(double x, double y) {
  return zv::Rgb{static_cast<std::uint8_t>(x / 4), static_cast<std::uint8_t>(y / 4), 60};
}

std::unique_ptr<zv::TMapArea> Sheet(std::vector<std::string> lines = {}, std::uint8_t blue = 60, double west = kWest) {
  auto area = std::make_unique<zv::TMapArea>(nullptr, nullptr);
  area->Name = area->FileName = "sheet.map";
  area->Lines = std::move(lines);
  auto image = std::make_unique<zv::TMapImage>(nullptr, area.get());
  image->Bitmap = zv::Bitmap(kSide, kSide, zv::PixelFormat::pf24bit);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      zv::Rgb c = SheetColour(x, y);
      c.b = blue;
      image->Bitmap.SetPixel(x, y, c);
    }
  area->Images.push_back(std::move(image));
  area->Width = area->Height = kSide;
  for (auto [x, y] : {std::pair{0, 0}, {kSide, 0}, {0, kSide}, {kSide, kSide}}) {
    zv::TCalibrationPoint p;
    p.X = x, p.Y = y;
    p.Lon = west + kSpan * x / kSide;
    p.Lat = kNorth - kSpan * y / kSide;
    p.HasLatLon = true;
    area->Points.push_back(p);
  }
  return area;
}

// Where Web Mercator pixel centre (x, y) of a zoom level falls on the sheet.
void SheetPixel(int zoom, double x, double y, double& px, double& py) {
  const double size = 256.0 * (1 << zoom);
  const double lon = (x + 0.5) / size * 360 - 180;
  const double lat = std::atan(std::sinh(std::numbers::pi * (1 - 2 * (y + 0.5) / size))) * 180 / std::numbers::pi;
  px = (lon - kWest) / kSpan * kSide;
  py = (kNorth - lat) / kSpan * kSide;
}

using TTiles = std::map<std::tuple<int, int, int>, std::string>;

TTiles Query(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  TTiles out;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  while (st && sqlite3_step(st) == SQLITE_ROW) {
    const auto* blob = static_cast<const char*>(sqlite3_column_blob(st, 3));
    out[{sqlite3_column_int(st, 0), sqlite3_column_int(st, 1), sqlite3_column_int(st, 2)}] =
        std::string(blob ? blob : "", static_cast<std::size_t>(sqlite3_column_bytes(st, 3)));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

zv::Bitmap Decode(const std::string& png) {
  zv::Bitmap b;
  zv::DecodePng(reinterpret_cast<const std::uint8_t*>(png.data()), png.size(), b);
  return b;
}

zv::TMapAppOptions Options(const TempDir& dir, zv::TMapAppFormat format, const std::string& name) {
  zv::TMapAppOptions o;
  o.Format = format;
  o.Target = dir / name;
  o.Encoding.Format = zv::TTileFormat::Png;
  return o;
}

std::vector<const zv::TMapArea*> Areas(std::initializer_list<const zv::TMapArea*> areas) { return areas; }

// The highest zoom's tiles against the reference: every covered pixel within
// 2 levels of the sheet's colour there, every pixel off the sheet white.
void ExpectReprojected(const TTiles& tiles, int zoom, double inset = 0) {
  int checked = 0;
  for (const auto& [key, bytes] : tiles) {
    const auto [z, column, row] = key;
    if (z != zoom) continue;
    const zv::Bitmap tile = Decode(bytes);
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        double px = 0, py = 0;
        SheetPixel(zoom, column * 256.0 + x, row * 256.0 + y, px, py);
        const zv::Rgb got = tile.Pixel(x, y);
        if (px < inset + 1 || py < inset + 1 || px > kSide - inset - 1 || py > kSide - inset - 1) {
          if (px < inset - 1 || py < inset - 1 || px > kSide - inset + 1 || py > kSide - inset + 1) {
            ASSERT_EQ(got, (zv::Rgb{255, 255, 255})) << column << "," << row << " " << x << "," << y;
          }
          continue;
        }
        const zv::Rgb want = SheetColour(px - 0.5, py - 0.5);
        ASSERT_LE(std::abs(got.r - want.r), 2) << column << "," << row << " " << x << "," << y;
        ASSERT_LE(std::abs(got.g - want.g), 2) << column << "," << row << " " << x << "," << y;
        ++checked;
      }
  }
  EXPECT_GT(checked, 256 * 256);
}

TEST(MapApps, MbtilesMatchAReferenceReprojection) {
  TempDir dir;
  const auto sheet = Sheet();
  zv::TMapAppOptions o = Options(dir, zv::TMapAppFormat::Mbtiles, "sheet.mbtiles");
  // 10.9 m pixels at 48.15 N: zoom 13 has 12.7 m, zoom 14 6.4 m.
  EXPECT_EQ(zv::SuggestedMaxZoom(Areas({sheet.get()}), true), 14);
  EXPECT_EQ(zv::ExportToMapApps(Areas({sheet.get()}), o, {}), "");
  const std::string file = o.Target;
  const auto value = [&](const std::string& name) {
    const TTiles t = Query(file, "SELECT 0, 0, 0, value FROM metadata WHERE name = '" + name + "'");
    return t.empty() ? std::string("<none>") : t.begin()->second;
  };
  EXPECT_EQ(value("format"), "png");
  EXPECT_EQ(value("minzoom"), "9");
  EXPECT_EQ(value("maxzoom"), "14");
  EXPECT_EQ(value("type"), "baselayer");
  EXPECT_EQ(value("bounds"), "17.0000000,48.1000000,17.1000000,48.2000000");
  // Rows from the south: flipped back, the tiles are where Web Mercator puts the sheet.
  TTiles xyz;
  for (auto& [key, bytes] : Query(file, "SELECT zoom_level, tile_column, (1 << zoom_level) - 1 - tile_row, "
                                        "tile_data FROM tiles"))
    xyz[key] = bytes;
  // Every level holds the tiles the sheet's corners span, no more.
  std::map<int, int> perLevel, spanned;
  for (const auto& [key, bytes] : xyz) ++perLevel[std::get<0>(key)];
  for (int z = 9; z <= 14; ++z) {
    const double n = 1 << z, rad = std::numbers::pi / 180;
    const auto column = [&](double lon) { return int((lon + 180) / 360 * n); };
    const auto row = [&](double lat) {
      return int((1 - std::log(std::tan(lat * rad) + 1 / std::cos(lat * rad)) / std::numbers::pi) / 2 * n);
    };
    spanned[z] = (column(kWest + kSpan) - column(kWest) + 1) * (row(kNorth - kSpan) - row(kNorth) + 1);
  }
  EXPECT_EQ(perLevel, spanned);
  ExpectReprojected(xyz, 14);
}

TEST(MapApps, LowerLevelsAreBoxAveragesOfTheLevelAbove) {
  TempDir dir;
  const auto sheet = Sheet();
  zv::TMapAppOptions o = Options(dir, zv::TMapAppFormat::SqliteDb, "sheet.sqlitedb");
  o.MinZoom = 12, o.MaxZoom = 13;
  zv::ExportToMapApps(Areas({sheet.get()}), o, {});
  // BigPlanet: z = 17 - zoom, rows from the north.
  const TTiles tiles = Query(o.Target, "SELECT 17 - z, x, y, image FROM tiles");
  ASSERT_EQ(Query(o.Target, "SELECT minzoom, maxzoom, inverted_y, tilenumbering FROM info").count({4, 5, 0}), 1u);
  for (const auto& [key, bytes] : tiles) {
    const auto [z, column, row] = key;
    if (z != 12) continue;
    const zv::Bitmap parent = Decode(bytes);
    for (int q = 0; q < 4; ++q) {
      const auto child = tiles.find({13, 2 * column + q % 2, 2 * row + q / 2});
      if (child == tiles.end()) continue;
      const zv::Bitmap c = Decode(child->second);
      for (int y = 0; y < 128; y += 7)
        for (int x = 0; x < 128; x += 7) {
          const zv::Rgb p = parent.Pixel(x + 128 * (q % 2), y + 128 * (q / 2));
          int sum = 0;
          for (int k = 0; k < 4; ++k) sum += c.Pixel(2 * x + k % 2, 2 * y + k / 2).r;
          // Mixed covered/uncovered blocks average the covered pixels only.
          if (c.Pixel(2 * x, 2 * y) == c.Pixel(2 * x + 1, 2 * y + 1)) {
            EXPECT_NEAR(p.r, (sum + 2) / 4, 1);
          }
        }
    }
  }
}

TEST(MapApps, CollarsAreCutAtTheBorderPolygonAndLaterMapsDrawOver) {
  const std::vector<std::string> border = {"MMPXY,1,100,100", "MMPXY,2,924,100", "MMPXY,3,924,924",
                                           "MMPXY,4,100,924"};
  const struct {
    bool Crop;
    double Inset;
  } cases[] = {{true, 100}, {false, 0}};
  for (const auto& c : cases) {
    TempDir dir;
    const auto sheet = Sheet(border);
    zv::TMapAppOptions o = Options(dir, zv::TMapAppFormat::Mbtiles, "cut.mbtiles");
    o.MinZoom = o.MaxZoom = 14;
    o.Crop = c.Crop;
    zv::ExportToMapApps(Areas({sheet.get()}), o, {});
    ExpectReprojected(Query(o.Target, "SELECT zoom_level, tile_column, 16383 - tile_row, tile_data FROM tiles"), 14,
                      c.Inset);
  }
  // A second sheet, blue 200, over the first: cropped, it shows only inside its border.
  TempDir dir;
  const auto first = Sheet();
  const auto second = Sheet(border, 200);
  zv::TMapAppOptions o = Options(dir, zv::TMapAppFormat::Mbtiles, "two.mbtiles");
  o.MinZoom = o.MaxZoom = 14;
  zv::ExportToMapApps(Areas({first.get(), second.get()}), o, {});
  std::map<int, int> blues;
  for (const auto& [key, bytes] : Query(o.Target, "SELECT 0, tile_column, tile_row, tile_data FROM tiles")) {
    const zv::Bitmap tile = Decode(bytes);
    for (int y = 0; y < 256; y += 4)
      for (int x = 0; x < 256; x += 4) ++blues[tile.Pixel(x, y).b];
  }
  EXPECT_GT(blues[60], 0);
  EXPECT_GT(blues[200], blues[60]);
}

TEST(MapApps, RectanglesInsideABorderWithANotch) {
  // A U: the square 0..100 with a slot from the top, x 40..60, down to y 80.
  const std::vector<zv::TPicturePoint> l = {{0, 0},  {40, 0},   {40, 80}, {60, 80},
                                            {60, 0}, {100, 0}, {100, 100}, {0, 100}};
  const struct {
    double X0, Y0, X1, Y1;
    bool Inside;
  } cases[] = {
      {10, 10, 30, 90, true},  // the left arm
      {10, 85, 90, 95, true},  // below the slot
      {10, 10, 90, 95, false}, // every corner inside, the slot within
      {30, 70, 50, 90, false}, // one corner in the slot
      {-5, 10, 20, 20, false}, // over the edge
      {45, 10, 55, 40, false}, // in the slot
  };
  for (const auto& c : cases)
    EXPECT_EQ(zv::RectInsidePolygon(l, c.X0, c.Y0, c.X1, c.Y1), c.Inside) << c.X0 << "," << c.Y0;
}

TEST(MapApps, TheFileIsTheSameWhateverTheNumberOfThreads) {
  // One sheet, and a layout of four side by side: over 40 tiles wide at the
  // highest level, several blocks and their seams.
  std::vector<std::unique_ptr<zv::TMapArea>> sheets;
  for (int i = 0; i < 4; ++i) sheets.push_back(Sheet({}, 60, kWest + i * kSpan));
  const std::vector<std::vector<const zv::TMapArea*>> layouts = {
      {sheets[0].get()}, {sheets[0].get(), sheets[1].get(), sheets[2].get(), sheets[3].get()}};
  for (const auto& layout : layouts) {
    std::string first;
    for (unsigned workers : {1u, 3u}) {
      TempDir dir;
      zv::TMapAppOptions o = Options(dir, zv::TMapAppFormat::Mbtiles, "sheet.mbtiles");
      o.Encoding.Format = zv::TTileFormat::Jpeg;
      o.Workers = workers;
      zv::ExportToMapApps(layout, o, {});
      if (first.empty())
        first = ReadFile(o.Target);
      else
        EXPECT_TRUE(ReadFile(o.Target) == first) << layout.size() << " sheets";
    }
  }
}

TEST(MapApps, StopsAndFailuresLeaveNoFile) {
  TempDir dir;
  const auto sheet = Sheet();
  for (zv::TMapAppFormat format : {zv::TMapAppFormat::Mbtiles, zv::TMapAppFormat::SqliteDb, zv::TMapAppFormat::Kmz}) {
    zv::TExportProgress progress;
    int asked = 0;
    progress.StopRequested = [&] { return ++asked == 3; };
    const zv::TMapAppOptions o = Options(dir, format, "stopped");
    EXPECT_THROW(zv::ExportToMapApps(Areas({sheet.get()}), o, progress), zv::EExportStopped);
    EXPECT_TRUE(Tree(dir.Path()).empty());
  }
  // No fit: nothing to draw, nothing written.
  auto blank = Sheet();
  blank->Points.clear();
  EXPECT_THROW(zv::ExportToMapApps(Areas({blank.get()}), Options(dir, zv::TMapAppFormat::Mbtiles, "x"), {}),
               zv::Error);
  // An existing file stays unless replacing is asked for.
  WriteFile(dir / "old.mbtiles", "old");
  zv::TMapAppOptions o = Options(dir, zv::TMapAppFormat::Mbtiles, "old.mbtiles");
  EXPECT_THROW(zv::ExportToMapApps(Areas({sheet.get()}), o, {}), zv::EFileError);
  EXPECT_EQ(ReadFile(o.Target), "old");
  o.Replace = true;
  o.MinZoom = o.MaxZoom = 10;
  zv::ExportToMapApps(Areas({sheet.get()}), o, {});
  EXPECT_EQ(ReadFile(o.Target).substr(0, 15), "SQLite format 3");
  EXPECT_EQ(Tree(dir.Path()), (std::set<std::string>{"old.mbtiles"}));
  // A folder that is not there.
  EXPECT_THROW(zv::ExportToMapApps(Areas({sheet.get()}), Options(dir, o.Format, "none/x.mbtiles"), {}),
               zv::EFileError);
}

std::uint32_t Le32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
  return v;
}

// The central directory's names and data, as a zip reader finds them from the end record.
std::vector<std::pair<std::string, std::string>> ReadZip(const std::string& zip) {
  const std::size_t end = zip.rfind(std::string("PK\x05\x06", 4));
  std::vector<std::pair<std::string, std::string>> out;
  if (end == std::string::npos) return out;
  std::size_t at = Le32(zip, end + 16);
  for (unsigned n = Le32(zip, end + 8) & 0xFFFF; n > 0; --n) {
    const std::size_t nameLength = Le32(zip, at + 28) & 0xFFFF, size = Le32(zip, at + 20);
    const std::size_t local = Le32(zip, at + 42);
    const std::size_t data = local + 30 + (Le32(zip, local + 26) & 0xFFFF) + (Le32(zip, local + 28) & 0xFFFF);
    out.emplace_back(zip.substr(at + 46, nameLength), zip.substr(data, size));
    at += 46 + nameLength;
  }
  return out;
}

TEST(MapApps, KmzHoldsBaselineJpegOverlaysWithinTheTileLimit) {
  const struct {
    int Limit;
    bool Lowered;
  } cases[] = {{100, false}, {1, true}};
  for (const auto& c : cases) {
    TempDir dir;
    const auto sheet = Sheet();
    zv::TMapAppOptions o = Options(dir, zv::TMapAppFormat::Kmz, "sheet.kmz");
    o.KmzTiles = c.Limit;
    EXPECT_EQ(zv::ExportToMapApps(Areas({sheet.get()}), o, {}).empty(), !c.Lowered);
    const auto entries = ReadZip(ReadFile(o.Target));
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0].first, "doc.kml");
    EXPECT_LE(entries.size() - 1, static_cast<std::size_t>(c.Limit));
    const std::string& kml = entries[0].second;
    for (std::size_t i = 1; i < entries.size(); ++i) {
      EXPECT_NE(kml.find("<href>" + entries[i].first + "</href>"), std::string::npos);
      const auto [w, h] = ImageSize(entries[i].second);
      EXPECT_TRUE(w >= 1 && w <= 1024 && h >= 1 && h <= 1024);
      // Baseline: a start-of-frame 0 marker, no progressive one.
      EXPECT_NE(entries[i].second.find("\xFF\xC0"), std::string::npos);
      EXPECT_EQ(entries[i].second.find("\xFF\xC2"), std::string::npos);
    }
    EXPECT_NE(kml.find("<drawOrder>50</drawOrder>"), std::string::npos);
    EXPECT_NE(kml.find("<north>48.200000000</north>"), std::string::npos);
    EXPECT_NE(kml.find("<west>17.000000000</west>"), std::string::npos);
  }
}

} // namespace
