// The fit in the map's own projection, and wrong points found among right
// ones, on synthetic sheets whose every point is exact; GDAL's gdaltransform,
// reading the same .map file, is the referee for where the corners are.
#include "TestSupport.h"

#include "model/CalibrationFit.h"
#include "model/CalibrationText.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"
#include "model/MapProjection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numbers>
#include <set>
#include <sstream>
#include <tuple>

using namespace zv;
using zvtest::TempDir;

namespace {

// A sheet: how its .map describes the plane, and where its picture lies in
// that plane (top-left corner, metres per pixel, a slight turn).
struct TSheet {
  const char* Name;
  const char* Datum;
  const char* Projection;
  const char* Setup;
  int Zone; // UTM zone for the grid words; 0 for none
  double East0, North0, MetresPerPixel, TurnDegrees;
  int Width, Height;
};

// 300 dpi scans: 1:25,000 is 2.117 m a pixel.
const TSheet kSheets[] = {
    {"utm25k", "WGS 84", "(UTM) Universal Transverse Mercator", "", 33, 560000, 5380000, 2.1167, 0.3, 4600, 3800},
    {"utm50k", "NAD27 Central", "(UTM) Universal Transverse Mercator", "", 11, 440000, 3760000, 4.2333, -0.2, 5200,
     4400},
    {"gk200k", "Pulkovo 1942 (2)", "Transverse Mercator",
     "     0.000000000,    21.000000000,     1.000000000,      4500000.00,            0.00", 0, 4420000, 5480000,
     16.933, 0.1, 6000, 5000},
    {"lcc1m", "WGS 84", "Lambert Conformal Conic",
     " 0.000000,20.000000,1.000000,500000.000000,0.000000,44.000000,52.000000,0.000000", 0, 300000, 5900000, 84.667, 0,
     6000, 5000},
    {"merc500k", "WGS 84", "Mercator",
     "     0.000000000,     0.000000000,     1.000000000,            0.00,            0.00", 0, 1800000, 6300000,
     42.333, 0, 5000, 4000},
};

struct TPlaned {
  double East, North;
};

TPlaned PlaneOf(const TSheet& s, double x, double y) {
  const double t = s.TurnDegrees * std::numbers::pi / 180;
  const double dx = x * s.MetresPerPixel, dy = -y * s.MetresPerPixel;
  return {s.East0 + dx * std::cos(t) - dy * std::sin(t), s.North0 + dx * std::sin(t) + dy * std::cos(t)};
}

// "  48, 30.1234,N": degrees, minutes to four places as OziExplorer writes them.
std::string DegreesMinutes(double v, char positive, char negative) {
  const double a = std::fabs(v);
  long long tenThousandths = std::llround(a * 60 * 10000);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%4lld,%8.4f,%c", tenThousandths / 600000, (tenThousandths % 600000) / 10000.0,
                v < 0 ? negative : positive);
  return buf;
}

std::string PointLine(std::size_t k, int x, int y, const std::string& latLon, const std::string& grid) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Point%02zu,xy,%5d,%5d,in, deg,", k + 1, x, y);
  return buf + latLon + ", grid," + grid;
}

std::string GridWords(const TSheet& s, const TPlaned& p) {
  if (s.Zone == 0) return "   ,           ,           ,N";
  char buf[96];
  std::snprintf(buf, sizeof buf, " %2d,%11.0f,%11.0f,N", s.Zone, p.East, p.North);
  return buf;
}

std::vector<std::string> MapLines(const TSheet& s, const std::vector<std::string>& pointLines) {
  std::vector<std::string> lines = {"OziExplorer Map Data File Version 2.2",
                                    s.Name,
                                    std::string(s.Name) + ".vrt",
                                    "1 ,Map Code,",
                                    std::string(s.Datum) + ",WGS 84,   0.0000,   0.0000,WGS 84",
                                    "Reserved 1",
                                    "Reserved 2",
                                    "Magnetic Variation,,,E",
                                    std::string("Map Projection,") + s.Projection +
                                        ",PolyCal,No,AutoCalOnly,No,BSBUseWPX,No"};
  lines.insert(lines.end(), pointLines.begin(), pointLines.end());
  lines.push_back(std::string("Projection Setup,") + s.Setup + ",,,,,");
  lines.push_back("MM0,Yes");
  lines.push_back("IWH,Map Image Width/Height," + std::to_string(s.Width) + "," + std::to_string(s.Height));
  return lines;
}

struct TPixel {
  int X, Y;
};

