// The projections GDAL's .map reader does not know, read through PROJ
// definitions: an exact sheet of each, made and refereed by PROJ's cs2cs.
#include "TestSupport.h"

#include "model/CalibrationFit.h"
#include "model/CalibrationText.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace zv;
using zvtest::TempDir;

namespace {

struct TTableSheet {
  const char* Name;  // on the "Map Projection" line
  const char* Setup; // the "Projection Setup" fields
  const char* Proj;  // the same plane for cs2cs
  double East0, North0, MetresPerPixel;
};

// 3000 x 2000 pixels from 1:10,000 (0.85 m a pixel) to 1:2,000,000 (169 m).
const TTableSheet kTableSheets[] = {
    {"(BNG) British National Grid", "", "+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996012717 +x_0=400000 +y_0=-100000",
     390000, 310000, 2.1167},
    {"(IG) Irish Grid", "", "+proj=tmerc +lat_0=53.5 +lon_0=-8 +k=1.000035 +x_0=200000 +y_0=250000", 190000, 260000,
     0.8467},
    {"(NZG) New Zealand Grid", "", "+proj=nzmg +lat_0=-41 +lon_0=173 +x_0=2510000 +y_0=6023150", 2500000, 6030000,
     4.2333},
    {"(NZTM2) New Zealand TM 2000", "", "+proj=tmerc +lat_0=0 +lon_0=173 +k=0.9996 +x_0=1600000 +y_0=10000000", 1590000,
     5400000, 8.4667},
    {"(SG) Swedish Grid", "", "+proj=tmerc +lat_0=0 +lon_0=15.8082777777778 +k=1 +x_0=1500000 +y_0=0", 1490000, 6600000,
     2.1167},
    {"(SUI) Swiss Grid", "",
     "+proj=somerc +lat_0=46.9524055555556 +lon_0=7.43958333333333 +k_0=1 +x_0=600000 +y_0=200000", 590000, 210000,
     2.1167},
    {"(ITA1) Italy Grid Zone 1", "", "+proj=tmerc +lat_0=0 +lon_0=9 +k=0.9996 +x_0=1500000 +y_0=0", 1490000, 5000000,
     4.2333},
    {"(ITA2) Italy Grid Zone 2", "", "+proj=tmerc +lat_0=0 +lon_0=15 +k=0.9996 +x_0=2520000 +y_0=0", 2500000, 4600000,
     4.2333},
    {"Polyconic (American)", "0,-96,1,0,0", "+proj=poly +lat_0=0 +lon_0=-96 +x_0=0 +y_0=0", 100000, 4000000, 84.667},
    {"(EQC) Equidistant Conic", "0,20,1,0,0,40,60", "+proj=eqdc +lat_0=0 +lon_0=20 +lat_1=40 +lat_2=60", 0, 5900000,
     84.667},
    {"(A)Lambert Azimuthual Equal Area", "52,10,1,4321000,3210000",
     "+proj=laea +lat_0=52 +lon_0=10 +x_0=4321000 +y_0=3210000", 4300000, 3300000, 42.333},
    {"Van Der Grinten", "0,0,1,0,0", "+proj=vandg +lon_0=0", 1000000, 5000000, 169.33},
    {"Bonne", "45,10,1,0,0", "+proj=bonne +lat_1=45 +lon_0=10", -100000, 100000, 84.667},
    {"Gnomonic", "45,10,1,0,0", "+proj=gnom +lat_0=45 +lon_0=10", -100000, 100000, 42.333},
    {"(WIV) Wagner IV", "0,0,1,0,0", "+proj=wag4 +lon_0=0", 1000000, -4000000, 169.33},
};

constexpr int kWidth = 3000, kHeight = 2000;

// cs2cs from the sheet's plane (WGS 84) to latitude and longitude, one "lon lat" per position.
std::vector<std::pair<double, double>> ToLonLat(const TempDir& dir, const TTableSheet& s,
                                                const std::vector<std::pair<double, double>>& plane) {
  std::string input;
  for (const auto& [e, n] : plane) input += std::to_string(e) + " " + std::to_string(n) + "\n";
  zvtest::WriteFile(dir / "in.txt", input);
  const std::string command = std::string("cs2cs -f %.12f ") + s.Proj +
                              " +datum=WGS84 +to +proj=longlat +datum=WGS84 < '" + (dir / "in.txt") + "' > '" +
                              (dir / "out.txt") + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::istringstream out(zvtest::ReadFile(dir / "out.txt"));
  std::vector<std::pair<double, double>> lonLat;
  double lon = 0, lat = 0, z = 0;
  while (out >> lon >> lat >> z) lonLat.push_back({lon, lat});
  return lonLat;
}

std::pair<double, double> PlaneAt(const TTableSheet& s, double x, double y) {
  return {s.East0 + x * s.MetresPerPixel, s.North0 - y * s.MetresPerPixel};
}

std::string DegreesMinutes(double v, char positive, char negative) {
  char buf[64];
  const double a = std::fabs(v);
  std::snprintf(buf, sizeof buf, "%4d,%12.8f,%c", static_cast<int>(a), (a - std::floor(a)) * 60,
                v < 0 ? negative : positive);
  return buf;
}

} // namespace

