#include "ExportTestUtil.h"

#include "base/Errors.h"
#include "base/Paths.h"
#include "codecs/Jpeg.h"
#include "codecs/Png.h"
#include "codecs/Reduce.h"
#include "export/ExportToAmbulo.h"
#include "export/ZoomOut.h"
#include "model/CalibrationFit.h"
#include "model/CalibrationText.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace zvtest;
using zv::TExportOptions;

namespace {

struct Rect {
  int X, Y, W, H;
};

// A model with areas whose images show the pattern at their place in the
// picture, so the area's picture reads Pattern(x, y) wherever it is covered.
struct Atlas {
  zv::TDisplayMapsCore Core;
  zv::TMapLayout* Add(const std::string& name) { return Core.Layouts->AddLayout(name); }
  zv::TMapArea* AddArea(zv::TMapLayout* layout, const std::string& name, const std::string& fileName,
                        std::vector<std::string> lines, std::vector<Rect> images) {
    auto area = std::make_unique<zv::TMapArea>(&Core, layout);
    area->Name = name;
    area->FileName = fileName;
    area->Lines = std::move(lines);
    for (const Rect& r : images) {
      auto image = std::make_unique<zv::TMapImage>(&Core, area.get());
      image->Bitmap = PatternBitmap(r.W, r.H, r.X, r.Y);
      image->X = r.X;
      image->Y = r.Y;
      area->Width = std::max(area->Width, r.X + r.W);
      area->Height = std::max(area->Height, r.Y + r.H);
      area->Images.push_back(std::move(image));
    }
    return layout->Areas->Add(std::move(area));
  }
};

TExportOptions ZoomOptions(int layers, int format, bool tared = false, const std::string& tile = "40") {
  TExportOptions o;
  o.TileWidthText = tile;
  o.TileHeightText = tile;
  o.Format = format == 1 ? zv::TTileFormat::Png : zv::TTileFormat::Jpeg;
  o.DepthRow = 7; // 24-bit: the tiles hold the reduced pixels exactly
  o.Tared = tared;
  o.ZoomOutLayers = layers;
  return o;
}

zv::Bitmap DecodeFile(const std::string& path) {
  const std::string data = ReadFile(path);
  zv::Bitmap b;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  if (zv::UpperFileExt(path) == ".PNG")
    zv::DecodePng(bytes, data.size(), b);
  else
    zv::DecodeJpeg(bytes, data.size(), b);
  return b;
}

// The picture put together from a map directory's tile list and tiles. With
// jpegOf, each tile is compared with that picture's rectangle encoded as a
// JPEG tile the same way, which leaves the reduction as the only difference.
zv::Bitmap PictureFromTiles(const fs::path& mapDir, const std::string& name, int width, int height,
                            const zv::Bitmap* jpegOf = nullptr) {
  zv::Bitmap picture(width, height, zv::PixelFormat::pf24bit);
  const std::string list = ReadFile(mapDir / (name + ".set"));
  for (std::size_t pos = 0; pos < list.size();) {
    const std::size_t end = list.find("\r\n", pos);
    const std::string tile = list.substr(pos, end - pos);
    pos = end + 2;
    int x = 0, y = 0;
    EXPECT_EQ(std::sscanf(tile.c_str() + name.size(), "_%d_%d.", &x, &y), 2) << tile;
    zv::Bitmap b = DecodeFile((mapDir / "set" / tile).string());
    if (jpegOf) {
      zv::Bitmap want(b.Width(), b.Height(), zv::PixelFormat::pf24bit);
      want.CopyRect(0, 0, *jpegOf, x, y, b.Width(), b.Height());
      std::vector<std::uint8_t> encoded;
      zv::EncodeJpegTile(want, 85, encoded);
      if (ReadFile(mapDir / "set" / tile) == std::string(encoded.begin(), encoded.end())) b = want;
    }
    picture.CopyRect(x, y, b, 0, 0, b.Width(), b.Height());
  }
  return picture;
}

// The reduction done the plain way, pixel by pixel from the pattern: one
// halving at a time, (sum + n / 2) / n over the n pixels of each block.
zv::Bitmap BoxReduced(const zv::Bitmap& full, int levels) {
  zv::Bitmap b = full;
  for (int l = 0; l < levels; ++l) {
    zv::Bitmap half((b.Width() + 1) / 2, (b.Height() + 1) / 2, zv::PixelFormat::pf24bit);
    for (int y = 0; y < half.Height(); ++y)
      for (int x = 0; x < half.Width(); ++x) {
        int sum[3] = {0, 0, 0}, n = 0;
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx) {
            if (2 * x + dx >= b.Width() || 2 * y + dy >= b.Height()) continue;
            const zv::Rgb p = b.Pixel(2 * x + dx, 2 * y + dy);
            sum[0] += p.r, sum[1] += p.g, sum[2] += p.b, ++n;
          }
        std::uint8_t* q = half.Row(y) + 3 * x;
        for (int c = 0; c < 3; ++c) q[c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
      }
    b = std::move(half);
  }
  return b;
}

int LargestDifference(const zv::Bitmap& a, const zv::Bitmap& b) {
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const zv::Rgb p = a.Pixel(x, y), q = b.Pixel(x, y);
      worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
    }
  return worst;
}

} // namespace

