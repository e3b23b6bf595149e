// The grid drawn over a map: its lines' view pixels on exact sheets, checked
// with GDAL's gdaltransform (PROJ) taking the same pixels back through the
// sheet's own plane, and the steps and labels.
#include "TestMaps.h"
#include "TestSupport.h"

#include "model/CalibrationFit.h"
#include "model/DisplayMapsCore.h"
#include "model/MapGrid.h"
#include "model/MapModel.h"
#include "model/MapProjection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace zv;

namespace {

struct TGridSheet {
  const char* Name;
  const char* Projection;
  const char* Setup;
  const char* Proj; // the same plane for gdaltransform
  int Zone;
  double East0, North0, MetresPerPixel;
};

// 1:50,000 at 300 dpi is 4.2333 m a pixel; 1:1,000,000 is 84.667 m.
const TGridSheet kGridSheets[] = {
    {"utm", "(UTM) Universal Transverse Mercator", "", "+proj=utm +zone=33 +datum=WGS84", 33, 590000, 5500000, 4.},
    {"lcc", "Lambert Conformal Conic", " 0.0,20.0,1.0,500000.0,0.0,44.0,52.0,0.0",
     "+proj=lcc +lat_0=0 +lon_0=20 +lat_1=44 +lat_2=52 +x_0=500000 +y_0=0 +datum=WGS84", 0, 300000, 5900000, 84.667},
};
constexpr int kSide = 6000;

double PlaneEast(const TGridSheet& s, double x) { return s.East0 + x * s.MetresPerPixel; }
double PlaneNorth(const TGridSheet& s, double y) { return s.North0 - y * s.MetresPerPixel; }

std::string DegreesWords(double v, char positive, char negative) {
  const long long units = std::llround(std::fabs(v) * 60 * 1e7);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%lld,%.7f,%c", units / 600000000, (units % 600000000) / 1e7, v < 0 ? negative : positive);
  return buf;
}

// A .map whose nine points lie exactly where the plane puts them.
std::unique_ptr<TMapArea> ExactArea(TDisplayMapsCore& view, const TGridSheet& s) {
  std::vector<std::string> lines = {"Map Data File Version 2.2", s.Name, "x.png", "1 ,Map Code,",
                                    "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84", "Reserved 1", "Reserved 2",
                                    "Magnetic Variation,,,E",
                                    std::string("Map Projection,") + s.Projection + ",PolyCal,No,AutoCalOnly,No"};
  const std::string zone = s.Zone ? std::to_string(s.Zone) : "";
  lines.push_back("Point01,xy,0,0,in, deg,1,0,N,1,0,E, grid," + zone + ",500000,5000000,N");
  lines.push_back(std::string("Projection Setup,") + s.Setup + ",,,,,");
  const TMapProjection plane(lines);
  lines.erase(lines.begin() + 9);
  int k = 0;
  for (int y : {100, kSide / 2, kSide - 100})
    for (int x : {100, kSide / 2, kSide - 100}) {
      double lat = 0, lon = 0;
      EXPECT_TRUE(plane.PlaneToDatum(PlaneEast(s, x), PlaneNorth(s, y), lat, lon));
      char name[24];
      std::snprintf(name, sizeof name, "Point%02d", ++k);
      lines.insert(lines.end() - 1, std::string(name) + ",xy," + std::to_string(x) + "," + std::to_string(y) +
                                        ",in, deg," + DegreesWords(lat, 'N', 'S') + "," + DegreesWords(lon, 'E', 'W') +
                                        ", grid," + zone + "," + std::to_string(std::llround(PlaneEast(s, x))) +
                                        "," + std::to_string(std::llround(PlaneNorth(s, y))) + ",N");
    }
  auto area = std::make_unique<TMapArea>(&view, view.Layouts->AddLayout(s.Name));
  area->FileName = std::string(s.Name) + ".map";
  area->Lines = lines;
  area->ParseCalibration();
  area->Width = area->Height = kSide;
  return area;
}

// gdaltransform's WGS 84 longitudes and latitudes of plane positions.
std::vector<std::pair<double, double>> ToWgs84(const zvtest::TempDir& dir, const TGridSheet& s,
                                               const std::vector<std::pair<double, double>>& plane) {
  std::string text;
  char buf[96];
  for (const auto& [e, n] : plane) {
    std::snprintf(buf, sizeof buf, "%.6f %.6f\n", e, n);
    text += buf;
  }
  zvtest::WriteFile(dir / "in.txt", text);
  const std::string command = std::string("gdaltransform -output_xy -s_srs '") + s.Proj + "' -t_srs EPSG:4326 < '" +
                              (dir / "in.txt") + "' > '" + (dir / "out.txt") + "' 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::istringstream out(zvtest::ReadFile(dir / "out.txt"));
  std::vector<std::pair<double, double>> lonLat;
  double lon = 0, lat = 0;
  while (out >> lon >> lat) lonLat.push_back({lon, lat});
  return lonLat;
}

class GridOnExactSheet : public ::testing::TestWithParam<std::tuple<int, double>> {};

// Every drawn point of every line, taken back to the sheet's plane through
// its exact pixels, lies on its line's value within half a view pixel; and
// the points inside the view lie at most 16 view pixels apart.
TEST_P(GridOnExactSheet, LinesLieOnTheirValues) {
  const TGridSheet& s = kGridSheets[std::get<0>(GetParam())];
  const double scale = std::get<1>(GetParam());
  TDisplayMapsCore view;
  const auto area = ExactArea(view, s);
  const auto fit = area->Fit();
  ASSERT_TRUE(fit->Valid()) << fit->Problem();
  const TOverlayViewport viewport{scale, 1500 * scale - 200, 2000 * scale - 300, 1920, 1080};
  const TMapGrid grid = MakeMapGrid(*fit, viewport, kSide, kSide);
  ASSERT_GT(grid.GridStep, 0);
  ASSERT_GT(grid.GraticuleStep, 0);

  std::vector<std::pair<double, double>> plane;
  std::vector<const TGridLine*> owner;
  int gridLines = 0, graticuleLines = 0;
  for (const TGridLine& line : grid.Lines) {
    const bool graticule = line.Kind == TGridLineKind::Meridian || line.Kind == TGridLineKind::Parallel;
    (graticule ? graticuleLines : gridLines) += 1;
    for (std::size_t i = 0; i < line.Points.size(); ++i) {
      const TCanvasPoint p = line.Points[i];
      const double x = viewport.ToPictureX(p.X), y = viewport.ToPictureY(p.Y);
      const bool inside = p.X >= 0 && p.Y >= 0 && p.X <= viewport.Width && p.Y <= viewport.Height;
      if (i > 0 && inside) {
        EXPECT_LE(std::hypot(p.X - line.Points[i - 1].X, p.Y - line.Points[i - 1].Y), kGridPointSpacing + 1e-9);
      }
      if (!graticule) {
        const double off = line.Kind == TGridLineKind::Easting ? PlaneEast(s, x) - line.Value : PlaneNorth(s, y) - line.Value;
        EXPECT_LT(std::fabs(off) / s.MetresPerPixel * scale, 0.5) << line.Label;
      } else if (inside) {
        plane.push_back({PlaneEast(s, x), PlaneNorth(s, y)});
        owner.push_back(&line);
      }
    }
  }
  EXPECT_GE(gridLines, 2);
  EXPECT_GE(graticuleLines, 2);
  const zvtest::TempDir dir;
  const auto lonLat = ToWgs84(dir, s, plane);
  ASSERT_EQ(lonLat.size(), plane.size());
  // Degrees per view pixel, from the sheet's own scale near its centre.
  const double perPixel = s.MetresPerPixel / scale / 111320.0;
  for (std::size_t i = 0; i < lonLat.size(); ++i) {
    const TGridLine& line = *owner[i];
    const double cosLat = std::cos(lonLat[i].second * M_PI / 180);
    const double off = line.Kind == TGridLineKind::Meridian ? (lonLat[i].first - line.Value) * cosLat
                                                            : lonLat[i].second - line.Value;
    EXPECT_LT(std::fabs(off) / perPixel, 0.5) << line.Label;
  }
}

INSTANTIATE_TEST_SUITE_P(ThreeZooms, GridOnExactSheet,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Values(1.0, 0.25, 1.0 / 16)));

