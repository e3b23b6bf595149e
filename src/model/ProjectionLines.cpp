#include "model/ProjectionLines.h"

#include "base/Paths.h"
#include "model/CalibrationText.h"
#include "model/MapProjection.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

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
  if (setup.Projection == "Latitude/Longitude" || setup.Projection == kUtmProjection) return "Projection Setup,,,,,,,,,,";
  return "Projection Setup," + Field(setup.LatitudeOfOrigin, 9, 16) + "," + Field(setup.CentralMeridian, 9, 16) + "," +
         Field(setup.ScaleFactor, 9, 14) + "," + Field(setup.FalseEasting, 2, 13) + "," +
         Field(setup.FalseNorthing, 2, 12) + "," + Field(setup.StandardParallel1, 9, 14) + "," +
         Field(setup.StandardParallel2, 9, 14) + ",,,";
}

namespace {

// The line's fields split at every comma, as GDAL counts them.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(',', start);
    out.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

std::string Joined(const std::vector<std::string>& fields) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) out += (i ? "," : "") + fields[i];
  return out;
}

bool StartsWith(const std::string& line, const char* prefix) {
  const std::string p = prefix;
  return UpperCaseAscii(line.substr(0, p.size())) == p;
}

// The index of the first line from line 6 on starting with prefix; npos without one.
std::size_t LineIndex(const std::vector<std::string>& lines, const char* prefix) {
  for (std::size_t i = 5; i < lines.size(); ++i)
    if (StartsWith(lines[i], prefix)) return i;
  return std::string::npos;
}

double Number(const std::vector<std::string>& fields, std::size_t n, double blank) {
  long double value = 0;
  if (n >= fields.size() || Trim(fields[n]).empty() || !TryStrToFloat(Trim(fields[n]), value) ||
      !std::isfinite(static_cast<double>(value)))
    return blank;
  return static_cast<double>(value);
}

// A point line that gives a position ("Point01,xy,  100,  200,in, deg, ..." with x filled).
bool UsedPointLine(const std::vector<std::string>& fields) {
  return StartsWith(fields[0], "POINT") && fields.size() >= 17 && !Trim(fields[2]).empty();
}

} // namespace

TPlaneChoice ReadPlaneChoice(const std::vector<std::string>& lines) {
  TPlaneChoice c;
  const std::size_t projection = LineIndex(lines, "MAP PROJECTION");
  if (projection == std::string::npos) return c;
  const std::string datum = Trim(Fields(lines[4])[0]);
  if (!datum.empty()) c.Setup.Datum = datum;
  const std::vector<std::string> name = Fields(lines[projection]);
  if (name.size() > 1 && !Trim(name[1]).empty()) c.Setup.Projection = Trim(name[1]);
  const std::size_t setupAt = LineIndex(lines, "PROJECTION SETUP");
  const std::vector<std::string> f = setupAt == std::string::npos ? std::vector<std::string>{} : Fields(lines[setupAt]);
  c.Setup.LatitudeOfOrigin = Number(f, 1, 0);
  c.Setup.CentralMeridian = Number(f, 2, 0);
  c.Setup.ScaleFactor = Number(f, 3, 1);
  c.Setup.FalseEasting = Number(f, 4, 0);
  c.Setup.FalseNorthing = Number(f, 5, 0);
  c.Setup.StandardParallel1 = Number(f, 6, 0);
  c.Setup.StandardParallel2 = Number(f, 7, 0);
  for (std::size_t i = 5; i < lines.size() && c.Zone == 0; ++i) {
    const std::vector<std::string> p = Fields(lines[i]);
    if (!UsedPointLine(p)) continue;
    const int zone = std::atoi(Trim(p[13]).c_str());
    if (zone < 1 || zone > 60) continue;
    c.Zone = zone;
    c.South = UpperCaseAscii(Trim(p[16])) == "S";
  }
  return c;
}