// Corners and centre (5), plus a mid-edge point (6), a 3 x 3 grid, a 6 x 5 grid.
std::vector<TPixel> Layout(const TSheet& s, int count) {
  const int w = s.Width, h = s.Height;
  std::vector<TPixel> px;
  if (count == 5 || count == 6) {
    px = {{40, 60}, {w - 50, 35}, {w - 30, h - 70}, {55, h - 45}, {w / 2, h / 2}};
    if (count == 6) px.push_back({w / 2 + 7, 20});
    return px;
  }
  const int cols = count == 9 ? 3 : 6, rows = count == 9 ? 3 : 5;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) px.push_back({60 + c * (w - 150) / (cols - 1), 90 + r * (h - 200) / (rows - 1)});
  return px;
}

// The .map lines of an exact sheet: each pixel's plane position taken back
// to latitude and longitude in the sheet's datum.
std::vector<std::string> MakeExactSheet(const TSheet& s, const std::vector<TPixel>& pixels) {
  // The projection as the final file will give it (the UTM zone comes from
  // the points' grid words).
  const TMapProjection projection(
      MapLines(s, {PointLine(0, 0, 0, DegreesMinutes(1, 'N', 'S') + "," + DegreesMinutes(1, 'E', 'W'),
                             GridWords(s, PlaneOf(s, 0, 0)))}));
  std::vector<std::string> points;
  for (std::size_t k = 0; k < pixels.size(); ++k) {
    const TPlaned p = PlaneOf(s, pixels[k].X, pixels[k].Y);
    double lat = 0, lon = 0;
    EXPECT_TRUE(projection.PlaneToDatum(p.East, p.North, lat, lon)) << s.Name;
    points.push_back(PointLine(k, pixels[k].X, pixels[k].Y,
                               DegreesMinutes(lat, 'N', 'S') + "," + DegreesMinutes(lon, 'E', 'W'), GridWords(s, p)));
  }
  return MapLines(s, points);
}

// Made once per sheet and layout: the corruption tests start from each many times.
std::vector<std::string> ExactSheet(const TSheet& s, const std::vector<TPixel>& pixels) {
  static std::map<std::pair<std::string, std::size_t>, std::vector<std::string>> made;
  std::vector<std::string>& lines = made[{s.Name, pixels.size()}];
  if (lines.empty()) lines = MakeExactSheet(s, pixels);
  return lines;
}

// An area as loading the .map gives it, with the sheet's picture size.
std::unique_ptr<TMapArea> AreaOf(TDisplayMapsCore& view, const TSheet& s, const std::vector<std::string>& lines) {
  auto area = std::make_unique<TMapArea>(&view, view.Layouts->AddLayout(s.Name));
  area->FileName = std::string(s.Name) + ".map";
  area->Lines = lines;
  area->ParseCalibration();
  area->Width = s.Width;
  area->Height = s.Height;
  return area;
}

std::set<int> NamedPoints(const TMapArea& area) {
  std::set<int> named;
  for (const TCalibrationFinding& f : CheckCalibration(area)) {
    EXPECT_NE(f.Point, 0) << f.Message;
    if (f.Point) named.insert(f.Point);
  }
  return named;
}

// gdaltransform's pixel -> WGS 84 for the picture's corners, reading the .map
// with a stand-in picture of the right size (a GDAL virtual raster).
std::vector<std::pair<double, double>> GdalCorners(const TempDir& dir, const TSheet& s,
                                                   const std::vector<std::string>& lines) {
  zvtest::WriteFile(dir / (std::string(s.Name) + ".vrt"),
                    "<VRTDataset rasterXSize=\"" + std::to_string(s.Width) + "\" rasterYSize=\"" +
                        std::to_string(s.Height) + "\"><VRTRasterBand dataType=\"Byte\" band=\"1\"/></VRTDataset>\n");
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  const std::string map = dir / (std::string(s.Name) + ".map");
  zvtest::WriteFile(map, text);
  zvtest::WriteFile(dir / "corners.txt", "0 0\n" + std::to_string(s.Width) + " 0\n" + std::to_string(s.Width) + " " +
                                             std::to_string(s.Height) + "\n0 " + std::to_string(s.Height) + "\n");
  const std::string command = "gdaltransform -t_srs EPSG:4326 '" + map + "' < '" + (dir / "corners.txt") + "' > '" +
                              (dir / "out.txt") + "' 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::istringstream out(zvtest::ReadFile(dir / "out.txt"));
  std::vector<std::pair<double, double>> corners;
  double lon = 0, lat = 0, z = 0;
  while (out >> lon >> lat >> z) corners.push_back({lat, lon});
  return corners;
}

} // namespace

