// Editing and saving calibration points: typed cells, the write-back, the
// .map writer and its safe replacement of files, read back by this program
// and by GDAL.

#include "TestMaps.h"

#include "base/Errors.h"
#include "base/Messages.h"
#include "model/CalibrationEdit.h"
#include "model/CalibrationFit.h"
#include "model/CalibrationText.h"
#include "model/CalibrationWriter.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"
#include "export/ExportToAmbulo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zv;
using zvtest::TempDir;

namespace {

using Lines = std::vector<std::string>;

// Half a ten-thousandth of a minute, the precision of the written minutes.
constexpr double kMinuteRounding = 0.00005 / 60;

TCalibrationPoint Pt(int x, int y, double lat, double lon, bool hasLatLon = true) {
  TCalibrationPoint p;
  p.X = x;
  p.Y = y;
  p.Lat = lat;
  p.Lon = lon;
  p.HasLatLon = hasLatLon;
  return p;
}

// Four picks around a small picture, as a person would make them: close to,
// but not exactly on, one affine map (GDAL then lists them as GCPs).
std::vector<TCalibrationPoint> Picked() {
  return {Pt(10, 12, 48.51234, 17.10456), Pt(90, 11, 48.51301, 17.20712), Pt(88, 70, 48.45103, 17.20633),
          Pt(12, 69, -48.45021, -17.10399)};
}

void ExpectSamePoints(const std::vector<TCalibrationPoint>& actual, const std::vector<TCalibrationPoint>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    SCOPED_TRACE("point " + std::to_string(i + 1));
    EXPECT_EQ(actual[i].X, expected[i].X);
    EXPECT_EQ(actual[i].Y, expected[i].Y);
    EXPECT_EQ(actual[i].HasLatLon, expected[i].HasLatLon);
    EXPECT_NEAR(static_cast<double>(actual[i].Lat), static_cast<double>(expected[i].Lat), kMinuteRounding);
    EXPECT_NEAR(static_cast<double>(actual[i].Lon), static_cast<double>(expected[i].Lon), kMinuteRounding);
  }
}

