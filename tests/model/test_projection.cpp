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
  for (auto [from, to, name] :
       {std::tuple<std::string, std::string, std::string>{"(UTM) Universal Transverse Mercator", "Cassini-Soldner",
                                                          "Cassini-Soldner"},
        {"WGS 84,WGS 84", "Martian 2000,WGS 84", "(UTM) Universal Transverse Mercator (datum Martian 2000)"}}) {
    std::vector<std::string> lines = exact;
    for (std::string& line : lines)
      if (line.find(from) != std::string::npos) line.replace(line.find(from), from.size(), to);
    TDisplayMapsCore view;
    const auto area = AreaOf(view, s, lines);
    const auto fit = area->Fit();
    ASSERT_TRUE(fit->Valid());
    EXPECT_EQ(fit->PlaneDefinition(), "latlong");
    const auto findings = CheckCalibration(*area);
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(findings[0].Message,
              "The map's projection " + name + " is not known; positions assume latitude and longitude");
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