TEST(ProjectedFit, ExactSheetsHaveNoFindingAndTheirCornersAreGdals) {
  const bool referee = zvtest::HaveTool("gdaltransform");
  for (const TSheet& s : kSheets) {
    for (int count : {5, 6, 9}) {
      SCOPED_TRACE(std::string(s.Name) + " with " + std::to_string(count) + " points");
      TDisplayMapsCore view;
      const std::vector<std::string> lines = ExactSheet(s, Layout(s, count));
      const auto area = AreaOf(view, s, lines);
      const auto fit = area->Fit();
      ASSERT_TRUE(fit->Valid()) << fit->Problem();
      EXPECT_NE(fit->PlaneDefinition(), "latlong");
      EXPECT_LT(fit->Rms(), 0.2);
      EXPECT_TRUE(CheckCalibration(*area).empty());

      // Pixel -> WGS 84 goes the way the sheet was made: through its plane.
      const TMapProjection projection(lines);
      for (const TPixel px : {TPixel{0, 0}, TPixel{s.Width, s.Height}, TPixel{s.Width / 3, s.Height / 4}}) {
        const TPlaned p = PlaneOf(s, px.X, px.Y);
        double lat = 0, lon = 0, fitLat = 0, fitLon = 0, x = 0, y = 0;
        ASSERT_TRUE(projection.PlaneToWgs84(p.East, p.North, lat, lon));
        ASSERT_TRUE(fit->PixelToLatLon(px.X, px.Y, fitLat, fitLon));
        // Within a tenth of a pixel, in degrees of latitude at most.
        const double tolerance = 0.1 * s.MetresPerPixel / 111000;
        EXPECT_NEAR(fitLat, lat, tolerance);
        EXPECT_NEAR(fitLon, lon, tolerance / std::cos(lat * std::numbers::pi / 180));
        ASSERT_TRUE(fit->LatLonToPixel(lat, lon, x, y));
        EXPECT_NEAR(x, px.X, 0.1);
        EXPECT_NEAR(y, px.Y, 0.1);
      }
      if (!referee || count != 9) continue;
      TempDir dir;
      const auto corners = GdalCorners(dir, s, lines);
      ASSERT_EQ(corners.size(), 4u);
      const double w = s.Width, h = s.Height;
      const double px[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
      for (int k = 0; k < 4; ++k) {
        double x = 0, y = 0;
        ASSERT_TRUE(fit->LatLonToPixel(corners[k].first, corners[k].second, x, y));
        EXPECT_LT(std::hypot(x - px[k][0], y - px[k][1]), 0.5) << "corner " << k;
      }
    }
  }
}

TEST(ProjectedFit, TheAffineFitInLatitudeAndLongitudeWouldBeOffAndNameRightPoints) {
  // What the fit in the map's plane mends: on the 1:1,000,000 conic sheet
  // today's plane is off by many pixels and calls right corners wrong.
  const TSheet& s = kSheets[3];
  TDisplayMapsCore view;
  const auto area = AreaOf(view, s, ExactSheet(s, Layout(s, 9)));
  const TCalibrationFit latLon(area->Points);
  EXPECT_GT(latLon.Rms(), 20);
  EXPECT_LT(area->Fit()->Rms(), 0.2);
}

namespace {

enum class TCorruption { Minute, Hemisphere, SwappedXY };

// Spoils point k's line the way people do.
void Corrupt(std::vector<std::string>& lines, std::size_t k, TCorruption how) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "Point%02zu,", k + 1);
  for (std::string& line : lines) {
    if (line.rfind(prefix, 0) != 0) continue;
    std::vector<std::string> words;
    std::stringstream in(line);
    for (std::string w; std::getline(in, w, ',');) words.push_back(w);
    if (how == TCorruption::Minute) {
      // Three minutes of latitude mistyped, the degrees kept.
      const double minutes = std::stod(words[7]);
      char buf[32];
      std::snprintf(buf, sizeof buf, "%8.4f", minutes < 57 ? minutes + 3 : minutes - 3);
      words[7] = buf;
    } else if (how == TCorruption::Hemisphere) {
      words[11] = words[11] == "E" ? "W" : "E";
    } else {
      std::swap(words[2], words[3]);
    }
    line.clear();
    for (std::size_t i = 0; i < words.size(); ++i) line += (i ? "," : "") + words[i];
    return;
  }
  ADD_FAILURE() << "no line for point " << k + 1;
}

} // namespace