Lines FileLines(const std::string& path) {
  const std::string text = zvtest::ReadFile(path);
  return SplitLines(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::vector<TCalibrationPoint> ReadBack(const std::string& mapFile) {
  TDisplayMapsCore view;
  view.OpenFile(mapFile);
  EXPECT_NE(view.ActiveMapArea(), nullptr);
  return view.ActiveMapArea() ? view.ActiveMapArea()->Points : std::vector<TCalibrationPoint>{};
}

std::string Corpus(const std::string& name) { return std::string(ZOVEVOD_TESTDATA_DIR "/calibration/gt-ozi/") + name; }

// A copy of a corpus map with its picture in a fresh folder.
std::string CopyCorpusMap(const TempDir& dir, const std::string& base) {
  namespace fs = std::filesystem;
  fs::copy_file(Corpus(base + ".map"), dir / (base + ".map"));
  fs::copy_file(Corpus(base + ".jpg"), dir / (base + ".jpg"));
  fs::permissions(dir / (base + ".map"), fs::perms::owner_write, fs::perm_options::add);
  return dir / (base + ".map");
}

bool IsPointLine(const std::string& line) { return line.rfind("Point", 0) == 0; }

} // namespace

TEST(CalibrationCells, EmptyNumbersAndRefusedTexts) {
  std::optional<std::int32_t> i = 7;
  std::optional<double> d = 7;
  std::string error;
  EXPECT_TRUE(ParseIntegerCell("  ", i, error));
  EXPECT_FALSE(i);
  EXPECT_TRUE(ParseIntegerCell(" -12 ", i, error));
  EXPECT_EQ(i, -12);
  EXPECT_FALSE(ParseIntegerCell("1.5", i, error));
  EXPECT_EQ(error, "'1.5' nie je platné celé číslo");
  EXPECT_FALSE(ParseIntegerCell("99999999999", i, error));

  EXPECT_TRUE(ParseRealCell("", d, error));
  EXPECT_FALSE(d);
  EXPECT_TRUE(ParseRealCell("48.5", d, error));
  EXPECT_EQ(d, 48.5);
  EXPECT_FALSE(ParseRealCell("48°30'", d, error));
  EXPECT_EQ(error, "'48°30'' nie je platné číslo s pohyblivou desatinnou čiarkou");
  // What only the widest type reaches does not fit the cell.
  EXPECT_FALSE(ParseRealCell("1e400", d, error));
}

TEST(CalibrationWriteBack, RowsBecomeThePointsAndKeepGridOnlyPoints) {
  TMapArea area(nullptr, nullptr);
  area.Points = {Pt(1, 2, 0, 0, false), Pt(3, 4, 48.5, 17.25)};
  area.SavedPoints = area.Points;
  EXPECT_FALSE(PointsChanged(area));
  // The grid-only point stays without coordinates; a new 0, 0 row has none;
  // a row with either coordinate has them.
  WriteBackCalibrationPoints(area, {{1, 2, 0, 0}, {3, 4, 48.5, 17.25}, {5, 6, 0, 0}, {7, 8, 0, 17}});
  ASSERT_EQ(area.Points.size(), 4u);
  EXPECT_FALSE(area.Points[0].HasLatLon);
  EXPECT_TRUE(area.Points[1].HasLatLon);
  EXPECT_FALSE(area.Points[2].HasLatLon);
  EXPECT_TRUE(area.Points[3].HasLatLon);
  EXPECT_TRUE(PointsChanged(area));
  // Back to the rows as read: no change, at the table's double precision.
  WriteBackCalibrationPoints(area, {{1, 2, 0, 0}, {3, 4, 48.5, 17.25}});
  EXPECT_FALSE(PointsChanged(area));

  // A grid-only point picked again (its pixel edited in place) keeps its grid
  // words, also with a row inserted before it later; typed coordinates take
  // their place.
  area.Points[0].HasGrid = true;
  area.Points[0].Easting = 560000;
  area.Points[0].Northing = 5380000;
  WriteBackCalibrationPoints(area, {{9, 9, 0, 0}, {3, 4, 48.5, 17.25}});
  EXPECT_TRUE(area.Points[0].HasGrid);
  EXPECT_FALSE(area.Points[0].HasLatLon);
  EXPECT_EQ(area.Points[0].Easting, 560000);
  WriteBackCalibrationPoints(area, {{0, 0, 1, 1}, {9, 9, 0, 0}, {3, 4, 48.5, 17.25}});
  EXPECT_TRUE(area.Points[1].HasGrid);
  EXPECT_EQ(area.Points[1].Northing, 5380000);
  EXPECT_FALSE(area.Points[0].HasGrid);
  WriteBackCalibrationPoints(area, {{0, 0, 1, 1}, {9, 9, 48.5, 17}, {3, 4, 48.5, 17.25}});
  EXPECT_FALSE(area.Points[1].HasGrid);
  EXPECT_TRUE(area.Points[1].HasLatLon);
  // 0 N 0 E typed into both cells is a place; only empty cells are none.
  WriteBackCalibrationPoints(area, {{0, 0, 1, 1}, {5, 6, 0, 0, true}, {3, 4, 48.5, 17.25}});
  EXPECT_TRUE(area.Points[1].HasLatLon);
}

TEST(CalibrationWriteBack, ReadPointsAreNoChangeEvenAfterAFailedRead) {
  TMapArea area(nullptr, nullptr);
  area.FileName = "a.map";
  area.Lines = {"h", "t", "a.bmp", "Point01,xy, 1, 2,in, deg, 48, 30,N, 17, 0,E", "Point02,xy, x, 2"};
  EXPECT_THROW(area.ParseCalibration(), Error);
  EXPECT_EQ(area.Points.size(), 1u);
  EXPECT_FALSE(PointsChanged(area));

  // Saving it would rewrite the point line never read as a deleted point:
  // refused, with nothing written; a whole read makes it savable again.
  TempDir dir;
  area.Name = "a";
  area.Points[0].X = 5;
  try {
    SaveCalibration(area, dir / "a.map");
    ADD_FAILURE() << "the save did not fail";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "The calibration of a was not read to its end; saving it would lose the points not read");
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "a.map"));
  area.Lines.pop_back();
  area.ParseCalibration();
  EXPECT_NO_THROW(SaveCalibration(area, dir / "a.map"));
}

