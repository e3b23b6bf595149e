#include "model/ProjectionLines.h"

#include <cmath>
#include <cstdio>

namespace zv {
namespace {

// Written without the locale: the format's decimal point is ".".
std::string Field(double value, int decimals, int width) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
  std::string s = buf;
  for (char& c : s)
    if (c == ',') c = '.';
  return s;
}

// Longitude in (-180, 180].
double Normalised(double lon) {
  double l = std::fmod(lon, 360.0);
  if (l > 180) l -= 360;
  if (l <= -180) l += 360;
  return l;
}

TPlaneSetup TransverseMercator(const std::string& datum, double centralMeridian, double scale, double falseEasting,
                               double falseNorthing) {
  TPlaneSetup s;
  s.Datum = datum;
  s.Projection = "Transverse Mercator";
  s.CentralMeridian = Normalised(centralMeridian);
  s.ScaleFactor = scale;
  s.FalseEasting = falseEasting;
  s.FalseNorthing = falseNorthing;
  return s;
}

} // namespace

TPlaneSetup GaussKrugerZone(const std::string& datum, int zone) {
  return TransverseMercator(datum, 6.0 * zone - 3, 1.0, zone * 1e6 + 5e5, 0);
}

TPlaneSetup UtmZone(const std::string& datum, int zone, bool south) {
  return TransverseMercator(datum, 6.0 * zone - 183, 0.9996, 5e5, south ? 1e7 : 0);
}

int GaussKrugerZoneOf(double lon) {
  double l = std::fmod(lon, 360.0);
  if (l < 0) l += 360;
  return std::min(60, static_cast<int>(std::floor(l / 6)) + 1);
}

int UtmZoneOf(double lon) { return (GaussKrugerZoneOf(lon) + 29) % 60 + 1; }

std::string DatumLine(const TPlaneSetup& setup) { return setup.Datum + ",WGS 84,   0.0000,   0.0000,WGS 84"; }

std::string MapProjectionLine(const TPlaneSetup& setup) {
  return "Map Projection," + setup.Projection + ",PolyCal,No,AutoCalOnly,No,BSBUseWPX,No";
}

std::string ProjectionSetupLine(const TPlaneSetup& setup) {
  if (setup.Projection == "Latitude/Longitude") return "Projection Setup,,,,,,,,,,";
  return "Projection Setup," + Field(setup.LatitudeOfOrigin, 9, 16) + "," + Field(setup.CentralMeridian, 9, 16) + "," +
         Field(setup.ScaleFactor, 9, 14) + "," + Field(setup.FalseEasting, 2, 13) + "," +
         Field(setup.FalseNorthing, 2, 12) + "," + Field(setup.StandardParallel1, 9, 14) + "," +
         Field(setup.StandardParallel2, 9, 14) + ",,,";
}

} // namespace zv
