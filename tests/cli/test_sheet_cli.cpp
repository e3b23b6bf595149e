// The converter's sheet calibration: its options, and a .map written (or
// not) beside a picture whose frame is drawn on it.

#include "../support/TestSupport.h"

#include "cli/CommandLine.h"
#include "cli/SheetCalibrate.h"
#include "codecs/PngTile.h"
#include "model/CalibrationText.h"
#include "model/MapProjection.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zv;
using namespace zvtest;

namespace {

TCommandLine Parse(std::vector<std::string> args) {
  std::vector<char*> argv{const_cast<char*>("zovevod-export")};
  for (std::string& a : args) argv.push_back(a.data());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(SheetCommandLine, OptionsAndRefusals) {
  const TCommandLine one = Parse({"--calibrate-sheet", "M-34-37", "a.png"});
  EXPECT_EQ(one.CalibrateSheet, "M-34-37");
  EXPECT_TRUE(one.Calibrating());
  const TCommandLine many = Parse({"--calibrate-sheets", "--reload", "a.png", "b.jpg"});
  EXPECT_TRUE(many.CalibrateSheets);
  EXPECT_EQ(many.Files.size(), 2u);
  EXPECT_EQ(Parse({"--calibrate-sheet=48 30,49,17,18", "--projection", "utm", "--datum", "WGS 84", "a.png"}).SheetDatum,
            "WGS 84");
  const std::vector<std::vector<std::string>> refused = {
      {"--calibrate-sheet", "M-34-37", "a.png", "b.png"},
      {"--calibrate-sheet", "M-34-37", "--calibrate-sheets", "a.png"},
      {"--calibrate-sheets", "-o", "out", "a.png"},
      {"--calibrate-sheets", "--list", "a.png"},
      {"--calibrate-sheets"},
      {"--calibrate-sheet", "", "a.png"},
      {"--calibrate-sheets", "--projection", "lambert", "a.png"},
  };
  for (const auto& args : refused) EXPECT_THROW(Parse(args), TUsageError) << args[0] << " " << args.back();
}

// A grey picture with a frame whose corners are (100, 80), (1100, 80),
// (1100, 880), (100, 880), a thick outer frame 30 px outside it and grid
// lines inside; or only paper.
void WriteSheetPicture(const std::string& path, bool frame) {
  constexpr int W = 1200, H = 960;
  TPngTileImage png(TPngColorType::Gray, 8, W, H);
  Bitmap b(W, H, PixelFormat::pf24bit);
  b.Fill({235, 235, 235});
  const auto box = [&](int x0, int y0, int x1, int y1, int half) {
    for (int y = y0 - half; y <= y1 + half; ++y)
      for (int x = x0 - half; x <= x1 + half; ++x)
        if (std::abs(x - x0) <= half || std::abs(x - x1) <= half || std::abs(y - y0) <= half || std::abs(y - y1) <= half)
          b.SetPixel(x, y, {25, 25, 25});
  };
  if (frame) {
    box(100, 80, 1100, 880, 1);
    box(70, 50, 1130, 910, 4);
    for (int x = 180; x < 1100; x += 150) box(x, 80, x, 880, 0);
  }
  png.Canvas().CopyRect(0, 0, b, 0, 0, W, H);
  png.SaveToFile(path);
}

TEST(SheetCalibration, WritesTheMapOnceAndWhole) {
  TempDir dir;
  const std::string picture = dir / "M-34-37-Б-в.png";
  WriteSheetPicture(picture, true);
  TCommandLine cl = Parse({"--calibrate-sheets", picture});
  const TSheetOutcome first = CalibrateSheetPicture(cl, "", picture);
  ASSERT_TRUE(first.Written) << first.Report;
  EXPECT_NE(first.Report.find("NW 100.0 80.0  NE 1100.0 80.0  SE 1100.0 880.0  SW 100.0 880.0"), std::string::npos)
      << first.Report;
  const std::string map = dir / "M-34-37-Б-в.map";
  const std::string text = ReadFile(map);
  std::vector<TCalibrationPoint> points;
  std::string image;
  const auto lines = SplitLines(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  ParseCalibrationLines(lines, ".MAP", points, image);
  EXPECT_EQ(image, "M-34-37-Б-в.png");
  ASSERT_EQ(points.size(), 4u);
  EXPECT_EQ(points[2].X, 1100);
  EXPECT_EQ(points[2].Y, 880);
  EXPECT_NEAR(static_cast<double>(points[2].Lat), 50 + 50.0 / 60, 1e-6);
  EXPECT_NEAR(static_cast<double>(points[2].Lon), 18.375, 1e-6);
  EXPECT_TRUE(TMapProjection(lines).Projected());

  // Not replaced without --reload; replaced with it.
  const TSheetOutcome again = CalibrateSheetPicture(cl, "", picture);
  EXPECT_FALSE(again.Written);
  EXPECT_NE(again.Report.find("exists already"), std::string::npos);
  cl.Reload = true;
  EXPECT_TRUE(CalibrateSheetPicture(cl, "48 50, 48 55, 18 15, 18 22.5", picture).Written);
  EXPECT_NE(ReadFile(map).find("  48, 55.0000,N"), std::string::npos);
}

TEST(SheetCalibration, WritesNothingWithoutAFrameOrAName) {
  TempDir dir;
  const std::string blank = dir / "M-34-37-Б-г.png";
  WriteSheetPicture(blank, false);
  const std::string unnamed = dir / "scan 12.png";
  WriteSheetPicture(unnamed, true);
  const TCommandLine cl = Parse({"--calibrate-sheets", blank, unnamed});
  const TSheetOutcome noFrame = CalibrateSheetPicture(cl, "", blank);
  EXPECT_FALSE(noFrame.Written);
  EXPECT_NE(noFrame.Report.find("no .map written: No sheet frame"), std::string::npos) << noFrame.Report;
  const TSheetOutcome noName = CalibrateSheetPicture(cl, "", unnamed);
  EXPECT_FALSE(noName.Written);
  EXPECT_NE(noName.Report.find("is not valid"), std::string::npos) << noName.Report;
  // Only the two pictures: no .map, no temporary file left.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 2);
}

} // namespace