TEST(ZoomOut, LayerNamesAndCoordinates) {
  EXPECT_EQ(zv::ZoomOutLayerName("Topo", 1), "Topo 50%");
  EXPECT_EQ(zv::ZoomOutLayerName("Topo", 2), "Topo 25%");
  EXPECT_EQ(zv::ZoomOutLayerName("Topo", 3), "Topo 12.5%");
  EXPECT_EQ(zv::ZoomOutLayerName("Topo", 4), "Topo 6.25%");
  // round(v / k), halves away from zero.
  const std::vector<std::tuple<int, int, int>> cases = {{0, 1, 0},
                                                        {1, 1, 1},
                                                        {2, 1, 1},
                                                        {3, 1, 2},
                                                        {-1, 1, -1},
                                                        {-3, 1, -2},
                                                        {5, 2, 1},
                                                        {6, 2, 2},
                                                        {-6, 2, -2},
                                                        {-5, 2, -1},
                                                        {7, 0, 7},
                                                        {23, 4, 1},
                                                        {24, 4, 2},
                                                        {-24, 4, -2},
                                                        {2147483647, 1, 1073741824},
                                                        {-2147483647 - 1, 4, -134217728}};
  for (const auto& [v, level, want] : cases) EXPECT_EQ(zv::ReducedCoordinate(v, level), want) << v << " " << level;
}

TEST(ZoomOut, MapCalibrationCopy) {
  const std::vector<std::string> lines = {
      "OziExplorer Map Data File Version 2.2",
      "Point title line, 1, 2", // the header is never a point line
      "POINT,xy,  100,  200",   // line 3 names the image, even like this
      "Point01,xy,  101,  203,in, deg,  48, 30.0000,N,  17,  6.0000,E, grid,   ,   ,   ,N",
      "Point02,xy,     ,     ,in, deg,    ,        ,N,    ,        ,E, grid,   ,   ,   ,N",
      "point03,xy,7,-9,in, deg,  -48, 30.5,S,  17,  6.0000,W",
      "POINTS,x,123456789,-1", // only the first five letters count
      "Pointer,xy,12.5,3",     // not an integer: it yields no point, left alone
      "IWH,Map Image Width/Height,  1001,   777",
      "IWH,Map Image Width/Height,1001,777",
      "Comment,  100,  200",
  };
  const std::vector<std::string> want = {
      "OziExplorer Map Data File Version 2.2",
      "Point title line, 1, 2",
      "POINT,xy,  100,  200",
      "Point01,xy,   25,   51,in, deg,  48, 30.0000,N,  17,  6.0000,E, grid,   ,   ,   ,N",
      "Point02,xy,     ,     ,in, deg,    ,        ,N,    ,        ,E, grid,   ,   ,   ,N",
      "point03,xy,2,-2,in, deg,  -48, 30.5,S,  17,  6.0000,W",
      "POINTS,x, 30864197, 0",
      "Pointer,xy,12.5,3",
      "IWH,Map Image Width/Height,   251,   195",
      "IWH,Map Image Width/Height,1001,777",
      "Comment,  100,  200",
  };
  EXPECT_EQ(zv::ReducedCalibrationLines(lines, ".MAP", 1001, 777, 2), want);
  EXPECT_EQ(zv::ReducedCalibrationLines(lines, ".MAP", 1001, 777, 0), lines);
  // Other formats have no point lines to change.
  EXPECT_EQ(zv::ReducedCalibrationLines(lines, ".PNG", 1001, 777, 2), lines);
}

