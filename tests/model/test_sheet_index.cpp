// Sheet names and typed bounds against corners worked out by hand.

#include "base/Errors.h"
#include "model/MapProjection.h"
#include "model/SheetCalibration.h"
#include "model/SheetIndex.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace zv;

namespace {

constexpr double kMinute = 1.0 / 60;

struct NameCase {
  const char* Name;
  const char* Printed;
  int Scale;
  double South, North, West, East;
  int Zone;
};

// 1:1M M-34 is 48°-52°N, 18°-24°E; its rows and columns run from the north-west.
const NameCase kNames[] = {
    {"M-34", "M-34", 1000000, 48, 52, 18, 24, 4},
    {"M-34-Б", "M-34-Б", 500000, 50, 52, 21, 24, 4},
    {"M-34-B", "M-34-Б", 500000, 50, 52, 21, 24, 4},
    {"m-34-d", "M-34-Г", 500000, 48, 50, 21, 24, 4},
    {"M-34-XVI", "M-34-XVI", 200000, 50, 50 + 40 * kMinute, 21, 22, 4},
    {"M-34-xvi", "M-34-XVI", 200000, 50, 50 + 40 * kMinute, 21, 22, 4},
    {"M-34-V", "M-34-V", 200000, 51 + 20 * kMinute, 52, 22, 23, 4},
    {"M-34-37", "M-34-37", 100000, 50 + 40 * kMinute, 51, 18, 18.5, 4},
    {"M-34-037", "M-34-37", 100000, 50 + 40 * kMinute, 51, 18, 18.5, 4},
    {"M-34-144", "M-34-144", 100000, 48, 48 + 20 * kMinute, 23.5, 24, 4},
    {"M-34-37-Б", "M-34-37-Б", 50000, 50 + 50 * kMinute, 51, 18.25, 18.5, 4},
    {"M-34-37-Б-в", "M-34-37-Б-в", 25000, 50 + 50 * kMinute, 50 + 55 * kMinute, 18.25, 18.375, 4},
    {"M-34-37-B-v", "M-34-37-Б-в", 25000, 50 + 50 * kMinute, 50 + 55 * kMinute, 18.25, 18.375, 4},
    {"M 34 037 B c", "M-34-37-Б-в", 25000, 50 + 50 * kMinute, 50 + 55 * kMinute, 18.25, 18.375, 4},
    {"М34-37Бв", "M-34-37-Б-в", 25000, 50 + 50 * kMinute, 50 + 55 * kMinute, 18.25, 18.375, 4},
    {"M-34-37-Г-г", "M-34-37-Г-г", 25000, 50 + 40 * kMinute, 50 + 45 * kMinute, 18.375, 18.5, 4},
    {"M-34-37-Б-в-1", "M-34-37-Б-в-1", 10000, 50 + 52.5 * kMinute, 50 + 55 * kMinute, 18.25, 18.3125, 4},
    {"M-34-37-B-c-4", "M-34-37-Б-в-4", 10000, 50 + 50 * kMinute, 50 + 52.5 * kMinute, 18.3125, 18.375, 4},
    {"N-37-1", "N-37-1", 100000, 55 + 40 * kMinute, 56, 36, 36.5, 7},
    {"A-31", "A-31", 1000000, 0, 4, 0, 6, 1},
    {"P-35,36", "P-35,36", 1000000, 60, 64, 24, 36, 6},
    {"P-35-1,2", "P-35-1,2", 100000, 63 + 40 * kMinute, 64, 24, 25, 5},
    {"P-35-1-А,Б", "P-35-1-А,Б", 50000, 63 + 50 * kMinute, 64, 24, 24.5, 5},
    {"P-35-1-A, B", "P-35-1-А,Б", 50000, 63 + 50 * kMinute, 64, 24, 24.5, 5},
    {"T-45,46,47,48", "T-45,46,47,48", 1000000, 76, 80, 84, 108, 17},
    {"T-45-IV,V,VI", "T-45-IV,V,VI", 200000, 79 + 20 * kMinute, 80, 87, 90, 15},
};

TEST(SheetIndex, NamesGiveTheirCorners) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(c.Name);
    const TSheet s = SheetFromName(c.Name);
    EXPECT_EQ(s.Name, c.Printed);
    EXPECT_EQ(s.Scale, c.Scale);
    EXPECT_NEAR(s.South, c.South, 1e-9);
    EXPECT_NEAR(s.North, c.North, 1e-9);
    EXPECT_NEAR(s.West, c.West, 1e-9);
    EXPECT_NEAR(s.East, c.East, 1e-9);
    EXPECT_EQ(s.Plane.Datum, "Pulkovo 1942 (1)");
    EXPECT_EQ(s.Plane.Projection, "Transverse Mercator");
    EXPECT_DOUBLE_EQ(s.Plane.CentralMeridian, 6.0 * c.Zone - 3);
    EXPECT_DOUBLE_EQ(s.Plane.FalseEasting, c.Zone * 1e6 + 5e5);
    EXPECT_DOUBLE_EQ(s.Plane.ScaleFactor, 1);
    const auto corners = s.Corners();
    EXPECT_DOUBLE_EQ(corners[0].Lat, c.North); // north-west first
    EXPECT_DOUBLE_EQ(corners[2].Lon, c.East);  // south-east third
  }
}