TEST(CalibrationFindings, EveryFindingAboutAPointIsItsText) {
  TMapArea area(nullptr, nullptr);
  area.Width = 100;
  area.Height = 80;
  area.Points = {Pt(10, 10, 48.5, 17.1), Pt(500, 10, 95, 17.2), Pt(10, 70, 48.4, 17.1)};
  const std::vector<std::string> texts = PointFindingTexts(area);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "");
  EXPECT_EQ(texts[1], "Point 2 (500, 10) lies outside the picture (100 x 80): check its pixel position.\n" +
                          msg::PointLatitudeOutOfRange(2, 95));
  EXPECT_EQ(texts[2], "");
}

TEST(MapWriter, PointLinesInTheUsualLayout) {
  EXPECT_EQ(MapPointLine(1, Pt(100, 200, 48.5, 17.1)),
            "Point01,xy,  100,  200,in, deg,  48, 30.0000,N,  17,  6.0000,E, grid,   ,           ,           ,N");
  EXPECT_EQ(MapPointLine(12, Pt(0, 7, -33.25, -70.5)),
            "Point12,xy,    0,    7,in, deg,  33, 15.0000,S,  70, 30.0000,W, grid,   ,           ,           ,N");
  // Minutes that round up to 60 carry into the degree.
  EXPECT_EQ(MapPointLine(3, Pt(1, 1, 48.9999999, 180)),
            "Point03,xy,    1,    1,in, deg,  49,  0.0000,N, 180,  0.0000,E, grid,   ,           ,           ,N");
  EXPECT_EQ(MapPointLine(4, Pt(5, 6, 0, 0, false)),
            "Point04,xy,    5,    6,in, deg,    ,        ,N,    ,        ,E, grid,   ,           ,           ,N");
  EXPECT_EQ(EmptyMapPointLine(30),
            "Point30,xy,     ,     ,in, deg,    ,        ,N,    ,        ,E, grid,   ,           ,           ,N");
  EXPECT_EQ(MapPointLine(100, Pt(123456, -5, 1, 2)).substr(0, 26), "Point100,xy,123456,   -5,i");
  EXPECT_THROW(MapPointLine(1, Pt(0, 0, 1e12, 0)), Error);
}

// The program's own reader gives back what was written, both hemispheres
// and points without coordinates included.
TEST(MapWriter, LinesReadBackToThePoints) {
  const std::vector<TCalibrationPoint> points = {Pt(10, 20, 48.123456789, 17.987654321), Pt(30, 40, -0.5, -179.75),
                                                 Pt(50, 60, 0, 0, false), Pt(70, 80, 89.99999, 0.00001)};
  Lines lines = {"OziExplorer Map Data File Version 2.2", "t", "a.bmp"};
  for (std::size_t i = 0; i < points.size(); ++i) lines.push_back(MapPointLine(static_cast<int>(i) + 1, points[i]));
  lines.push_back(EmptyMapPointLine(5));
  std::vector<TCalibrationPoint> read;
  std::string image;
  ParseCalibrationLines(lines, ".MAP", read, image);
  ExpectSamePoints(read, points);
}