namespace {

// A point line's latitude or longitude from its degrees, minutes and
// hemisphere fields (first of them at n); false when blank or no number.
bool Angle(const std::vector<std::string>& p, std::size_t n, const char* negative, double& value) {
  long double deg = 0, min = 0;
  if (Trim(p[n]).empty() || !TryStrToFloat(Trim(p[n]), deg)) return false;
  if (!Trim(p[n + 1]).empty() && !TryStrToFloat(Trim(p[n + 1]), min)) return false;
  value = static_cast<double>(deg + min / 60);
  if (UpperCaseAscii(Trim(p[n + 2])) == negative) value = -value;
  return std::isfinite(value);
}

// The used point lines at the indices with the zone words of choice; a point
// with latitude and longitude gets its easting and northing in that zone, as
// GDAL reads a UTM zone only from complete grid words.
void ZoneWordsAt(std::vector<std::string>& lines, const TPlaneChoice& choice, const std::vector<std::size_t>& at) {
  TPlaneSetup zone = UtmZone(choice.Setup.Datum, choice.Zone, choice.South);
  const TMapProjection plane({"", "", "", "", DatumLine(zone), "", MapProjectionLine(zone), ProjectionSetupLine(zone)});
  for (const std::size_t i : at) {
    if (i < 5 || i >= lines.size()) continue;
    std::vector<std::string> p = Fields(lines[i]);
    if (!UsedPointLine(p)) continue;
    double lat = 0, lon = 0;
    if (Angle(p, 6, "S", lat) && Angle(p, 9, "W", lon)) {
      std::vector<double> east = {lon}, north = {lat};
      plane.ToPlane(east, north);
      if (!std::isfinite(east[0]) || !std::isfinite(north[0])) continue;
      p[14] = Field(east[0], 1, 11);
      p[15] = Field(north[0], 1, 11);
    }
    p[13] = " " + std::to_string(choice.Zone);
    p[16] = choice.South ? "S" : "N";
    lines[i] = Joined(p);
  }
}

bool HasZone(const TPlaneChoice& choice) {
  return choice.Setup.Projection == kUtmProjection && choice.Zone >= 1 && choice.Zone <= 60;
}

} // namespace

std::vector<std::string> WithPlaneChoice(std::vector<std::string> lines, const TPlaneChoice& choice) {
  static const char* const kHeader[] = {"OziExplorer Map Data File Version 2.2", "", "", "1 ,Map Code,", ""};
  while (lines.size() < 5) lines.push_back(kHeader[lines.size()]);
  lines[4] = DatumLine(choice.Setup);
  const std::size_t projection = LineIndex(lines, "MAP PROJECTION");
  if (projection != std::string::npos)
    lines[projection] = MapProjectionLine(choice.Setup);
  else
    lines.push_back(MapProjectionLine(choice.Setup));
  const std::size_t setup = LineIndex(lines, "PROJECTION SETUP");
  if (setup != std::string::npos)
    lines[setup] = ProjectionSetupLine(choice.Setup);
  else
    lines.push_back(ProjectionSetupLine(choice.Setup));
  if (HasZone(choice)) {
    std::vector<std::size_t> all(lines.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    ZoneWordsAt(lines, choice, all);
  }
  return lines;
}

void WriteZoneWordsAt(std::vector<std::string>& lines, const TPlaneChoice& choice, const std::vector<std::size_t>& at) {
  if (HasZone(choice)) ZoneWordsAt(lines, choice, at);
}

bool SamePlane(const TPlaneChoice& a, const TPlaneChoice& b) {
  if (a.Setup.Datum != b.Setup.Datum || a.Setup.Projection != b.Setup.Projection) return false;
  if (a.Setup.Projection == kUtmProjection) return a.Zone == b.Zone && (a.Zone == 0 || a.South == b.South);
  if (a.Setup.Projection == "Latitude/Longitude") return true;
  return ProjectionSetupLine(a.Setup) == ProjectionSetupLine(b.Setup);
}

TPlaneChoice NormalisedPlane(const TPlaneChoice& choice) {
  TPlaneChoice out = ReadPlaneChoice(PlaneLines(choice, {}));
  if (HasZone(choice)) {
    out.Zone = choice.Zone;
    out.South = choice.South;
  } else {
    out.Zone = 0;
    out.South = false;
  }
  return out;
}

std::vector<std::string> PlaneLines(const TPlaneChoice& choice, const std::vector<std::string>& mapLines) {
  std::vector<std::string> out = {
      "OziExplorer Map Data File Version 2.2", "", "", "1 ,Map Code,", DatumLine(choice.Setup),
      MapProjectionLine(choice.Setup)};
  if (HasZone(choice))
    out.push_back("Point01,xy,    0,    0,in, deg,    ,        ,N,    ,        ,E, grid, " +
                  std::to_string(choice.Zone) + ",   500000.0,        0.0," + (choice.South ? "S" : "N"));
  out.push_back(ProjectionSetupLine(choice.Setup));
  for (std::size_t i = 5; i < mapLines.size(); ++i)
    if (StartsWith(mapLines[i], "MSF")) {
      out.push_back(mapLines[i]);
      break;
    }
  return out;
}

int ProposedUtmZone(const std::vector<TCalibrationPoint>& points, bool& south) {
  double sumLat = 0, sumLon = 0, first = 0;
  int n = 0;
  for (const TCalibrationPoint& p : points) {
    const double lat = static_cast<double>(p.Lat), lon = static_cast<double>(p.Lon);
    if (!p.HasLatLon || !(std::fabs(lat) <= 90) || !(std::fabs(lon) <= 360)) continue;
    if (n == 0) first = lon;
    sumLat += lat;
    sumLon += first + std::remainder(lon - first, 360.0);
    ++n;
  }
  if (n == 0) return 0;
  south = sumLat / n < 0;
  return UtmZoneOf(sumLon / n);
}

} // namespace zv