TEST(WrongPoints, OneCorruptedPointAmongManyIsNamed) {
  for (const TSheet& s : kSheets) {
    for (int count : {5, 9, 30}) {
      const std::vector<TPixel> pixels = Layout(s, count);
      for (TCorruption how : {TCorruption::Minute, TCorruption::Hemisphere, TCorruption::SwappedXY}) {
        for (std::size_t k = 0; k < pixels.size(); k += (count == 30 ? 7 : 1)) {
          SCOPED_TRACE(std::string(s.Name) + ", point " + std::to_string(k + 1) + " of " + std::to_string(count) +
                       ", corruption " + std::to_string(static_cast<int>(how)));
          TDisplayMapsCore view;
          std::vector<std::string> lines = ExactSheet(s, pixels);
          Corrupt(lines, k, how);
          const auto area = AreaOf(view, s, lines);
          // A point swapped off the picture is named twice: outside, and wrong.
          EXPECT_EQ(NamedPoints(*area), std::set<int>{static_cast<int>(k) + 1});
          EXPECT_TRUE(area->Fit()->Suspect(k));
        }
      }
    }
  }
}

TEST(WrongPoints, TwoCorruptedPointsAmongNineAreNamed) {
  for (const TSheet& s : kSheets) {
    const std::vector<TPixel> pixels = Layout(s, 9);
    for (auto [a, b] : {std::pair<std::size_t, std::size_t>{0, 4}, {2, 6}, {1, 8}, {3, 5}}) {
      SCOPED_TRACE(std::string(s.Name) + ", points " + std::to_string(a + 1) + " and " + std::to_string(b + 1));
      TDisplayMapsCore view;
      std::vector<std::string> lines = ExactSheet(s, pixels);
      Corrupt(lines, a, TCorruption::Minute);
      Corrupt(lines, b, TCorruption::SwappedXY);
      const auto area = AreaOf(view, s, lines);
      EXPECT_EQ(NamedPoints(*area), (std::set<int>{static_cast<int>(a) + 1, static_cast<int>(b) + 1}));
    }
  }
}

TEST(WrongPoints, ThreeOrFourPointsThatDisagreeAreNotNamedOneByOne) {
  const TSheet& s = kSheets[0];
  std::vector<TPixel> pixels = Layout(s, 5);
  pixels.pop_back();
  std::vector<std::string> lines = ExactSheet(s, pixels);
  TDisplayMapsCore view;
  EXPECT_TRUE(CheckCalibration(*AreaOf(view, s, lines)).empty());
  Corrupt(lines, 1, TCorruption::Minute);
  const auto area = AreaOf(view, s, lines);
  const auto findings = CheckCalibration(*area);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].Point, 0);
  EXPECT_EQ(findings[0].Message.rfind("The calibration points disagree by ", 0), 0u) << findings[0].Message;
  EXPECT_NE(findings[0].Message.find(" px (RMS); check all of them"), std::string::npos);
  // Each point's distance from the other three's fit is still there to list.
  for (double d : area->Fit()->LooDistances()) EXPECT_GT(d, 5);
}

TEST(ProjectedFit, UnknownProjectionOrDatumFallsBackToLatitudeAndLongitude) {
  TSheet s = kSheets[0];
  const std::vector<std::string> exact = ExactSheet(s, Layout(s, 5));
  // An unknown projection keeps the datum; an unknown datum keeps the projection.
  for (auto [from, to, plane, message] :
       {std::tuple<std::string, std::string, std::string, std::string>{
            "(UTM) Universal Transverse Mercator", "Cassini-Soldner", "+proj=longlat +datum=WGS84 +no_defs",
            "The map's projection Cassini-Soldner is not known; positions assume latitude and longitude"},
        {"WGS 84,WGS 84", "Martian 2000,WGS 84", "+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs",
         "The map's datum Martian 2000 is not known; positions assume WGS 84"}}) {
    std::vector<std::string> lines = exact;
    for (std::string& line : lines)
      if (line.find(from) != std::string::npos) line.replace(line.find(from), from.size(), to);
    TDisplayMapsCore view;
    const auto area = AreaOf(view, s, lines);
    const auto fit = area->Fit();
    ASSERT_TRUE(fit->Valid());
    EXPECT_EQ(fit->PlaneDefinition(), plane);
    const auto findings = CheckCalibration(*area);
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(findings[0].Message, message);
  }
}

TEST(ProjectedFit, AProjectionThatPlacesNothingFallsBackToLatitudeAndLongitude) {
  // Transverse Mercator with an empty "Projection Setup" line: scale 0.
  const TSheet& s = kSheets[2];
  std::vector<std::string> lines = ExactSheet(s, Layout(s, 9));
  for (std::string& line : lines)
    if (line.rfind("Projection Setup,", 0) == 0) line = "Projection Setup,,,,,,,,,,";
  TDisplayMapsCore view;
  const auto area = AreaOf(view, s, lines);
  const auto fit = area->Fit();
  ASSERT_TRUE(fit->Valid()) << fit->Problem();
  EXPECT_EQ(fit->PlaneDefinition(), "latlong");
  const auto findings = CheckCalibration(*area);
  ASSERT_FALSE(findings.empty());
  EXPECT_EQ(findings[0].Message.rfind("The map's projection Transverse Mercator ", 0), 0u) << findings[0].Message;
  EXPECT_NE(findings[0].Message.find("; positions assume latitude and longitude"), std::string::npos);
  // The fallback is kept like any fit: not made again for every readout.
  EXPECT_EQ(area->Fit(), fit);
}