// A corpus .map with edited points: every other line as read, the point
// lines replaced in order (their names kept, the rest emptied), and the
// picture size line set.
TEST(MapWriter, EditedMapKeepsEveryOtherLine) {
  TempDir dir;
  const std::string map = CopyCorpusMap(dir, "latlon-wgs84");
  TDisplayMapsCore view;
  view.OpenFile(map);
  TMapArea& area = *view.ActiveMapArea();
  const Lines before = area.Lines;
  area.Points.erase(area.Points.begin() + 1);
  area.Points[0].Lat = 45.5;
  area.Width = 700; // as if the picture had been resized

  const Lines saved = CalibrationLinesToSave(area, map);
  ASSERT_EQ(saved.size(), before.size());
  int pointLine = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE(before[i]);
    if (IsPointLine(before[i])) {
      ++pointLine;
      EXPECT_EQ(saved[i].substr(0, 8), before[i].substr(0, 8));
      // The line of the ninth point, deleted, is emptied; unused lines stay as they were.
      if (pointLine == 9) {
        EXPECT_EQ(saved[i], EmptyMapPointLine(9));
      } else if (pointLine > 9) {
        EXPECT_EQ(saved[i], before[i]);
      }
    } else if (before[i].rfind("IWH,", 0) == 0) {
      EXPECT_EQ(saved[i], "IWH,Map Image Width/Height,700,360");
    } else if (before[i].rfind("MMPLL,", 0) == 0) {
      EXPECT_EQ(saved[i].substr(0, 9), before[i].substr(0, 9)); // the new fit's border: see below
    } else {
      EXPECT_EQ(saved[i], before[i]);
    }
  }
  EXPECT_EQ(pointLine, 30);
  std::vector<TCalibrationPoint> read;
  std::string image;
  ParseCalibrationLines(saved, ".MAP", read, image);
  ExpectSamePoints(read, area.Points);
  EXPECT_EQ(image, "latlon-wgs84.jpg");
}

TEST(MapWriter, UnchangedPointLinesStayAndBorderLinesFollowTheFit) {
  TempDir dir;
  const std::string map = CopyCorpusMap(dir, "utm11-nad27");
  TDisplayMapsCore view;
  view.OpenFile(map);
  TMapArea& area = *view.ActiveMapArea();
  // Minutes to six places, and stale border lines.
  std::size_t first = 0, border = 0;
  for (std::size_t i = 0; i < area.Lines.size(); ++i) {
    if (area.Lines[i].rfind("Point01,", 0) == 0) first = i;
    if (area.Lines[i].rfind("MMPLL, 1,", 0) == 0) border = i;
  }
  const std::string original = area.Lines[border];
  area.Lines[first].replace(area.Lines[first].find("54.0885"), 7, "54.088512");
  area.Lines[border] = "MMPLL, 1,   0.000000,   0.000000";
  area.Points.clear();
  area.ParseCalibration();
  const Lines before = area.Lines;
  // Unchanged: every line as it was, border lines too.
  EXPECT_EQ(CalibrationLinesToSave(area, map), before);
  area.Points.pop_back();
  const Lines saved = CalibrationLinesToSave(area, map);
  EXPECT_EQ(saved[first], before[first]);
  const auto number = [](const std::string& line, int word) { return std::stod(ExtractNthWord(word, line, ",")); };
  EXPECT_NEAR(number(saved[border], 3), number(original, 3), 2e-5);
  EXPECT_NEAR(number(saved[border], 4), number(original, 4), 2e-5);
}

TEST(MapWriter, MoreThanThirtyPointsAskBeforeWriting) {
  TempDir dir;
  const std::string map = CopyCorpusMap(dir, "latlon-wgs84");
  TDisplayMapsCore view;
  view.OpenFile(map);
  TMapArea& area = *view.ActiveMapArea();
  const std::string text = zvtest::ReadFile(map);
  EXPECT_EQ(SaveCalibrationQuestion(area), "");
  while (area.Points.size() <= 30) area.Points.push_back(area.Points.front());
  std::string asked;
  EXPECT_FALSE(SaveCalibration(area, map, [&](const std::string& q) { return asked = q, false; }));
  EXPECT_EQ(asked, "The calibration has 31 points; other programs that read .map files stop at 30. Save all of "
                   "them anyway?");
  EXPECT_EQ(zvtest::ReadFile(map), text);
  EXPECT_TRUE(SaveCalibration(area, map, [](const std::string&) { return true; }));
  EXPECT_NE(zvtest::ReadFile(map), text);
}