TEST(ZoomOut, OnlyTheImageSizeLineIsThePicturesSize) {
  // A name line and a header line that start with "IWH," are no size lines.
  const std::vector<std::string> lines = {"OziExplorer Map Data File Version 2.2", "IWH,My map,640,480", "m.png",
                                          "IWH,Other,640,480", "IWH,Map Image Width/Height,640,480"};
  std::vector<std::string> want = lines;
  want[4] = "IWH,Map Image Width/Height,320,240";
  EXPECT_EQ(zv::ReducedCalibrationLines(lines, ".MAP", 640, 480, 1), want);
}

TEST(ZoomOut, ReducedFitAgreesWithTheFullOne) {
  // A calibration of a 4001 x 3001 picture, slightly rotated.
  const std::vector<std::string> lines = {
      "OziExplorer Map Data File Version 2.2",
      "m",
      "m.png",
      "Point01,xy,   13,   27,in, deg,  48, 59.9150,N,  17,  0.0460,E, grid,   ,   ,   ,N",
      "Point02,xy, 3987,   41,in, deg,  48, 59.6200,N,  17, 16.0180,E, grid,   ,   ,   ,N",
      "Point03,xy,  211, 2963,in, deg,  48, 47.6300,N,  17,  0.6880,E, grid,   ,   ,   ,N",
      "Point04,xy, 3001, 2999,in, deg,  48, 47.4000,N,  17, 12.0530,E, grid,   ,   ,   ,N",
      "IWH,Map Image Width/Height,4001,3001"};
  std::vector<zv::TCalibrationPoint> fullPoints;
  std::string image;
  zv::ParseCalibrationLines(lines, ".MAP", fullPoints, image);
  const zv::TCalibrationFit full(fullPoints);
  ASSERT_TRUE(full.Valid());
  for (int level = 1; level <= 4; ++level) {
    SCOPED_TRACE(level);
    std::vector<zv::TCalibrationPoint> points;
    zv::ParseCalibrationLines(zv::ReducedCalibrationLines(lines, ".MAP", 4001, 3001, level), ".MAP", points, image);
    const zv::TCalibrationFit fit(points);
    ASSERT_TRUE(fit.Valid());
    const int k = 1 << level;
    for (int y = 0; y <= 3001 / k; y += 37)
      for (int x = 0; x <= 4001 / k; x += 41) {
        double lat = 0, lon = 0, fx = 0, fy = 0;
        ASSERT_TRUE(fit.PixelToLatLon(x, y, lat, lon));
        ASSERT_TRUE(full.LatLonToPixel(lat, lon, fx, fy));
        EXPECT_LT(std::hypot(fx - k * x, fy - k * y), k) << x << "," << y;
      }
  }
}

TEST(ZoomOut, GmiCalibrationCopy) {
  const std::vector<std::string> lines = {"h1", "1;2;3;4", "h3", "h4", " 100; 201;17.5;48.25", "-3;0;1;2", "x;y"};
  const std::vector<std::string> want = {"h1", "1;2;3;4", "h3", "h4", "  50; 101;17.5;48.25", "-2;0;1;2", "x;y"};
  EXPECT_EQ(zv::ReducedCalibrationLines(lines, ".GMI", 10, 10, 1), want);
}

