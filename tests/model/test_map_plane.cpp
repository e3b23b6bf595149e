// A map's plane as the area's own state: the fit follows it for every kind
// of map, the save writes it (GDAL reads it back), points are given by grid
// coordinates in it, and the status bar reads positions out in it. PROJ's
// cs2cs and GDAL's gdalinfo are the referees.
#include "TestMaps.h"

#include "model/CalibrationEdit.h"
#include "model/CalibrationFit.h"
#include "model/CalibrationText.h"
#include "model/CalibrationWriter.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"
#include "model/MapProjection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

using namespace zv;
using zvtest::TempDir;

namespace {

TPlaneChoice Utm(int zone, bool south) {
  TPlaneChoice c;
  c.Setup.Projection = kUtmProjection;
  c.Zone = zone;
  c.South = south;
  return c;
}

TPlaneChoice Lambert() {
  TPlaneChoice c;
  c.Setup.Projection = "Lambert Conformal Conic";
  c.Setup.LatitudeOfOrigin = 46;
  c.Setup.CentralMeridian = 13;
  c.Setup.StandardParallel1 = 45;
  c.Setup.StandardParallel2 = 47;
  c.Setup.FalseEasting = 500000;
  return NormalisedPlane(c);
}

TCalibrationPoint LatLon(int x, int y, double lat, double lon) {
  TCalibrationPoint p;
  p.X = x;
  p.Y = y;
  p.Lat = lat;
  p.Lon = lon;
  p.HasLatLon = true;
  return p;
}

// PROJ's answer for one position: "lon lat" into the plane, or back.
std::vector<double> Cs2cs(const std::string& from, const std::string& to, double a, double b) {
  TempDir dir;
  const std::string out = dir / "cs2cs.txt";
  char input[96];
  std::snprintf(input, sizeof input, "%.10f %.10f", a, b);
  const std::string command =
      "echo '" + std::string(input) + "' | cs2cs -f %.9f " + from + " +to " + to + " > '" + out + "' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::istringstream text(zvtest::ReadFile(out));
  double x = NAN, y = NAN;
  text >> x >> y;
  return {x, y};
}

struct GridCase {
  const char* name;
  TPlaneChoice (*plane)();
  const char* proj; // the same plane for cs2cs
  double lat, lon;
};

const GridCase kGridCases[] = {
    {"utm_33_north", [] { return Utm(33, false); }, "+proj=utm +zone=33 +datum=WGS84", 49.4911, 16.5513},
    {"utm_56_south", [] { return Utm(56, true); }, "+proj=utm +zone=56 +south +datum=WGS84", -33.85, 151.2},
    {"lambert_conic", Lambert, "+proj=lcc +lat_0=46 +lon_0=13 +lat_1=45 +lat_2=47 +x_0=500000 +y_0=0 +datum=WGS84",
     46.6, 14.3},
};

class GridCoordinates : public testing::TestWithParam<GridCase> {};

// A point given by latitude and longitude shows its easting and northing
// through the map's plane, and one given by easting and northing its
// latitude and longitude, as PROJ computes them.
TEST_P(GridCoordinates, TheOtherPairIsPROJs) {
  if (!zvtest::HaveTool("cs2cs")) GTEST_SKIP() << "cs2cs is not installed";
  const GridCase& c = GetParam();
  TMapArea area(nullptr, nullptr);
  area.Plane = c.plane();
  const std::vector<double> grid = Cs2cs("+proj=longlat +datum=WGS84", c.proj, c.lon, c.lat);

  const TPointCoordinates fromLatLon = PointCoordinates(area, LatLon(1, 2, c.lat, c.lon));
  EXPECT_FALSE(fromLatLon.GridTyped);
  ASSERT_TRUE(fromLatLon.Easting && fromLatLon.Northing);
  EXPECT_NEAR(*fromLatLon.Easting, grid[0], 0.001);
  EXPECT_NEAR(*fromLatLon.Northing, grid[1], 0.001);

  // Typed into the table's grid cells: the point is its grid words alone.
  WriteBackCalibrationPoints(area, {{1, 2, 0, 0, false, true, true, grid[0], grid[1]}});
  ASSERT_EQ(area.Points.size(), 1u);
  const TCalibrationPoint& typed = area.Points[0];
  EXPECT_TRUE(typed.HasGrid);
  EXPECT_FALSE(typed.HasLatLon);
  EXPECT_EQ(typed.GridZone, area.Plane.Zone);
  EXPECT_EQ(typed.GridSouth, area.Plane.South);
  const TPointCoordinates fromGrid = PointCoordinates(area, typed);
  EXPECT_TRUE(fromGrid.GridTyped);
  const std::vector<double> back = Cs2cs(c.proj, "+proj=longlat +datum=WGS84", grid[0], grid[1]);
  ASSERT_TRUE(fromGrid.Lat && fromGrid.Lon);
  EXPECT_NEAR(*fromGrid.Lat, back[1], 1e-8);
  EXPECT_NEAR(*fromGrid.Lon, back[0], 1e-8);
  EXPECT_EQ(fromGrid.Zone, area.Plane.Zone ? UtmZoneText(area.Plane.Zone, area.Plane.South) : "");
  EXPECT_EQ(GridColumnsOf(area), area.Plane.Zone ? TGridColumns::Utm : TGridColumns::Grid);
}

INSTANTIATE_TEST_SUITE_P(Planes, GridCoordinates, testing::ValuesIn(kGridCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Four grid crossings of a UTM sheet, picked (a little off one affine map, so
// that GDAL lists them) and typed as easting and northing.
std::vector<TCalibrationRow> GridRows() {
  return {{100, 100, 0, 0, false, true, true, 610000, 5485000},
          {2100, 110, 0, 0, false, true, true, 614000, 5485000},
          {2090, 2110, 0, 0, false, true, true, 614000, 5481000},
          {92, 2099, 0, 0, false, true, true, 610000, 5481000}};
}

// A bare scan set to UTM and given grid points saves a .map in that zone;
// GDAL reads its ground control points back as typed, in UTM zone 33N.
TEST(MapPlane, BareScanInUtmSavesItsGridPointsForGdal) {
  if (!zvtest::HaveTool("gdalinfo")) GTEST_SKIP() << "gdalinfo is not installed";
  TempDir dir;
  const std::string image = dir / "scan.bmp";
  zvtest::WriteBmp(image, 0, 0, 2200, 2200);
  TDisplayMapsCore view;
  view.OpenFile(image);
  TMapArea& area = *view.ActiveMapArea();
  EXPECT_TRUE(SamePlane(area.Plane, TPlaneChoice{}));
  area.Plane = Utm(33, false);
  EXPECT_NE(area.Fit()->RequestedProjection()->Definition().find("+zone=33"), std::string::npos);
  WriteBackCalibrationPoints(area, GridRows());
  ASSERT_TRUE(area.Fit()->Valid());
  EXPECT_LT(area.Fit()->Rms(), 10.0);

  const std::string map = dir / "scan.map";
  SaveCalibration(area, map);
  EXPECT_TRUE(SamePlane(area.SavedPlane, area.Plane));
  const std::string out = dir / "gdalinfo.txt";
  ASSERT_EQ(std::system(("gdalinfo '" + map + "' > '" + out + "' 2>&1").c_str()), 0) << zvtest::ReadFile(out);
  const std::string info = zvtest::ReadFile(out);
  EXPECT_NE(info.find("UTM zone 33N"), std::string::npos) << info;
  std::istringstream text(info);
  std::vector<TCalibrationRow> gcps;
  for (std::string line; std::getline(text, line);) {
    double x = 0, y = 0, e = 0, n = 0;
    if (std::sscanf(line.c_str(), " (%lf,%lf) -> (%lf,%lf", &x, &y, &e, &n) == 4)
      gcps.push_back({static_cast<int>(x), static_cast<int>(y), 0, 0, false, true, true, e, n});
  }
  const std::vector<TCalibrationRow> rows = GridRows();
  ASSERT_EQ(gcps.size(), rows.size()) << info;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(gcps[i].X, rows[i].X);
    EXPECT_DOUBLE_EQ(gcps[i].Easting, rows[i].Easting);
    EXPECT_DOUBLE_EQ(gcps[i].Northing, rows[i].Northing);
  }

  // Read again, the map is in the same plane with the same points.
  TDisplayMapsCore again;
  again.OpenFile(map);
  const TMapArea& read = *again.ActiveMapArea();
  EXPECT_TRUE(SamePlane(read.Plane, area.Plane));
  EXPECT_FALSE(PointsChanged(read) || !SamePlane(read.Plane, read.SavedPlane));
  ASSERT_EQ(read.Points.size(), 4u);
  EXPECT_TRUE(read.Points[2].HasGrid && !read.Points[2].HasLatLon);
  EXPECT_EQ(read.Points[2].Easting, 614000);
}

// A UTM map's points edited after the zone was chosen keep the zone words:
// the lines written afresh get them, the others stay byte for byte.
TEST(MapPlane, EditedPointsOfAUtmMapKeepTheirZone) {
  TempDir dir;
  const std::string image = dir / "scan.bmp";
  zvtest::WriteBmp(image, 0, 0, 400, 400);
  TDisplayMapsCore view;
  view.OpenFile(image);
  TMapArea& area = *view.ActiveMapArea();
  area.Points = {LatLon(10, 10, 49.5, 16.5), LatLon(390, 10, 49.5, 16.6), LatLon(390, 390, 49.45, 16.6)};
  area.Plane = Utm(33, false);
  const std::string map = dir / "scan.map";
  SaveCalibration(area, map);
  const std::vector<std::string> before = area.Lines;

  TDisplayMapsCore again;
  again.OpenFile(map);
  TMapArea& read = *again.ActiveMapArea();
  read.Points[1].X = 389;
  read.Points.push_back(LatLon(10, 390, 49.45, 16.5));
  SaveCalibration(read, map);
  int zoned = 0;
  for (std::size_t i = 0; i < read.Lines.size(); ++i) {
    if (read.Lines[i].rfind("Point", 0) != 0 || Trim(ExtractNthWord(3, read.Lines[i], ",")).empty()) continue;
    EXPECT_EQ(Trim(ExtractNthWord(14, read.Lines[i], ",")), "33") << read.Lines[i];
    ++zoned;
    if (i == 9 || i == 11) {
      EXPECT_EQ(read.Lines[i], before[i]);
    }
  }
  EXPECT_EQ(zoned, 4);
  EXPECT_TRUE(SamePlane(ReadPlaneChoice(read.Lines), Utm(33, false)));
}

// A map whose plane is never changed saves as before: a bare image in
// latitude and longitude, a .map with its own projection lines.
TEST(MapPlane, AnUnchangedPlaneWritesNothingNew) {
  TMapArea area(nullptr, nullptr);
  area.FileName = "/maps/scan.png";
  area.Points = {LatLon(1, 2, 48, 17)};
  std::vector<std::string> lines = CalibrationLinesToSave(area, "/maps/scan.map");
  EXPECT_EQ(lines[8], "Map Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No");
  area.Plane = Lambert();
  lines = CalibrationLinesToSave(area, "/maps/scan.map");
  EXPECT_EQ(ReadPlaneChoice(lines).Setup.Projection, "Lambert Conformal Conic");
  EXPECT_TRUE(SamePlane(ReadPlaneChoice(lines), area.Plane));
}

struct ReadoutCase {
  double easting, northing;
  int zone;
  bool south;
  double lat;
  const char* text;
};

const ReadoutCase kReadoutCases[] = {
    {612345.4, 5483209.6, 33, false, 49.5, "33U 612 345 E 5 483 210 N"},
    {334567, 6253000, 56, true, -33.9, "56H 334 567 E 6 253 000 N"},
    {500000, 9300000, 60, false, 83.5, "60X 500 000 E 9 300 000 N"},
    {500000, 100, 1, true, -85, "1S 500 000 E 100 N"},
    {612345, 5483210, 0, false, 0, "612 345 E 5 483 210 N"},
    {-1234.6, 999.5, 0, false, 0, "-1 235 E 1 000 N"},
};

TEST(MapPlane, GridPositionsReadOut) {
  for (const ReadoutCase& c : kReadoutCases)
    EXPECT_EQ(FormatGridPosition(c.easting, c.northing, c.zone, c.south, c.lat), c.text);
  EXPECT_EQ(FormatGridPosition(NAN, 0), "");
}

} // namespace