// Unchanged points of the corpus maps, projected ones with their grid words
// among them, are written back exactly as the files have them.
TEST(MapWriter, UnchangedCorpusMapsComeBackAsTheyWere) {
  for (const char* base : {"latlon-wgs84", "merc-wgs84", "gk5-pul42", "utm11-nad27", "utm21-nad83"}) {
    SCOPED_TRACE(base);
    TDisplayMapsCore view;
    view.OpenFile(Corpus(std::string(base) + ".map"));
    const TMapArea& area = *view.ActiveMapArea();
    EXPECT_EQ(CalibrationLinesToSave(area, area.FileName), area.Lines);
  }
}

// Points beyond the file's point lines get new numbered lines after the last
// one; a missing picture size line is added at the end.
TEST(MapWriter, MorePointsThanLinesAndNoSizeLine) {
  TMapArea area(nullptr, nullptr);
  area.FileName = "a.map";
  area.Width = 640;
  area.Height = 480;
  area.Lines = {"OziExplorer Map Data File Version 2.2",
                "t",
                "a.bmp",
                "Map Projection,Latitude/Longitude",
                MapPointLine(1, Pt(1, 1, 1, 1)),
                "Projection Setup,,,,,,,,,,",
                "MOP,Map Open Position,0,0"};
  area.Points = {Pt(1, 2, 3, 4), Pt(5, 6, 7, 8), Pt(9, 10, 11, 12)};
  const Lines saved = CalibrationLinesToSave(area, "a.map");
  const Lines expected = {area.Lines[0],
                          area.Lines[1],
                          area.Lines[2],
                          area.Lines[3],
                          MapPointLine(1, area.Points[0]),
                          MapPointLine(2, area.Points[1]),
                          MapPointLine(3, area.Points[2]),
                          "Projection Setup,,,,,,,,,,",
                          "MOP,Map Open Position,0,0",
                          "IWH,Map Image Width/Height,640,480"};
  EXPECT_EQ(saved, expected);
}

// Grid words go with their point wherever it moves, and a line read back
// from them is the line as it was.
TEST(MapWriter, GridWordsGoWithTheirPoint) {
  TMapArea area(nullptr, nullptr);
  area.FileName = "g.map";
  const std::string first =
      "Point01,xy,  100,  200,in, deg,    ,        ,N,    ,        ,E, grid, 33,     500000,  5400000.5,S";
  const std::string second =
      "Point02,xy,  300,  400,in, deg,  48, 30.0000,N,  17,  6.0000,E, grid,   ,     501000,    5399000,N";
  area.Lines = {"OziExplorer Map Data File Version 2.2", "t", "g.bmp", first, second};
  std::string image;
  ParseCalibrationLines(area.Lines, ".MAP", area.Points, image);
  ASSERT_TRUE(area.Points[0].HasGrid);
  EXPECT_EQ(CalibrationLinesToSave(area, "g.map"), area.Lines);
  area.Points.erase(area.Points.begin());
  const Lines saved = CalibrationLinesToSave(area, "g.map");
  ASSERT_EQ(saved.size(), 5u);
  EXPECT_EQ(saved[3], "Point01" + second.substr(7));
  EXPECT_EQ(saved[4], EmptyMapPointLine(2));

  // Grid words no plane has are read as none, so the point still saves.
  std::vector<TCalibrationPoint> points;
  ParseCalibrationLines({"h", "t", "g.bmp", second.substr(0, 73) + "1e400,    5399000,N"}, ".MAP", points, image);
  ASSERT_EQ(points.size(), 1u);
  EXPECT_FALSE(points[0].HasGrid);
  // What the reader takes, the writer writes back to the same numbers.
  for (const char* easting : {"1e-100", "999999999999999.9", "-0.000001", "123456789012345"}) {
    SCOPED_TRACE(easting);
    std::vector<TCalibrationPoint> read, again;
    ParseCalibrationLines({"h", "t", "g.bmp", second.substr(0, 73) + easting + ",    5399000,N"}, ".MAP", read, image);
    ASSERT_EQ(read.size(), 1u);
    if (!read[0].HasGrid) continue; // beyond the grid's limit after rounding: no grid words at all
    ParseCalibrationLines({"h", "t", "g.bmp", MapPointLine(1, read[0])}, ".MAP", again, image);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_TRUE(again[0].HasGrid);
    EXPECT_EQ(again[0].Easting, read[0].Easting);
  }
}