TEST(ZoomOut, ReducedTilesMatchABoxReduction) {
  // Odd sizes, and a tile set whose images meet inside the tiles' bands.
  Atlas a;
  auto* topo = a.Add("Topo");
  a.AddArea(topo, "odd", "/in/odd.map", {"a", "b", "c", "Point01,xy, 99, 57,in"}, {{0, 0, 203, 117}});
  a.AddArea(topo, "set", "/in/set.gmi", {}, {{0, 0, 50, 30}, {50, 0, 71, 30}, {0, 30, 121, 31}});
  for (int format : {1, 0}) {
    SCOPED_TRACE(format);
    TempDir dir;
    zv::ExportAtlas(dir.Path(), "A", *a.Core.Layouts, ZoomOptions(4, format), {});
    for (const auto& [name, w, h] : {std::tuple{"odd", 203, 117}, std::tuple{"set", 121, 61}}) {
      const zv::Bitmap full = PatternBitmap(w, h);
      for (int level = 1; level <= 4; ++level) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(level));
        const zv::Bitmap want = BoxReduced(full, level);
        const fs::path mapDir = fs::path(dir / zv::ZoomOutLayerName("Topo", level)) / name;
        // Exact in 24-bit PNG tiles; JPEG tiles are the reduction's pixels encoded.
        const zv::Bitmap got =
            PictureFromTiles(mapDir, name, want.Width(), want.Height(), format == 0 ? &want : nullptr);
        EXPECT_EQ(LargestDifference(got, want), 0);
        // The reduction in the codecs agrees, so the view shows what the export writes.
        EXPECT_EQ(LargestDifference(zv::Reduce(full, level), want), 0);
      }
    }
    EXPECT_EQ(ReadFile(dir / "Topo 50%/odd/odd.map"), "a\r\nb\r\nc\r\nPoint01,xy, 50, 29,in\r\n");
    EXPECT_EQ(ReadFile(dir / "Topo 6.25%/odd/odd.set"),
              format == 1 ? "odd_0_0.png\r\n" : "odd_0_0.jpg\r\n"); // 13 x 8
  }
}