TEST(ProjectedFit, GridOnlyPointsTakePartInAProjectedPlane) {
  const TSheet& s = kSheets[0];
  std::vector<std::string> lines = ExactSheet(s, Layout(s, 9));
  // Blank the latitude and longitude of every point but the first: the grid words remain.
  for (std::string& line : lines)
    if (line.rfind("Point", 0) == 0 && line.rfind("Point01", 0) != 0)
      line = line.substr(0, line.find(" deg,") + 5) + "    ,        ,N,    ,        ,E" +
             line.substr(line.find(", grid,"));
  TDisplayMapsCore view;
  const auto area = AreaOf(view, s, lines);
  EXPECT_FALSE(area->Points[1].HasLatLon);
  EXPECT_TRUE(area->Points[1].HasGrid);
  const auto fit = area->Fit();
  ASSERT_TRUE(fit->Valid()) << fit->Problem();
  EXPECT_EQ(fit->PointsUsed(), 9);
  EXPECT_LT(fit->Rms(), 0.5);
  EXPECT_TRUE(CheckCalibration(*area).empty());
}

// A point whose latitude no plane has takes no part; the others keep their
// projected fit, and the check names that point's latitude.
TEST(ProjectedFit, AnUnplaceablePointLeavesTheProjectedFit) {
  const TSheet& s = kSheets[0];
  TDisplayMapsCore view;
  const auto area = AreaOf(view, s, ExactSheet(s, Layout(s, 9)));
  area->Points[3].Lat = 95;
  const auto fit = area->Fit();
  ASSERT_TRUE(fit->Valid()) << fit->Problem();
  EXPECT_NE(fit->PlaneDefinition(), "latlong");
  EXPECT_EQ(fit->ProjectionProblem(), "");
  EXPECT_EQ(fit->PointsUsed(), 8);
  EXPECT_LT(fit->Rms(), 0.5);
  const auto findings = CheckCalibration(*area);
  ASSERT_FALSE(findings.empty());
  EXPECT_EQ(findings[0].Point, 4);
}

TEST(ProjectedFit, KeptPerAreaAndMadeAgainWhenPointsChange) {
  const TSheet& s = kSheets[1];
  TDisplayMapsCore view;
  const auto area = AreaOf(view, s, ExactSheet(s, Layout(s, 6)));
  const auto first = area->Fit();
  EXPECT_EQ(area->Fit(), first);
  const std::string before = PointerReadout(*area, 100, 200);
  EXPECT_EQ(area->Fit(), first);
  area->Points[2].Lat += 0.05;
  const auto second = area->Fit();
  EXPECT_NE(second, first);
  // The projection is kept while the lines stay.
  EXPECT_EQ(second->Projection(), first->Projection());
  EXPECT_TRUE(second->Suspect(2));
  EXPECT_NE(PointerReadout(*area, 100, 200), before);
  area->Lines[4] = "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84";
  EXPECT_NE(area->Fit()->Projection(), first->Projection());
}

TEST(ProjectedFit, RealCalibrationFilesHaveNoFinding) {
  // The GPL files stay in the corpus; without it only the copies here are read.
  std::vector<std::filesystem::path> files;
  for (const char* name : {"gk5-pul42.map", "latlon-wgs84.map", "merc-wgs84.map", "utm11-nad27.map", "utm21-nad83.map"})
    files.push_back(std::filesystem::path(ZOVEVOD_TESTDATA_DIR "/calibration/gt-ozi") / name);
  const std::filesystem::path corpus = ZOVEVOD_CORPUS_DIR "/calibration/mapsoft2";
  if (std::filesystem::exists(corpus))
    for (const char* name : {"ozi1.map", "ozi2.map", "ozi3.map", "m47-022.map", "9410_4633_14.map"})
      files.push_back(corpus / name);
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    TDisplayMapsCore view;
    TMapArea area(&view, view.Layouts->AddLayout("L"));
    area.FileName = file.string();
    const std::string text = zvtest::ReadFile(file);
    area.Lines = SplitLines(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    area.ParseCalibration();
    // The calibration alone is looked at: no picture size to compare.
    area.Width = area.Height = 100000;
    const auto fit = area.Fit();
    ASSERT_TRUE(fit->Valid()) << fit->Problem();
    EXPECT_NE(fit->PlaneDefinition(), "latlong");
    std::set<int> named;
    for (const TCalibrationFinding& f : CheckCalibration(area))
      if (f.Message.find("calibration was made for") == std::string::npos) named.insert(f.Point);
    // ozi3.map's point 9 truly is wrong: 40 px left of the other points of
    // its longitude.
    if (file.filename() == "ozi3.map") {
      EXPECT_EQ(named, std::set<int>{9});
    } else {
      EXPECT_TRUE(named.empty());
      EXPECT_LT(fit->Rms(), 1.0);
    }
  }
}

