#include "model/SheetCornerPick.h"
#include "model/SheetIndex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace zv {
namespace {

TEST(SheetCornerPick, ClicksSnapToAFoundCornerWithinTwelveScreenPixels) {
  const std::vector<TPixelCorner> found = {{100, 100}, {900, 104}, {905, 700}};
  struct Case {
    double X, Y, Zoom;
    bool Keep;
    double WantX, WantY;
    bool WantSnapped;
  } cases[] = {
      {108, 103, 1, false, 100, 100, true},    // 8.5 screen px away
      {112, 100, 1, false, 100, 100, true},    // 12 screen px: still taken
      {113, 100, 1, false, 113, 100, false},   // 13 screen px: too far
      {103.5, 100, 4, false, 103.5, 100, false}, // 3.5 picture px are 14 screen px at zoom 4
      {102, 100, 4, false, 100, 100, true},    // 8 screen px at zoom 4
      {120, 100, 0.5, false, 100, 100, true},  // 20 picture px are 10 screen px at zoom 1/2
      {108, 103, 1, true, 108, 103, false},    // Shift keeps the click
      {902, 102, 1, false, 900, 104, true},    // the nearest of the found corners
      {500, 400, 1, false, 500, 400, false},   // none near
  };
  for (const Case& c : cases) {
    const TSnappedClick got = SnapToFrameCorner(c.X, c.Y, found, c.Zoom, c.Keep);
    EXPECT_EQ(got.Snapped, c.WantSnapped) << c.X << "," << c.Y << " at " << c.Zoom;
    EXPECT_DOUBLE_EQ(got.At.X, c.WantX) << c.X << "," << c.Y << " at " << c.Zoom;
    EXPECT_DOUBLE_EQ(got.At.Y, c.WantY) << c.X << "," << c.Y << " at " << c.Zoom;
  }
}

TEST(SheetCornerPick, TwoClicksPredictTheOtherCorners) {
  // A 20' × 30' quadrangle on the equator is nearly a rectangle 3 : 2.
  const TSheet equator = SheetFromBounds("0, 0 20, 30, 30 30");
  struct Case {
    TPixelCorner Nw, Ne, WantSe, WantSw;
  } cases[] = {
      {{100, 100}, {1600, 100}, {1600, 1100}, {100, 1100}},  // upright
      {{100, 100}, {100, 1600}, {-900, 1600}, {-900, 100}},  // turned a quarter clockwise
      {{0, 0}, {750, 0}, {750, 500}, {0, 500}},              // half the scale
  };
  for (const Case& c : cases) {
    TSheetCornerPick pick(equator);
    EXPECT_FALSE(pick.Predicted(2));
    pick.Take(c.Nw);
    EXPECT_FALSE(pick.Predicted(2));
    pick.Take(c.Ne);
    ASSERT_TRUE(pick.Predicted(2));
    EXPECT_FALSE(pick.Predicted(1)) << "a corner taken is not predicted";
    EXPECT_NEAR(pick.Predicted(2)->X, c.WantSe.X, 0.5);
    EXPECT_NEAR(pick.Predicted(2)->Y, c.WantSe.Y, 0.5);
    EXPECT_NEAR(pick.Predicted(3)->X, c.WantSw.X, 0.5);
    EXPECT_NEAR(pick.Predicted(3)->Y, c.WantSw.Y, 0.5);
  }
}

TEST(SheetCornerPick, PredictionFollowsTheConvergingMeridians) {
  // P-35 spans 60°..64°N: its south edge is longer than its north edge by
  // cos 60° / cos 64°.
  TSheetCornerPick pick(SheetFromName("P-35,36"));
  pick.Take({0, 0});
  pick.Take({1000, 0});
  const auto se = pick.Predicted(2);
  const auto sw = pick.Predicted(3);
  ASSERT_TRUE(se && sw);
  EXPECT_NEAR((se->X - sw->X) / 1000, std::cos(60 * std::numbers::pi / 180) / std::cos(64 * std::numbers::pi / 180), 1e-9);
  EXPECT_NEAR(se->X + sw->X, 1000, 1e-6) << "symmetric about the middle meridian";
  EXPECT_GT(se->Y, 0);
}

TEST(SheetCornerPick, FourClicksGiveFourPointsInOrder) {
  TSheetCornerPick pick(SheetFromName("M-34-37"));
  const TPixelCorner clicks[] = {{10.4, 20.6}, {910, 20}, {912, 620}, {9, 618}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(pick.Next(), i);
    pick.Take(clicks[i]);
  }
  EXPECT_TRUE(pick.Done());
  pick.Take({1, 1}); // nothing after the fourth
  const auto points = pick.Points();
  ASSERT_EQ(points.size(), 4u);
  EXPECT_EQ(points[0].X, 10);
  EXPECT_EQ(points[0].Y, 21);
  // M-34-37: 50°40'..51°N, 18°..18°30'E.
  const double want[4][2] = {{51, 18}, {51, 18.5}, {50 + 40.0 / 60, 18.5}, {50 + 40.0 / 60, 18}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(points[static_cast<std::size_t>(i)].HasLatLon);
    EXPECT_NEAR(static_cast<double>(points[static_cast<std::size_t>(i)].Lat), want[i][0], 1e-9);
    EXPECT_NEAR(static_cast<double>(points[static_cast<std::size_t>(i)].Lon), want[i][1], 1e-9);
  }
}

TEST(SheetCornerPick, SheetPlaneReplacesTheMapsPlaneLinesOnly) {
  const TSheet sheet = SheetFromName("M-34-37");
  const TFrameCorners corners{{{10, 10}, {500, 10}, {500, 400}, {10, 400}}};
  std::vector<std::string> lines = {"OziExplorer Map Data File Version 2.2", "t", "own.png", "1 ,Map Code,",
                                    "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84", "Reserved 1", "Reserved 2",
                                    "Magnetic Variation,,,E", "Map Projection,Mercator,PolyCal,No", "Point01,xy,1,2",
                                    "Projection Setup,,,,,,,,,,", "IWH,Map Image Width/Height,600,460"};
  auto want = lines;
  want[4] = DatumLine(sheet.Plane);
  want[8] = MapProjectionLine(sheet.Plane);
  want[10] = ProjectionSetupLine(sheet.Plane);
  WriteSheetPlane(lines, sheet, corners, "t", "own.png", 600, 460);
  EXPECT_EQ(lines, want);
  // Lines of another kind of file become the whole of a sheet's .map.
  std::vector<std::string> other = {"line one", "line two"};
  WriteSheetPlane(other, sheet, corners, "t", "own.png", 600, 460);
  EXPECT_EQ(other, SheetMapLines(sheet, corners, "t", "own.png", 600, 460));
}

} // namespace
} // namespace zv
