#include "model/CalibrationFit.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

using namespace zv;

namespace {

// A point placed by a known affine map from pixels to degrees.
TCalibrationPoint Placed(int x, int y) {
  TCalibrationPoint p;
  p.X = x;
  p.Y = y;
  p.Lat = 48.5 - 0.0001 * y + 0.00001 * x;
  p.Lon = 17.1 + 0.00015 * x + 0.00002 * y;
  p.HasLatLon = true;
  return p;
}

std::vector<TCalibrationPoint> Grid() {
  std::vector<TCalibrationPoint> points;
  for (int x : {0, 1000, 2000})
    for (int y : {0, 700, 1500}) points.push_back(Placed(x, y));
  return points;
}

TMapArea& OpenMap(TDisplayMapsCore& view, const std::string& path) {
  view.OpenFile(path);
  return *view.ActiveMapArea();
}

} // namespace

TEST(CalibrationFit, ExactAffinePointsFitWithoutResidual) {
  const TCalibrationFit fit(Grid());
  ASSERT_TRUE(fit.Valid()) << fit.Problem();
  EXPECT_EQ(fit.PointsUsed(), 9);
  EXPECT_LT(fit.Rms(), 1e-6);
  double lat = 0, lon = 0;
  ASSERT_TRUE(fit.PixelToLatLon(1234, 567, lat, lon));
  const TCalibrationPoint expected = Placed(1234, 567);
  EXPECT_NEAR(lat, static_cast<double>(expected.Lat), 1e-9);
  EXPECT_NEAR(lon, static_cast<double>(expected.Lon), 1e-9);
  double x = 0, y = 0;
  ASSERT_TRUE(fit.LatLonToPixel(lat, lon, x, y));
  EXPECT_NEAR(x, 1234, 1e-6);
  EXPECT_NEAR(y, 567, 1e-6);
  for (std::size_t i = 0; i < 9; ++i) EXPECT_FALSE(fit.Suspect(i));
}

TEST(CalibrationFit, OneCorruptedPointStandsOut) {
  for (double error : {1.0 / 60 * 10, -2 * 48.5}) { // ten minutes mistyped; the wrong hemisphere
    std::vector<TCalibrationPoint> points = Grid();
    points[4].Lat += error;
    const TCalibrationFit fit(points);
    ASSERT_TRUE(fit.Valid());
    for (std::size_t i = 0; i < points.size(); ++i) EXPECT_EQ(fit.Suspect(i), i == 4) << i << " " << error;
    EXPECT_GT(fit.Residuals()[4], 5);
  }
}

TEST(CalibrationFit, NoFitAndItsReason) {
  std::vector<TCalibrationPoint> two = {Placed(0, 0), Placed(10, 10)};
  EXPECT_FALSE(TCalibrationFit(two).Valid());
  EXPECT_NE(TCalibrationFit(two).Problem().find("Too few"), std::string::npos);

  std::vector<TCalibrationPoint> line = {Placed(0, 0), Placed(10, 10), Placed(20, 20), Placed(35, 35)};
  EXPECT_NE(TCalibrationFit(line).Problem().find("one line in the picture"), std::string::npos);

  // Grid-only points read 0, 0 but take no part.
  std::vector<TCalibrationPoint> grid = Grid();
  for (auto& p : grid) p.HasLatLon = false;
  grid[0].HasLatLon = grid[1].HasLatLon = true;
  EXPECT_EQ(TCalibrationFit(grid).PointsUsed(), 2);

  std::vector<TCalibrationPoint> same = Grid();
  for (auto& p : same) p.Lat = p.Lon = 10;
  EXPECT_NE(TCalibrationFit(same).Problem().find("all the same"), std::string::npos);
}