namespace {

std::vector<std::string> Replaced(std::vector<std::string> lines, const std::string& from, const std::string& to) {
  for (std::string& line : lines)
    if (line.find(from) != std::string::npos) line.replace(line.find(from), from.size(), to);
  return lines;
}

bool HasFinding(const TMapArea& area, const std::string& text) {
  for (const TCalibrationFinding& f : CheckCalibration(area))
    if (f.Message.find(text) != std::string::npos) return true;
  return false;
}

// Distance in pixels between where the fit puts the picture's corners and
// where the sheet has them.
double WorstCorner(const TSheet& s, const TCalibrationFit& fit, const TMapProjection& truth) {
  double worst = 0;
  for (const TPixel px : {TPixel{0, 0}, TPixel{s.Width, 0}, TPixel{s.Width, s.Height}, TPixel{0, s.Height}}) {
    const TPlaned p = PlaneOf(s, px.X, px.Y);
    double lat = 0, lon = 0, x = 0, y = 0;
    if (!truth.PlaneToWgs84(p.East, p.North, lat, lon) || !fit.LatLonToPixel(lat, lon, x, y)) return 1e300;
    worst = std::max(worst, std::hypot(x - px.X, y - px.Y));
  }
  return worst;
}

} // namespace

// Each way a file said too little or too much, with the finding it now gives
// and the corners where they belong.
TEST(NoSilentWrongAnswer, DatumAndProjectionHolesGiveTheirFindingAndTheRightCorners) {
  const TSheet& utm = kSheets[0];
  const TSheet& gk = kSheets[2];
  const std::vector<std::string> utmLines = ExactSheet(utm, Layout(utm, 9));
  std::vector<std::string> noZone = utmLines;
  for (std::string& line : noZone)
    if (line.rfind("Point", 0) == 0)
      line = line.substr(0, line.find(", grid,")) + ", grid,   ,           ,           ,N";
  std::vector<std::string> noSetup = ExactSheet(gk, Layout(gk, 9));
  const TMapProjection gkTruth(noSetup);
  noSetup.erase(std::remove_if(noSetup.begin(), noSetup.end(),
                               [](const std::string& l) { return l.rfind("Projection Setup", 0) == 0; }),
                noSetup.end());
  noSetup = Replaced(noSetup, "Transverse Mercator", "Latitude/Longitude");
  std::vector<std::string> emptyDatum = utmLines;
  emptyDatum[4].clear();
  struct TCase {
    const char* Name;
    const TSheet& Sheet;
    std::vector<std::string> Lines;
    const TMapProjection& Truth;
    const char* Finding;
    double Within;
  };
  const TMapProjection utmTruth(utmLines);
  const TCase cases[] = {
      // GDAL's reader crashed on an empty datum line: WGS 84, as the sheet is.
      {"empty datum line", utm, emptyDatum, utmTruth, "The map names no datum", 0.5},
      {"UTM without zone", utm, noZone, utmTruth,
       "The UTM zone is not given; zone 33 taken from the points' longitudes", 0.5},
      // Latitude and longitude on Pulkovo 1942 with no "Projection Setup" line keep their datum.
      {"datum without setup line", gk, noSetup, gkTruth, "", 40},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TDisplayMapsCore view;
    const auto area = AreaOf(view, c.Sheet, c.Lines);
    const auto fit = area->Fit();
    ASSERT_TRUE(fit->Valid()) << fit->Problem();
    if (*c.Finding) {
      EXPECT_TRUE(HasFinding(*area, c.Finding));
    }
    EXPECT_LT(WorstCorner(c.Sheet, *fit, c.Truth), c.Within);
  }
  // The datum without a setup line: the datum is used (20 px off when it was not).
  TDisplayMapsCore view;
  const auto pulkovo = AreaOf(view, gk, noSetup);
  const auto wgs84 = AreaOf(view, gk, Replaced(noSetup, "Pulkovo 1942 (2)", "WGS 84"));
  double lat1 = 0, lon1 = 0, lat2 = 0, lon2 = 0;
  ASSERT_TRUE(pulkovo->Fit()->PixelToLatLon(1000, 1000, lat1, lon1));
  ASSERT_TRUE(wgs84->Fit()->PixelToLatLon(1000, 1000, lat2, lon2));
  EXPECT_GT(std::hypot(lat1 - lat2, lon1 - lon2), 0.0005);
  EXPECT_NE(pulkovo->Fit()->PlaneDefinition().find("+ellps=krass"), std::string::npos)
      << pulkovo->Fit()->PlaneDefinition();
}