TEST(ProjectionTable, ExactSheetOfEveryFurtherProjectionIsPlacedAsProjPlacesIt) {
  if (!zvtest::HaveTool("cs2cs")) GTEST_SKIP() << "cs2cs is not installed";
  for (const TTableSheet& s : kTableSheets) {
    SCOPED_TRACE(s.Name);
    TempDir dir;
    std::vector<std::pair<double, double>> plane;
    std::vector<std::pair<int, int>> pixels;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        pixels.push_back({100 + c * (kWidth - 200) / 2, 80 + r * (kHeight - 160) / 2});
        plane.push_back(PlaneAt(s, pixels.back().first, pixels.back().second));
      }
    const std::vector<std::pair<double, double>> corners = {PlaneAt(s, 0, 0), PlaneAt(s, kWidth, 0),
                                                            PlaneAt(s, kWidth, kHeight), PlaneAt(s, 0, kHeight)};
    plane.insert(plane.end(), corners.begin(), corners.end());
    const auto lonLat = ToLonLat(dir, s, plane);
    ASSERT_EQ(lonLat.size(), plane.size());

    TDisplayMapsCore view;
    TMapArea area(&view, view.Layouts->AddLayout("L"));
    area.FileName = "sheet.map";
    area.Lines = {"OziExplorer Map Data File Version 2.2",
                  "sheet",
                  "sheet.png",
                  "1 ,Map Code,",
                  "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84",
                  "Reserved 1",
                  "Reserved 2",
                  "Magnetic Variation,,,E",
                  std::string("Map Projection,") + s.Name + ",PolyCal,No,AutoCalOnly,No,BSBUseWPX,No"};
    for (std::size_t k = 0; k < pixels.size(); ++k) {
      char head[64];
      std::snprintf(head, sizeof head, "Point%02zu,xy,%5d,%5d,in, deg,", k + 1, pixels[k].first, pixels[k].second);
      area.Lines.push_back(head + DegreesMinutes(lonLat[k].second, 'N', 'S') + "," +
                           DegreesMinutes(lonLat[k].first, 'E', 'W') + ", grid,   ,           ,           ,N");
    }
    area.Lines.push_back(std::string("Projection Setup,") + s.Setup + ",,,,,,,,");
    area.ParseCalibration();
    area.Width = kWidth;
    area.Height = kHeight;
    const auto fit = area.Fit();
    ASSERT_TRUE(fit->Valid()) << fit->Problem();
    EXPECT_EQ(fit->PlaneDefinition().rfind(std::string(s.Proj).substr(0, std::string(s.Proj).find(' ')), 0), 0u)
        << fit->PlaneDefinition();
    EXPECT_LT(fit->Rms(), 0.05);
    for (const auto& f : CheckCalibration(area)) ADD_FAILURE() << f.Message;
    const double px[4][2] = {{0, 0}, {kWidth, 0}, {kWidth, kHeight}, {0, kHeight}};
    for (int k = 0; k < 4; ++k) {
      double x = 0, y = 0;
      const auto [lon, lat] = lonLat[pixels.size() + static_cast<std::size_t>(k)];
      ASSERT_TRUE(fit->LatLonToPixel(lat, lon, x, y));
      EXPECT_LT(std::hypot(x - px[k][0], y - px[k][1]), 0.1) << "corner " << k;
    }
  }
}