TEST(MapWriter, OnlyTheImageSizeLineIsRewrittenAndChecked) {
  TMapArea area(nullptr, nullptr);
  area.FileName = "g.map";
  area.Lines = {"OziExplorer Map Data File Version 2.2",
                "IWH,My map,640,480",
                "g.bmp",
                "IWH,Other,1,2",
                "Point01,xy,  100,  200,in, deg,  48, 30.0000,N,  17,  6.0000,E, grid,   ,           ,           ,N",
                "IWH,Map Image Width/Height,640,480"};
  area.Width = 320;
  area.Height = 240;
  area.ParseCalibration();
  std::vector<std::string> want = area.Lines;
  want[5] = "IWH,Map Image Width/Height,320,240";
  EXPECT_EQ(CalibrationLinesToSave(area, "g.map"), want);
  bool otherSize = false;
  for (const TCalibrationFinding& f : CheckCalibration(area))
    otherSize = otherSize || f.Message.find("640") != std::string::npos;
  EXPECT_TRUE(otherSize);
}

// A .gmi map has no .map lines to keep: it gets a whole new file.
TEST(MapWriter, GmiMapGetsANewMapFile) {
  TMapArea area(nullptr, nullptr);
  area.FileName = "/maps/north.gmi";
  area.Name = "north";
  area.Lines = {"Map Calibration data file v2.0", "north.png", "640", "480", "10;20;17.1;48.5"};
  area.Points = {Pt(10, 20, 48.5, 17.1)};
  const Lines saved = CalibrationLinesToSave(area, "/maps/north.map");
  ASSERT_GE(saved.size(), 10u);
  EXPECT_EQ(saved[0], "OziExplorer Map Data File Version 2.2");
  EXPECT_EQ(saved[1], "north");
  EXPECT_EQ(saved[9], MapPointLine(1, area.Points[0]));
}

// An image opened alone gets a whole new .map naming it relative to the
// file's folder; it reads back to the same points and picture.
TEST(MapWriter, ImageAloneGetsANewMapFile) {
  TempDir dir;
  const std::string image = dir.NewPath("pictures/north.bmp");
  zvtest::WriteBmp(image, 0, 0, 100, 80);
  TDisplayMapsCore view;
  view.OpenFile(image);
  TMapArea& area = *view.ActiveMapArea();
  area.Points = Picked();
  EXPECT_TRUE(PointsChanged(area));

  const std::string map = dir / "north.map";
  SaveCalibration(area, map);
  const Lines lines = FileLines(map);
  ASSERT_GE(lines.size(), 40u);
  EXPECT_EQ(lines[0], "OziExplorer Map Data File Version 2.2");
  EXPECT_EQ(lines[2], "pictures/north.bmp");
  EXPECT_EQ(lines[4], "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84");
  EXPECT_EQ(lines[8], "Map Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No");
  EXPECT_EQ(lines[9], MapPointLine(1, area.Points[0]));
  EXPECT_EQ(lines[38], EmptyMapPointLine(30));
  EXPECT_EQ(lines.back(), "IWH,Map Image Width/Height,100,80");
  // CR LF after every line.
  const std::string text = zvtest::ReadFile(map);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1);

  // The area now stands as if read from the file.
  EXPECT_EQ(area.Lines, lines);
  EXPECT_EQ(area.FileName, map);
  EXPECT_FALSE(PointsChanged(area));
  ExpectSamePoints(ReadBack(map), Picked());
  TDisplayMapsCore again;
  again.OpenFile(map);
  EXPECT_EQ(again.ActiveMapArea()->Width, 100);

  // Saved again elsewhere, it is a .map area: its line 3 stays as read.
  const std::string elsewhere = dir.NewPath("maps/north.map");
  SaveCalibration(area, elsewhere);
  EXPECT_EQ(FileLines(elsewhere)[2], "pictures/north.bmp");
}