TEST(ZoomOut, AtlasTreeAndEntryOrder) {
  Atlas a;
  auto* topo = a.Add("Topo");
  a.AddArea(topo, "North", "North.map", {"cal"}, {{0, 0, 100, 50}});
  a.AddArea(topo, "South", "South.gmi", {"g"}, {{0, 0, 30, 30}});
  a.Add("Empty");
  {
    TempDir dir;
    zv::ExportAtlas(dir.Path(), "A", *a.Core.Layouts, ZoomOptions(2, 0, false, "40"), {});
    std::set<std::string> want = {"A.vka", "Empty/", "Empty 50%/", "Empty 25%/"};
    const auto addMap = [&](const std::string& layer, const std::string& n, const std::string& ext,
                            std::vector<std::string> tiles) {
      want.insert({layer + "/", layer + "/" + n + "/", layer + "/" + n + "/" + n + ext,
                   layer + "/" + n + "/" + n + ".set", layer + "/" + n + "/set/"});
      for (const std::string& t : tiles) want.insert(layer + "/" + n + "/set/" + n + "_" + t + ".jpg");
    };
    addMap("Topo", "North", ".map", {"0_0", "40_0", "80_0", "0_40", "40_40", "80_40"});
    addMap("Topo", "South", ".gmi", {"0_0"});
    addMap("Topo 50%", "North", ".map", {"0_0", "40_0"}); // 50 x 25
    addMap("Topo 50%", "South", ".gmi", {"0_0"});
    addMap("Topo 25%", "North", ".map", {"0_0"}); // 25 x 13
    addMap("Topo 25%", "South", ".gmi", {"0_0"});
    EXPECT_EQ(Tree(dir.Path()), want);
    EXPECT_EQ(ImageSize(ReadFile(dir / "Topo 25%/North/set/North_0_0.jpg")), std::make_pair(25, 13));
    EXPECT_EQ(ImageSize(ReadFile(dir / "Topo 50%/South/set/South_0_0.jpg")), std::make_pair(15, 15));
  }
  {
    TempDir dir;
    zv::ExportAtlas(dir.Path(), "A", *a.Core.Layouts, ZoomOptions(1, 1, true, "40"), {});
    EXPECT_EQ(TarNames(dir / "A.tar"), (std::vector<std::string>{"A.vka",
                                                                 "Topo/",
                                                                 "Topo/North/",
                                                                 "Topo/North/North.map",
                                                                 "Topo/North/North.set",
                                                                 "Topo/North/set/",
                                                                 "Topo/South/",
                                                                 "Topo/South/South.gmi",
                                                                 "Topo/South/South.set",
                                                                 "Topo/South/set/",
                                                                 "Empty/",
                                                                 "Topo 50%/",
                                                                 "Topo 50%/North/",
                                                                 "Topo 50%/North/North.map",
                                                                 "Topo 50%/North/North.set",
                                                                 "Topo 50%/North/set/",
                                                                 "Topo 50%/South/",
                                                                 "Topo 50%/South/South.gmi",
                                                                 "Topo 50%/South/South.set",
                                                                 "Topo 50%/South/set/",
                                                                 "Empty 50%/"}));
    EXPECT_EQ(TarNames(dir / "Topo 50%/North/North.tar"),
              (std::vector<std::string>{"North.map", "North.set", "set/North_0_0.png", "set/North_40_0.png"}));
    // Like "Empty/", the empty layer's directory goes with the loose files.
    EXPECT_FALSE(fs::exists(dir / "Empty 50%"));
  }
}

TEST(ZoomOut, OnlyTheAtlasUsesTheOption) {
  Atlas a;
  auto* topo = a.Add("Topo");
  zv::TMapArea* area = a.AddArea(topo, "N", "N.map", {"cal"}, {{0, 0, 30, 20}});
  for (int bad : {-1, 5}) {
    TempDir dir;
    try {
      zv::ExportAtlas(dir.Path(), "A", *a.Core.Layouts, ZoomOptions(bad, 0), {});
      ADD_FAILURE() << "no error raised";
    } catch (const zv::Error& e) {
      EXPECT_EQ(std::string(e.what()), "Zoom-out layers must be from 0 to 4, not " + std::to_string(bad));
    }
    EXPECT_TRUE(Tree(dir.Path()).empty());
  }
  // An atlas opened again holds its layers as layouts: exporting it with
  // layers once more would write two maps into one folder, so it is refused
  // before a file is written; without layers, or below that level, it goes.
  a.Add("topo 25%");
  for (int layers : {2, 3}) {
    TempDir dir;
    try {
      zv::ExportAtlas(dir.Path(), "A", *a.Core.Layouts, ZoomOptions(layers, 0), {});
      ADD_FAILURE() << "no error raised";
    } catch (const zv::Error& e) {
      EXPECT_EQ(std::string(e.what()),
                "The zoom-out layer \"Topo 25%\" would share its folder with the layout of that name");
    }
    EXPECT_TRUE(Tree(dir.Path()).empty());
  }
  {
    TempDir dir;
    EXPECT_NO_THROW(zv::ExportAtlas(dir.Path(), "A", *a.Core.Layouts, ZoomOptions(1, 0), {}));
  }
  TempDir single;
  zv::ExportSingleMap(single.Path(), area, ZoomOptions(3, 0), {});
  EXPECT_EQ(Tree(single.Path()), (std::set<std::string>{"N.map", "N.set", "set/", "set/N_0_0.jpg"}));
}