TEST(GridSteps, SmallestRoundStepLeavingEightyPixels) {
  const struct {
    double perPixel, grid, graticule;
  } cases[] = {
      {1, 100, 120 / 3600.0},                   // 80 m → 100 m; 80" → 2'
      {4.2333, 500, 10 / 60.0},                 // 339 m → 500 m; 339" → 10'
      {12.5, 1000, 1 / 3600.0 * 1800},          // exactly 1000 m; 1000" → 30'
      {0.01, 1, 1 / 3600.0},                    // 0.8 m → 1 m; 0.8" → 1"
      {1e6, 1e8, 10},                           // never more than 10°
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(GridStepFor(c.perPixel), c.grid) << c.perPixel;
    const double graticule = GraticuleStepFor(c.perPixel / 3600);
    EXPECT_NEAR(graticule, c.graticule, 1e-12) << c.perPixel;
  }
}

TEST(GridLabels, KilometresAndDegreesToTheStep) {
  EXPECT_EQ(GridValueLabel(5483000, 1000), "5 483 km");
  EXPECT_EQ(GridValueLabel(612500, 500), "612.5 km");
  EXPECT_EQ(GridValueLabel(612345, 5), "612.345 km");
  EXPECT_EQ(GridValueLabel(-200, 100), "-0.2 km");
  EXPECT_EQ(LatitudeLabel(49.5, 0.5), "49\xC2\xB0" "30'N");
  EXPECT_EQ(LatitudeLabel(-33, 1), "33\xC2\xB0S");
  EXPECT_EQ(LongitudeLabel(-70.50416666, 15 / 3600.0), "70\xC2\xB0" "30'15\"W");
  EXPECT_EQ(LongitudeLabel(0, 2), "0\xC2\xB0");
}

TEST(GridOverlay, MapWithoutFitDrawsNothingAndSaysWhy) {
  TDisplayMapsCore view;
  TMapArea area(&view, view.Layouts->AddLayout("x"));
  area.FileName = "x.map";
  zvtest::RecordingCanvas canvas;
  TGridOverlay overlay;
  overlay.Paint(canvas, area, {1, 0, 0, 640, 480});
  EXPECT_TRUE(canvas.Calls.empty());
  EXPECT_NE(overlay.NoFitReason(), "");
}

} // namespace