TEST(MapWriter, ImageOutsideTheFolderIsNamedWhole) {
  TempDir dir;
  const std::string image = dir.NewPath("pictures/north.bmp");
  zvtest::WriteBmp(image, 0, 0, 20, 20);
  TDisplayMapsCore view;
  view.OpenFile(image);
  const std::string map = dir.NewPath("maps/north.map");
  SaveCalibration(*view.ActiveMapArea(), map);
  EXPECT_EQ(FileLines(map)[2], std::filesystem::absolute(image).lexically_normal().string());
  EXPECT_EQ(ReadBack(map).size(), 0u);
}

// A save that fails leaves the file it would replace as it was, and no
// temporary file behind.
// Where a save goes without a question, and what "Save calibration as..."
// suggests: the .map itself; a .map in an archive, a .gmi or a lone image as
// a .map of its name, beside the archive for one read from it.
TEST(MapWriter, OwnAndSuggestedCalibrationFiles) {
  struct Case {
    const char* file;
    const char* tar;
    const char* image;
    const char* own;
    const char* suggested;
  };
  const Case cases[] = {
      {"/m/a.map", "", "a.jpg", "/m/a.map", "/m/a.map"},
      {"/m/a.MAP", "", "a.jpg", "/m/a.MAP", "/m/a.MAP"},
      {"maps/a.map", "/t/x.tar", "a.jpg", "", "/t/a.map"},
      {"/m/b.gmi", "", "b.png", "", "/m/b.map"},
      {"/m/c.jpg", "", "", "", "/m/c.map"},
      {"/m/d.bmp", "", "/m/e.bmp", "", "/m/e.map"},
  };
  for (const Case& c : cases) {
    TMapArea area(nullptr, nullptr);
    area.FileName = c.file;
    area.TarFileName = c.tar;
    area.ImageFileName = c.image;
    EXPECT_EQ(OwnCalibrationFile(area), c.own) << c.file;
    EXPECT_EQ(SuggestedCalibrationFile(area), c.suggested) << c.file;
  }
}

