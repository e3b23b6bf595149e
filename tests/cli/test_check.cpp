// The converter's calibration checks and atlas proof, and the fit in its JSON.

#include "../export/ExportTestUtil.h"

#include "cli/Check.h"
#include "cli/ModelJson.h"
#include "export/ExportToAmbulo.h"
#include "model/DisplayMapsCore.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zvtest;

namespace {

// A 300 x 200 map calibrated by four corner-ish points plus a fifth.
std::string CalibratedMap(const TempDir& dir, const std::string& name, const std::string& extraLines = "") {
  WritePatternPng(dir / (name + ".png"), 300, 200);
  const std::string path = dir / (name + ".map");
  WriteFile(path, "OziExplorer Map Data File Version 2.2\r\n" + name + "\r\n" + name + ".png\r\n1 ,Map Code,\r\n"
                  "Point01,xy,    0,    0,in, deg,  48, 30.0000,N,  17,  0.0000,E, grid,\r\n"
                  "Point02,xy,  300,    0,in, deg,  48, 30.0000,N,  17,  3.0000,E, grid,\r\n"
                  "Point03,xy,    0,  200,in, deg,  48, 28.0000,N,  17,  0.0000,E, grid,\r\n"
                  "Point04,xy,  300,  200,in, deg,  48, 28.0000,N,  17,  3.0000,E, grid,\r\n"
                  "Point05,xy,  150,  100,in, deg,  48, 29.0000,N,  17,  1.5000,E, grid,\r\n"
                  "Point06,xy,   20,   30,in, deg,    ,        ,N,    ,        ,E, grid,\r\n" + extraLines);
  return path;
}

std::vector<std::string> Messages(const std::vector<zv::TCheckProblem>& problems) {
  std::vector<std::string> out;
  for (const auto& p : problems) out.push_back(p.Map + ": " + p.Message);
  return out;
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& l : lines)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

} // namespace

TEST(ConverterCheck, SoundMapHasNoProblemsAndItsFitIsListed) {
  TempDir dir;
  const std::string map = CalibratedMap(dir, "good");
  EXPECT_TRUE(zv::CheckFiles({map}).empty());

  zv::TDisplayMapsCore core;
  core.OpenFile(map);
  const std::string json = zv::ModelToJson(core);
  // Six points, five with coordinates: the grid-only one has no residual.
  EXPECT_NE(json.find("\"fit\":{\"points\":5,\"rms\":"), std::string::npos) << json;
  EXPECT_NE(json.find(",null],\"projection\":\"latlong\",\"looDistances\":["), std::string::npos) << json;
  EXPECT_NE(json.find(",-1],\"corners\":[[48.5,17],[48.5,17.05],[48.4666666666667,17.05],[48.4666666666667,17]]}"),
            std::string::npos)
      << json;
}

TEST(ConverterCheck, FaultsAreNamed) {
  TempDir dir;
  // Point 5 with a mistyped minute, and a calibration made for another size.
  std::string text = ReadFile(CalibratedMap(dir, "bad", "IWH,Map Image Width/Height,600,400\r\n"));
  text.replace(text.find("29.0000"), 7, "39.0000");
  WriteFile(dir / "bad.map", text);
  const auto problems = Messages(zv::CheckFiles({dir / "bad.map", dir / "missing.map"}));
  EXPECT_TRUE(Contains(problems, "bad: Point 5 is ")) << problems.size();
  EXPECT_TRUE(Contains(problems, "made for a 600 x 400 picture, but the picture is 300 x 200"));
  EXPECT_TRUE(Contains(problems, ": Loading error: "));

  zv::TDisplayMapsCore core;
  WriteFile(dir / "two.gmi", "a\nb\nc\nd\n1;2;17;48\n5;6;17.1;48.1\n");
  core.OpenFile(dir / "two.gmi");
  EXPECT_NE(zv::ModelToJson(core).find("\"fit\":null,\"fitProblem\":\"Too few"), std::string::npos);
}

TEST(ConverterCheck, AtlasMustReadBackWhole) {
  TempDir dir;
  const std::string map = CalibratedMap(dir, "m");
  zv::TDisplayMapsCore core;
  core.OpenFile(map);
  zv::TExportOptions options;
  options.TileWidthText = "128";
  options.TileHeightText = "128";
  options.Workers = 1;
  const std::string out = dir / "out";
  std::filesystem::create_directories(out);
  zv::ExportAtlas(out, "atlas", *core.Layouts, options, {});
  const std::string atlas = out + "/atlas.vka";
  EXPECT_TRUE(zv::CheckFiles({atlas}).empty());

  // A stray directory, a tile gone and a tile of the wrong size.
  std::filesystem::create_directories(out + "/Default/stray");
  std::filesystem::remove(out + "/Default/m/set/m_128_0.jpg");
  auto problems = Messages(zv::CheckFiles({atlas}));
  EXPECT_TRUE(Contains(problems, "Default/stray: The map directory holds no"));
  EXPECT_TRUE(Contains(problems, "Default/m: Loading error (m.map)"));

  std::filesystem::copy_file(out + "/Default/m/set/m_0_0.jpg", out + "/Default/m/set/m_128_0.jpg");
  std::filesystem::copy_file(out + "/Default/m/set/m_0_0.jpg", out + "/Default/m/set/m_256_128.jpg",
                             std::filesystem::copy_options::overwrite_existing);
  problems = Messages(zv::CheckFiles({atlas}));
  EXPECT_TRUE(Contains(problems, "The tile at (256, 128) is 128 x 128; the grid wants 44 x 72."));
  EXPECT_FALSE(Contains(problems, "Loading error"));
}

TEST(ConverterCheck, ListGivesThePlaneTheLeftOutDistancesAndTheCorners) {
  zv::TDisplayMapsCore core;
  core.OpenFile(ZOVEVOD_TESTDATA_DIR "/calibration/gt-ozi/utm11-nad27.map");
  const std::string json = zv::ModelToJson(core);
  EXPECT_NE(json.find("\"projection\":\"+proj=utm +zone=11 +ellps=clrk66 +towgs84=0,125,194,0,0,0,0 +units=m "
                      "+no_defs\",\"looDistances\":["),
            std::string::npos)
      << json;
  // The corners of the 120 x 120 picture in WGS 84, as gdaltransform gives
  // them for this file: -117.64072881765 33.9014997452014 for (0, 0).
  const std::size_t corners = json.find("\"corners\":[[33.9014997452");
  ASSERT_NE(corners, std::string::npos) << json;
  EXPECT_NE(json.find(",-117.6407288", corners), std::string::npos) << json;
  EXPECT_NE(json.find("[33.625712105", corners), std::string::npos) << json; // (120, 120)
  EXPECT_NE(json.find(",-117.3074753", corners), std::string::npos) << json;
}