TEST(SheetIndex, InvalidNamesSayWhichPartIsWrong) {
  const std::pair<const char*, const char*> cases[] = {
      {"W-34", "\"W\" should be a row letter"},
      {"M-61", "\"61\" should be a column number"},
      {"M", "\"M\" should be followed by a column"},
      {"M-34-145", "\"145\" should be a letter"},
      {"M-34-XXXVII", "\"XXXVII\" should be a letter"},
      {"M-34-37-Д", "\"Д\" should be a letter А, Б, В or Г"},
      {"M-34-37-Б-в-5", "\"5\" should be a number from 1 to 4"},
      {"M-34-37-Б-в-1-2", "\"2\" should not be there"},
      {"M-34-Б-1", "\"1\" should not be there"},
      {"M-34,35", "\"34,35\" joins sheets south of 60°"},
      {"P-35,37", "\"35,37\" joins sheets that are not neighbours"},
      {"P-35,36,37", "\"35,36,37\" joins the wrong number"},
      {"P-36,37", "\"36,37\" joins sheets that do not make up"},
      {"P-35-12,13", "\"12,13\" joins sheets that are not neighbours"},
      {"P-35-2,3", "\"2,3\" joins sheets that do not make up"},
      {"T-45,46", "by 4"},
      {"P-35,36-1", "\"1\" should not be there: joined"},
      {"M-34-37!", "\"!\" is no letter"},
      {"M-34,,35", "\",\" stands where"},
      {"", "empty"},
  };
  for (const auto& [name, says] : cases) {
    SCOPED_TRACE(name);
    try {
      SheetFromName(name);
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
  }
}

TEST(SheetIndex, TypedBounds) {
  const TSheet a = SheetFromBounds("48 30, 48 37.5, 17 00, 17 07.5");
  EXPECT_DOUBLE_EQ(a.South, 48.5);
  EXPECT_DOUBLE_EQ(a.North, 48.625);
  EXPECT_DOUBLE_EQ(a.West, 17);
  EXPECT_DOUBLE_EQ(a.East, 17.125);
  EXPECT_DOUBLE_EQ(a.Plane.CentralMeridian, 15);
  const TSheet b = SheetFromBounds("37°30'N; 37°37'30\"N; 122°7.5'W; 122°W", TSheetPlane::Utm, "NAD27 CONUS");
  EXPECT_DOUBLE_EQ(b.North, 37.625);
  EXPECT_DOUBLE_EQ(b.West, -122.125);
  EXPECT_DOUBLE_EQ(b.East, -122);
  EXPECT_DOUBLE_EQ(b.Plane.CentralMeridian, -123); // UTM zone 10
  EXPECT_DOUBLE_EQ(b.Plane.FalseEasting, 5e5);
  EXPECT_DOUBLE_EQ(b.Plane.ScaleFactor, 0.9996);
  EXPECT_EQ(b.Plane.Datum, "NAD27 CONUS");
  const char* const refused[] = {"48 30, 48 20, 17, 18", "48 61, 49, 17, 18", "48, 49, 17", "48.5 30, 49, 17, 18",
                                 "95, 96, 17, 18", "48x, 49, 17, 18"};
  for (const char* text : refused) EXPECT_THROW(SheetFromBounds(text), Error) << text;
}

// The written lines name the sheet's plane so that the projection library
// reads it back, and four corners placed through that plane fit exactly.
TEST(SheetIndex, MapLinesReadBackInTheSheetsPlane) {
  const TSheet sheet = SheetFromName("M-34-37-Б-в");
  TFrameCorners corners{{{100, 120}, {2100, 140}, {2080, 2460}, {90, 2440}}};
  const auto lines = SheetMapLines(sheet, corners, "M-34-37-Б-в", "M-34-37-Б-в.png", 2200, 2600);
  const TMapProjection projection(lines);
  ASSERT_TRUE(projection.Projected()) << projection.Unknown();
  EXPECT_NE(projection.Definition().find("+proj=tmerc"), std::string::npos);
  EXPECT_NE(projection.Definition().find("+lon_0=21"), std::string::npos);
  EXPECT_NE(projection.Definition().find("+x_0=4500000"), std::string::npos);
  EXPECT_NE(projection.Definition().find("+ellps=krass"), std::string::npos);

  // Pixels exactly proportional to the plane: 1 px = 4 m, north up.
  std::vector<double> east, north;
  for (const TGeoCorner& c : sheet.Corners()) {
    east.push_back(c.Lon);
    north.push_back(c.Lat);
  }
  projection.ToPlane(east, north);
  for (int i = 0; i < 4; ++i) corners[i] = {(east[i] - east[3]) / 4 + 50, (north[0] - north[i]) / 4 + 60};
  const auto exact = SheetMapLines(sheet, corners, "t", "t.png", 3000, 3000);
  const TSheetFitCheck check = CheckSheetMapLines(exact, corners);
  EXPECT_LT(check.Rms, 0.5);
  EXPECT_LT(check.WorstCorner, 0.75);
  // The frame is a trapezium in the plane: its north side is shorter.
  EXPECT_LT(corners[1].X - corners[0].X, corners[2].X - corners[3].X);
}

} // namespace
