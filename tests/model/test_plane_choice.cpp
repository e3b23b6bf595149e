// A map's plane as the projection dialog writes it into .map lines, read
// back by the fit's reader of those lines (GDAL) for every projection kind.
#include "model/CalibrationText.h"
#include "model/MapProjection.h"
#include "model/ProjectionLines.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace zv;

namespace {

// A .map of three points near 15° E, 48° N, as the usual files hold them.
std::vector<std::string> ThreePointMap() {
  return {"OziExplorer Map Data File Version 2.2",
          "Sheet",
          "sheet.png",
          "1 ,Map Code,",
          "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84",
          "Reserved 1",
          "Reserved 2",
          "Magnetic Variation,,,E",
          "Map Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No",
          "Point01,xy,  100,  100,in, deg,  48, 30.0000,N,  14, 30.0000,E, grid,   ,           ,           ,N",
          "Point02,xy, 2900,  100,in, deg,  48, 30.0000,N,  15, 30.0000,E, grid,   ,           ,           ,N",
          "Point03,xy,  100, 1900,in, deg,  48,  0.0000,N,  14, 30.0000,E, grid,   ,           ,           ,N",
          "Point04,xy,     ,     ,in, deg,    ,        ,N,    ,        ,E, grid,   ,           ,           ,N",
          "Projection Setup,,,,,,,,,,",
          "IWH,Map Image Width/Height,3000,2000"};
}

TPlaneChoice Choice(const std::string& datum, const std::string& projection) {
  TPlaneChoice c;
  c.Setup.Datum = datum;
  c.Setup.Projection = projection;
  return c;
}

void ExpectSame(const TPlaneChoice& a, const TPlaneChoice& b) {
  EXPECT_EQ(a.Setup.Datum, b.Setup.Datum);
  EXPECT_EQ(a.Setup.Projection, b.Setup.Projection);
  EXPECT_DOUBLE_EQ(a.Setup.LatitudeOfOrigin, b.Setup.LatitudeOfOrigin);
  EXPECT_DOUBLE_EQ(a.Setup.CentralMeridian, b.Setup.CentralMeridian);
  EXPECT_DOUBLE_EQ(a.Setup.ScaleFactor, b.Setup.ScaleFactor);
  EXPECT_DOUBLE_EQ(a.Setup.FalseEasting, b.Setup.FalseEasting);
  EXPECT_DOUBLE_EQ(a.Setup.FalseNorthing, b.Setup.FalseNorthing);
  EXPECT_DOUBLE_EQ(a.Setup.StandardParallel1, b.Setup.StandardParallel1);
  EXPECT_DOUBLE_EQ(a.Setup.StandardParallel2, b.Setup.StandardParallel2);
  EXPECT_EQ(a.Zone, b.Zone);
  EXPECT_EQ(a.South, b.South);
}

} // namespace

TEST(PlaneChoice, EveryProjectionKindWrittenIsReadBackInThatPlane) {
  for (const TProjectionKind& kind : ProjectionKinds()) {
    SCOPED_TRACE(kind.Name);
    TPlaneChoice c = Choice("Pulkovo 1942 (1)", kind.Name);
    // Values only where the projection uses them, as the dialog writes them.
    if (kind.Fields & 2) c.Setup.LatitudeOfOrigin = 47.5;
    if (kind.Fields & 4) c.Setup.CentralMeridian = 15;
    if (kind.Fields & 8) c.Setup.ScaleFactor = 0.9999;
    if (kind.Fields & 16) c.Setup.FalseEasting = 500000;
    if (kind.Fields & 32) c.Setup.FalseNorthing = 100000;
    if (kind.Fields & 64) c.Setup.StandardParallel1 = 47;
    if (kind.Fields & 128) c.Setup.StandardParallel2 = 49;
    if (kind.Name == kUtmProjection) c.Zone = 34;
    const std::vector<std::string> lines = WithPlaneChoice(ThreePointMap(), c);
    ExpectSame(ReadPlaneChoice(lines), c);
    const TMapProjection projection(lines);
    EXPECT_EQ(projection.Unknown(), "");
    EXPECT_EQ(projection.Name(), kind.Name);
    EXPECT_EQ(projection.Notes().size(), 0u) << projection.Notes().front();
    EXPECT_EQ(projection.Projected(), kind.Name != "Latitude/Longitude");
    const std::string& def = projection.Definition();
    EXPECT_NE(def.find("+ellps=krass"), std::string::npos) << def;
    if (kind.Name == kUtmProjection) {
      EXPECT_NE(def.find("+zone=34"), std::string::npos) << def;
      // The points keep their positions beside the zone words.
      std::vector<TCalibrationPoint> points;
      std::string image;
      ParseCalibrationLines(lines, ".MAP", points, image);
      ASSERT_EQ(points.size(), 3u);
      EXPECT_TRUE(points[1].HasLatLon);
      EXPECT_DOUBLE_EQ(static_cast<double>(points[1].Lon), 15.5);
    } else if (kind.Fields & 4) {
      EXPECT_NE(def.find("+lon_0=15 "), std::string::npos) << def;
    }
  }
}

TEST(PlaneChoice, LinesWithoutAPlaneReadAsWgs84LatitudeLongitude) {
  const std::vector<std::vector<std::string>> cases = {{}, {"a", "b", "c"}, {"NAME", "img.png", "", "", "x", "y"}};
  for (const auto& lines : cases) ExpectSame(ReadPlaneChoice(lines), Choice("WGS 84", "Latitude/Longitude"));
  // Written into the few lines of a lone image, the plane reads back.
  TPlaneChoice c = Choice("WGS 84", "Transverse Mercator");
  c.Setup.CentralMeridian = 21;
  ExpectSame(ReadPlaneChoice(WithPlaneChoice({}, c)), c);
}

TEST(PlaneChoice, ProposedUtmZoneIsThatOfThePointsMeanLongitude) {
  struct TCase {
    std::vector<std::pair<double, double>> LatLon;
    int Zone;
    bool South;
  };
  const TCase cases[] = {{{}, 0, false},
                         {{{48, 14.5}, {48, 15.5}}, 33, false},
                         {{{-33.9, 151.2}}, 56, true},
                         // Across the antimeridian the mean is 180°, not 0°.
                         {{{10, 179.5}, {10, -178.5}}, 1, false},
                         {{{10, 5.9}, {10, 6.1}}, 32, false}};
  for (const TCase& t : cases) {
    std::vector<TCalibrationPoint> points;
    for (const auto& [lat, lon] : t.LatLon) {
      TCalibrationPoint p;
      p.Lat = lat;
      p.Lon = lon;
      p.HasLatLon = true;
      points.push_back(p);
    }
    TCalibrationPoint gridOnly; // says nothing of where it is
    points.push_back(gridOnly);
    bool south = false;
    EXPECT_EQ(ProposedUtmZone(points, south), t.Zone);
    EXPECT_EQ(south, t.South);
  }
}

TEST(PlaneChoice, DatumNamesAreGdalsTable) {
  const std::vector<std::string> names = DatumNames();
  EXPECT_GT(names.size(), 100u);
  for (const char* name : {"WGS 84", "Pulkovo 1942 (1)", "European 1950"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  EXPECT_EQ(std::find(names.begin(), names.end(), "NAME"), names.end());
}