// A new file gets what the umask leaves of rw for all; a replaced one keeps
// its mode; the umask itself is never touched.
TEST(MapWriter, SavedFileModes) {
  TempDir dir;
  const mode_t before = ::umask(027);
  WriteTextFileReplacing(dir / "new.map", {"x"});
  struct stat st {};
  ASSERT_EQ(::stat((dir / "new.map").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ::chmod((dir / "new.map").c_str(), 0604);
  WriteTextFileReplacing(dir / "new.map", {"y"});
  ASSERT_EQ(::stat((dir / "new.map").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0604u);
  EXPECT_EQ(::umask(before), 027u);
  EXPECT_EQ(zvtest::ReadFile(dir / "new.map"), "y\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(MapWriter, FailedSaveLeavesTheOldFile) {
  TempDir dir;
  const std::string map = dir / "a.map";
  zvtest::WriteFile(map, "old\r\n");
  TMapArea area(nullptr, nullptr);
  area.Points = Picked();
  area.Lines = {"kept"};

  // A full disk: the file size limit makes every write past it fail the same way.
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  try {
    SaveCalibration(area, map);
    ADD_FAILURE() << "the save did not fail";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(map), std::string::npos) << e.what();
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(zvtest::ReadFile(map), "old\r\n");
  EXPECT_EQ(area.Lines, Lines{"kept"});
  EXPECT_TRUE(PointsChanged(area));
  const auto entries = std::distance(std::filesystem::directory_iterator(dir.Path()), {});
  EXPECT_EQ(entries, 1);

  // A read-only folder (root writes anyway, so the check needs another user).
  if (geteuid() != 0) {
    chmod(dir.Path().c_str(), 0555);
    EXPECT_THROW(SaveCalibration(area, map), Error);
    chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(zvtest::ReadFile(map), "old\r\n");
  }
}

// An export before any save writes the calibration as read; after a save,
// the saved one.
TEST(MapWriter, ExportCarriesTheSavedCalibration) {
  TempDir dir;
  const std::string map = CopyCorpusMap(dir, "merc-wgs84");
  const std::string original = zvtest::ReadFile(map);
  TDisplayMapsCore view;
  view.OpenFile(map);
  TMapArea& area = *view.ActiveMapArea();
  area.Points[0].X += 3;
  const auto exportTo = [&](const std::string& folder) {
    std::filesystem::create_directories(folder);
    std::vector<std::string> entries;
    ExportTileSet(folder + "/", area, "", false, TExportOptions{}, entries, TExportProgress{});
    return zvtest::ReadFile(folder + "/merc-wgs84.map");
  };
  // Lines as read, with CR LF line ends.
  std::string asRead;
  for (const std::string& line : FileLines(map)) asRead += line + "\r\n";
  EXPECT_EQ(exportTo(dir / "before"), asRead);
  SaveCalibration(area, map);
  EXPECT_NE(zvtest::ReadFile(map), original);
  EXPECT_EQ(exportTo(dir / "after"), zvtest::ReadFile(map));
  ExpectSamePoints(ReadBack(dir / "after/merc-wgs84.map"), area.Points);
}

// GDAL's reader of the format lists the saved points as ground control
// points, the hemisphere letters read alike.
TEST(MapWriter, GdalReadsTheSavedPoints) {
  if (!zvtest::HaveTool("gdalinfo")) GTEST_SKIP() << "gdalinfo is not installed";
  TempDir dir;
  const std::string image = dir / "north.bmp";
  zvtest::WriteBmp(image, 0, 0, 100, 80);
  TDisplayMapsCore view;
  view.OpenFile(image);
  TMapArea& area = *view.ActiveMapArea();
  area.Points = Picked();
  const std::string map = dir / "north.map";
  SaveCalibration(area, map);

  const std::string out = dir / "gdalinfo.txt";
  ASSERT_EQ(std::system(("gdalinfo '" + map + "' > '" + out + "' 2>&1").c_str()), 0) << zvtest::ReadFile(out);
  std::istringstream text(zvtest::ReadFile(out));
  std::vector<TCalibrationPoint> gcps;
  for (std::string line; std::getline(text, line);) {
    double x = 0, y = 0, lon = 0, lat = 0;
    if (std::sscanf(line.c_str(), " (%lf,%lf) -> (%lf,%lf", &x, &y, &lon, &lat) == 4)
      gcps.push_back(Pt(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)), lat, lon));
  }
  ExpectSamePoints(gcps, area.Points);

  // Points on one exact affine map GDAL turns into a geotransform instead;
  // it must put every point where it was picked.
  area.Points = {Pt(0, 0, 50, 10), Pt(100, 0, 50, 12), Pt(0, 80, 49, 10), Pt(100, 80, 49, 12)};
  SaveCalibration(area, map);
  ASSERT_EQ(std::system(("gdalinfo -json '" + map + "' > '" + out + "' 2>&1").c_str()), 0) << zvtest::ReadFile(out);
  const std::string info = zvtest::ReadFile(out);
  const std::size_t at = info.find("\"geoTransform\":");
  ASSERT_NE(at, std::string::npos) << info;
  double g[6] = {};
  ASSERT_EQ(std::sscanf(info.c_str() + at, "\"geoTransform\": [ %lf , %lf , %lf , %lf , %lf , %lf", &g[0], &g[1], &g[2],
                        &g[3], &g[4], &g[5]),
            6)
      << info;
  for (const TCalibrationPoint& p : area.Points) {
    EXPECT_NEAR(g[0] + g[1] * p.X + g[2] * p.Y, static_cast<double>(p.Lon), 1e-9);
    EXPECT_NEAR(g[3] + g[4] * p.X + g[5] * p.Y, static_cast<double>(p.Lat), 1e-9);
  }
}