TEST(NoSilentWrongAnswer, DatumsMeasuredFromAnotherMeridianTakeGreenwichLongitudes) {
  const TSheet& utm = kSheets[0];
  for (const char* datum : {"Rome 1940", "Norsk"}) {
    SCOPED_TRACE(datum);
    TDisplayMapsCore view;
    const std::vector<std::string> lines =
        Replaced(ExactSheet(utm, Layout(utm, 9)), "WGS 84,WGS 84", std::string(datum) + ",WGS 84");
    const auto area = AreaOf(view, utm, lines);
    const auto fit = area->Fit();
    ASSERT_TRUE(fit->Valid());
    EXPECT_EQ(fit->PlaneDefinition().find("+pm="), std::string::npos) << fit->PlaneDefinition();
    // A datum shift of some hundred metres, not 12 or 10 degrees.
    double lat = 0, lon = 0;
    ASSERT_TRUE(fit->PixelToLatLon(utm.Width / 2, utm.Height / 2, lat, lon));
    const TPlaned centre = PlaneOf(utm, utm.Width / 2, utm.Height / 2);
    double wLat = 0, wLon = 0;
    ASSERT_TRUE(TMapProjection(ExactSheet(utm, Layout(utm, 9))).PlaneToWgs84(centre.East, centre.North, wLat, wLon));
    EXPECT_NEAR(lon, wLon, 0.01);
    EXPECT_NEAR(lat, wLat, 0.01);
  }
}

TEST(NoSilentWrongAnswer, LatitudeLongitudeMapAcrossThe180thMeridian) {
  TDisplayMapsCore view;
  TMapArea area(&view, view.Layouts->AddLayout("L"));
  area.FileName = "fiji.map";
  area.Lines = {"OziExplorer Map Data File Version 2.2",
                "fiji",
                "fiji.png",
                "1 ,Map Code,",
                "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84",
                "Reserved 1",
                "Reserved 2",
                "Magnetic Variation,,,E",
                "Map Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No",
                "Point01,xy,    0,    0,in, deg,  16,  0.0000,S, 179,  0.0000,E, grid,   ,           ,           ,N",
                "Point02,xy, 2000,    0,in, deg,  16,  0.0000,S, 179,  0.0000,W, grid,   ,           ,           ,N",
                "Point03,xy,    0, 2000,in, deg,  18,  0.0000,S, 179,  0.0000,E, grid,   ,           ,           ,N",
                "Point04,xy, 2000, 2000,in, deg,  18,  0.0000,S, 179,  0.0000,W, grid,   ,           ,           ,N",
                "Point05,xy, 1000, 1000,in, deg,  17,  0.0000,S, 180,  0.0000,E, grid,   ,           ,           ,N",
                "Projection Setup,,,,,,,,,,"};
  area.ParseCalibration();
  area.Width = area.Height = 2000;
  const auto fit = area.Fit();
  ASSERT_TRUE(fit->Valid());
  EXPECT_LT(fit->Rms(), 0.01);
  EXPECT_TRUE(CheckCalibration(area).empty());
  double lat = 0, lon = 0, x = 0, y = 0;
  ASSERT_TRUE(fit->PixelToLatLon(1500, 500, lat, lon));
  EXPECT_NEAR(lat, -16.5, 1e-6);
  EXPECT_NEAR(lon, -179.5, 1e-6);
  ASSERT_TRUE(fit->LatLonToPixel(-17.5, 179.5, x, y));
  EXPECT_NEAR(x, 500, 1e-6);
  EXPECT_NEAR(y, 1500, 1e-6);
}

TEST(NoSilentWrongAnswer, MsfLineScalesTheCalibrationPixels) {
  const TSheet& s = kSheets[0];
  std::vector<std::string> lines = ExactSheet(s, Layout(s, 9));
  // The same calibration, made on the picture scaled by 2.
  for (std::string& line : lines)
    if (line.rfind("Point", 0) == 0) {
      const int x = std::stoi(line.substr(11, 5)), y = std::stoi(line.substr(17, 5));
      char buf[16];
      std::snprintf(buf, sizeof buf, "%5d,%5d", 2 * x, 2 * y);
      line.replace(11, 11, buf);
    }
  lines.push_back("MSF,2");
  TDisplayMapsCore view;
  const auto area = AreaOf(view, s, lines);
  EXPECT_LT(WorstCorner(s, *area->Fit(), TMapProjection(ExactSheet(s, Layout(s, 9)))), 0.5);
}