TEST(CalibrationFit, HostileNumbersStayFinite) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (long double bad : {static_cast<long double>(nan), 1e300L, -1e300L, 1e4000L}) {
    std::vector<TCalibrationPoint> points = Grid();
    points[2].Lat = bad;
    points[3].Lon = bad;
    const TCalibrationFit fit(points);
    EXPECT_TRUE(std::isfinite(fit.Rms()));
    double lat = 0, lon = 0;
    if (fit.PixelToLatLon(5, 5, lat, lon)) {
      EXPECT_TRUE(std::isfinite(lat) && std::isfinite(lon));
    }
  }
  const TCalibrationFit fit(Grid());
  double lat = 0, lon = 0;
  EXPECT_FALSE(fit.PixelToLatLon(nan, 0, lat, lon));
  if (fit.PixelToLatLon(1e308, 1e308, lat, lon)) {
    EXPECT_TRUE(std::isfinite(lat) && std::isfinite(lon));
  }
}

TEST(CalibrationFit, FormatsDegreesAndMinutes) {
  EXPECT_EQ(FormatLatLon(48.50208333333, 17.1), "48\xC2\xB0" "30.125' N  17\xC2\xB0" "06.000' E");
  EXPECT_EQ(FormatLatLon(-33.9999999, -0.5), "34\xC2\xB0" "00.000' S  0\xC2\xB0" "30.000' W");
  EXPECT_EQ(FormatLatLon(std::nan(""), 0), "");
}

TEST(CalibrationFit, PointerReadout) {
  TDisplayMapsCore view;
  TMapLayout* layout = view.Layouts->AddLayout("L");
  TMapArea area(&view, layout);
  EXPECT_EQ(PointerReadout(area, 12, 34), "x 12  y 34");
  area.Points = Grid();
  area.Points[0].HasLatLon = false;
  // Pixel (0, 0) sits at 48.5 N, 17.1 E.
  EXPECT_EQ(PointerReadout(area, 0, 0),
            "x 0  y 0   48\xC2\xB0" "30.000' N  17\xC2\xB0" "06.000' E   fit of 8 points, RMS 0.0 px");
}

TEST(CalibrationChecks, RealCalibrationFilesFitAndPass) {
  const std::filesystem::path dir = ZOVEVOD_TESTDATA_DIR "/calibration/gt-ozi";
  for (const char* name : {"gk5-pul42.map", "latlon-wgs84.map", "merc-wgs84.map", "utm11-nad27.map",
                           "utm21-nad83.map"}) {
    TDisplayMapsCore view;
    TMapArea& area = OpenMap(view, (dir / name).string());
    const TCalibrationFit fit(area.Points);
    ASSERT_TRUE(fit.Valid()) << name << ": " << fit.Problem();
    EXPECT_LT(fit.Rms(), 3.0) << name;
    for (const TCalibrationFinding& f : CheckCalibration(area)) ADD_FAILURE() << name << ": " << f.Message;
  }
}

TEST(CalibrationChecks, FindingsNameWhatIsWrong) {
  TDisplayMapsCore view;
  TMapLayout* layout = view.Layouts->AddLayout("L");
  auto area = std::make_unique<TMapArea>(&view, layout);
  area->FileName = "m.map";
  area->ImageFileName = "m.ozf2";
  area->Points = Grid();
  area->Points[0].Lat = 95;
  area->Points[1].Lon = -190;
  std::vector<TCalibrationFinding> findings = CheckCalibration(*area);
  ASSERT_FALSE(findings.empty());
  EXPECT_NE(findings[0].Message.find("(.OZF2)"), std::string::npos);
  int latitude = 0, longitude = 0;
  for (const auto& f : findings) {
    latitude += f.Point == 1 && f.Message.find("outside -90..90") != std::string::npos;
    longitude += f.Point == 2 && f.Message.find("outside -180..180") != std::string::npos;
  }
  EXPECT_EQ(latitude, 1);
  EXPECT_EQ(longitude, 1);

  // A picture resized after calibration, and a point beyond its edge.
  area->Points = Grid();
  area->Width = 1000;
  area->Height = 750;
  area->Lines = {"h", "n", "m.png", "IWH,Map Image Width/Height,2000,1500"};
  findings = CheckCalibration(*area);
  bool resized = false, outside = false;
  for (const auto& f : findings) {
    resized |= f.Point == 0 && f.Message.find("2000 x 1500 picture, but the picture is 1000 x 750") != std::string::npos;
    outside |= f.Point == 9 && f.Message.find("lies outside the picture") != std::string::npos;
  }
  EXPECT_TRUE(resized);
  EXPECT_TRUE(outside);
}