TEST(NoSilentWrongAnswer, NamedPointsTakeNoPartAndWholesaleDisagreementIsSaid) {
  const TSheet& gk = kSheets[2];
  TDisplayMapsCore view;
  std::vector<std::string> lines = ExactSheet(gk, Layout(gk, 9));
  Corrupt(lines, 1, TCorruption::Minute);
  Corrupt(lines, 6, TCorruption::SwappedXY);
  const auto area = AreaOf(view, gk, lines);
  const auto fit = area->Fit();
  EXPECT_EQ(fit->PointsUsed(), 7);
  EXPECT_LT(fit->Rms(), 0.2);
  EXPECT_LT(WorstCorner(gk, *fit, TMapProjection(lines)), 0.5);
  EXPECT_TRUE(HasFinding(*area, "it takes no part in the fit"));

  // 20 points, 4 of them 247 px off the same way: too many to name one by one.
  const TSheet& s = kSheets[0];
  std::vector<std::string> many = ExactSheet(s, Layout(s, 30));
  many.erase(many.begin() + 9 + 20, many.begin() + 9 + 30);
  for (std::size_t k : {3, 8, 13, 18}) {
    std::string& line = many[9 + k];
    const int x = std::stoi(line.substr(11, 5));
    char buf[16];
    std::snprintf(buf, sizeof buf, "%5d", x + 247);
    line.replace(11, 5, buf);
  }
  const auto area20 = AreaOf(view, s, many);
  const auto fit20 = area20->Fit();
  EXPECT_FALSE(CheckCalibration(*area20).empty());
  EXPECT_TRUE(fit20->Rms() < 5 || HasFinding(*area20, "The calibration points disagree by ")) << fit20->Rms();

  // 1,000 random points: no fit, but the rule and the RMS say so.
  TMapArea random(&view, view.Layouts->AddLayout("random"));
  random.FileName = "random.gmi";
  random.Width = random.Height = 10000;
  std::srand(5);
  const auto point = [](int x, int y, double lat, double lon) {
    TCalibrationPoint p;
    p.X = x, p.Y = y, p.Lat = lat, p.Lon = lon, p.HasLatLon = true;
    return p;
  };
  for (int k = 0; k < 1000; ++k)
    random.Points.push_back(point(std::rand() % 10000, std::rand() % 10000, 40 + (std::rand() % 1000) / 100.0,
                                  10 + (std::rand() % 1000) / 100.0));
  EXPECT_TRUE(HasFinding(random, "The calibration points disagree by "));
  // 200 exact points and 60 wrong ones: the rule stops at 50 and says more may be wrong.
  random.Points.clear();
  for (int k = 0; k < 260; ++k) {
    const int x = std::rand() % 10000, y = std::rand() % 10000;
    const double off = k < 200 ? 0 : 100 + std::rand() % 400;
    random.Points.push_back(point(x, y, 50 - (y + off) * 1e-5, 10 + x * 1.5e-5));
  }
  EXPECT_TRUE(HasFinding(random, "The search for wrong points stopped after naming 50 of them; more may be wrong"));
}

TEST(NoSilentWrongAnswer, DroppedPointsAreNamedAndFileValuesQuotedShort) {
  const TSheet& s = kSheets[0];
  std::vector<std::string> lines = ExactSheet(s, Layout(s, 9));
  const auto gridOnly = [](std::string& line, const std::string& grid) {
    line = line.substr(0, line.find(" deg,") + 5) + "    ,        ,N,    ,        ,E, grid," + grid;
  };
  gridOnly(lines[9 + 1], " 33,      1e308,    5380000,N");
  gridOnly(lines[9 + 2], " 99,     560000,    5380000,N");
  lines[4] = std::string(1 << 20, 'X') + ",WGS 84";
  TDisplayMapsCore view;
  const auto area = AreaOf(view, s, lines);
  std::map<int, std::string> found;
  for (const TCalibrationFinding& f : CheckCalibration(*area)) {
    EXPECT_LT(f.Message.size(), 300u);
    found[f.Point] += f.Message;
  }
  EXPECT_NE(found[2].find("Point 2 takes no part in the fit: its grid easting 1e308"), std::string::npos) << found[2];
  EXPECT_NE(found[3].find("Point 3 takes no part in the fit: its UTM zone 99 is not one of 1 to 60."),
            std::string::npos)
      << found[3];
  EXPECT_NE(found[0].find("The map's datum " + std::string(60, 'X') + "\xE2\x80\xA6 is not known"), std::string::npos);
}
