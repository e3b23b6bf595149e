#include "model/MapProjection.h"

#include "base/Paths.h"
#include "base/Messages.h"
#include "model/CalibrationText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <utility>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <ogr_spatialref.h>

namespace zv {
namespace {

// GDAL reports what it cannot read on stderr by default; here every such
// case becomes a finding of our own instead.
class QuietGdal {
public:
  QuietGdal() { CPLPushErrorHandler(CPLQuietErrorHandler); }
  ~QuietGdal() { CPLPopErrorHandler(); }
  QuietGdal(const QuietGdal&) = delete;
  QuietGdal& operator=(const QuietGdal&) = delete;
};

using TTransformation = std::unique_ptr<OGRCoordinateTransformation>;

TTransformation Transformation(const OGRSpatialReference& from, const OGRSpatialReference& to) {
  return TTransformation(OGRCreateCoordinateTransformation(&from, &to));
}

bool Transform(OGRCoordinateTransformation* t, double& x, double& y) {
  if (!t || !std::isfinite(x) || !std::isfinite(y)) return false;
  double a = x, b = y;
  int ok = FALSE;
  if (!t->Transform(1, &a, &b, nullptr, &ok) || !ok || !std::isfinite(a) || !std::isfinite(b)) return false;
  x = a;
  y = b;
  return true;
}

// Where the plane is latitude and longitude themselves.
bool Unchanged(double x, double y, double& outX, double& outY) {
  outX = x;
  outY = y;
  return std::isfinite(x) && std::isfinite(y);
}

// The first line starting with prefix (ASCII case ignored), from line 6 on as
// GDAL reads them; empty when there is none.
std::string LineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  for (std::size_t i = 5; i < lines.size(); ++i)
    if (UpperCaseAscii(lines[i].substr(0, prefix.size())) == prefix) return lines[i];
  return {};
}

// Field n (from 0) of a line split at every comma, blanks trimmed: empty
// fields count, as GDAL counts them.
std::string Field(const std::string& line, std::size_t n) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < n; ++i) {
    start = line.find(',', start);
    if (start == std::string::npos) return {};
    ++start;
  }
  const std::size_t end = line.find(',', start);
  return Trim(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

// Geographic systems of GDAL's datum table measured from another meridian
// than Greenwich, and their Greenwich twins: the file's longitudes are
// Greenwich longitudes whatever the datum.
bool MeasureFromGreenwich(OGRSpatialReference& geog) {
  if (geog.GetPrimeMeridian() == 0) return true;
  static const std::map<std::string, int> kGreenwichTwin = {{"4806", 4265}, {"4817", 4273}};
  const char* code = geog.GetAuthorityCode(nullptr);
  const auto twin = code ? kGreenwichTwin.find(code) : kGreenwichTwin.end();
  OGRSpatialReference greenwich;
  if (twin != kGreenwichTwin.end()) {
    if (greenwich.importFromEPSG(twin->second) != OGRERR_NONE) return false;
  } else {
    // Any other: its PROJ definition without the meridian.
    char* proj4 = nullptr;
    const bool exported = geog.exportToProj4(&proj4) == OGRERR_NONE && proj4;
    std::string definition = exported ? proj4 : "";
    CPLFree(proj4);
    const std::size_t pm = definition.find("+pm=");
    if (pm == std::string::npos) return false;
    definition.erase(pm, definition.find(' ', pm) - pm);
    if (greenwich.importFromProj4(definition.c_str()) != OGRERR_NONE) return false;
  }
  geog = greenwich;
  return true;
}

// The datum line's latitude and longitude through GDAL's datum table; false
// for a datum it does not know. The line alone goes to GDAL, and only with a
// name in its first field: GDAL's reader fails hard on a line without one.
bool ReadDatum(const std::string& datumLine, OGRSpatialReference& geog) {
  if (Field(datumLine, 0).empty()) return false;
  const char* lines[] = {"OziExplorer Map Data File Version 2.2",
                         "",
                         "",
                         "",
                         datumLine.c_str(),
                         "Map Projection,Latitude/Longitude,",
                         "Projection Setup,,,,,,,,,,",
                         nullptr};
  return geog.importFromOzi(lines) == OGRERR_NONE && geog.IsGeographic() && MeasureFromGreenwich(geog);
}

// Projections and named grids GDAL's reader does not know, as PROJ
// definitions with EPSG's parameters. "$n" is field n of the "Projection
// Setup" line: 1 latitude of origin, 2 central meridian, 3 scale, 4 false
// easting, 5 false northing, 6 and 7 the standard parallels.
struct TExtraProjection {
  const char* Name;
  const char* Definition;
};
const TExtraProjection kExtraProjections[] = {
    {"(BNG) British National Grid", "+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996012717 +x_0=400000 +y_0=-100000"},
    {"(IG) Irish Grid", "+proj=tmerc +lat_0=53.5 +lon_0=-8 +k=1.000035 +x_0=200000 +y_0=250000"},
    {"(NZG) New Zealand Grid", "+proj=nzmg +lat_0=-41 +lon_0=173 +x_0=2510000 +y_0=6023150"},
    {"(NZTM2) New Zealand TM 2000", "+proj=tmerc +lat_0=0 +lon_0=173 +k=0.9996 +x_0=1600000 +y_0=10000000"},
    {"(SG) Swedish Grid", "+proj=tmerc +lat_0=0 +lon_0=15.8082777777778 +k=1 +x_0=1500000 +y_0=0"},
    {"(SUI) Swiss Grid", "+proj=somerc +lat_0=46.9524055555556 +lon_0=7.43958333333333 +k_0=1 +x_0=600000 +y_0=200000"},
    {"(ITA1) Italy Grid Zone 1", "+proj=tmerc +lat_0=0 +lon_0=9 +k=0.9996 +x_0=1500000 +y_0=0"},
    {"(ITA2) Italy Grid Zone 2", "+proj=tmerc +lat_0=0 +lon_0=15 +k=0.9996 +x_0=2520000 +y_0=0"},
    {"Polyconic (American)", "+proj=poly +lat_0=$1 +lon_0=$2 +x_0=$4 +y_0=$5"},
    {"(EQC) Equidistant Conic", "+proj=eqdc +lat_0=$1 +lon_0=$2 +lat_1=$6 +lat_2=$7 +x_0=$4 +y_0=$5"},
    {"(A)Lambert Azimuthual Equal Area", "+proj=laea +lat_0=$1 +lon_0=$2 +x_0=$4 +y_0=$5"},
    {"Van Der Grinten", "+proj=vandg +lon_0=$2 +x_0=$4 +y_0=$5"},
    {"Bonne", "+proj=bonne +lat_1=$1 +lon_0=$2 +x_0=$4 +y_0=$5"},
    {"Gnomonic", "+proj=gnom +lat_0=$1 +lon_0=$2 +x_0=$4 +y_0=$5"},
    {"(WIV) Wagner IV", "+proj=wag4 +lon_0=$2 +x_0=$4 +y_0=$5"},
};

const TExtraProjection* ExtraProjection(const std::string& name) {
  for (const TExtraProjection& p : kExtraProjections)
    if (UpperCaseAscii(name) == UpperCaseAscii(p.Name)) return &p;
  return nullptr;
}

// The definition with the setup line's numbers in place (an empty field is
// 0, as GDAL reads it); false when a field is no finite number. Only numbers
// reach PROJ, never the file's text.
bool FillDefinition(const char* definition, const std::string& setupLine, std::string& filled) {
  filled.clear();
  for (const char* c = definition; *c; ++c) {
    if (*c != '$') {
      filled += *c;
      continue;
    }
    const std::string text = Field(setupLine, static_cast<std::size_t>(*++c - '0'));
    long double value = 0;
    if (!text.empty() && (!TryStrToFloat(text, value) || !std::isfinite(static_cast<double>(value)))) return false;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", static_cast<double>(value));
    filled += buf;
  }
  return true;
}

// The UTM zone of a position, with the Norway and Svalbard exceptions.
int UtmZone(double lat, double lon) {
  lon = std::remainder(lon, 360.0);
  if (lat >= 56 && lat < 64 && lon >= 3 && lon < 12) return 32;
  if (lat >= 72 && lat < 84 && lon >= 0 && lon < 42) return lon < 9 ? 31 : lon < 21 ? 33 : lon < 33 ? 35 : 37;
  return std::clamp(static_cast<int>(std::floor((lon + 180) / 6)) + 1, 1, 60);
}

// The points' mean latitude and longitude (longitudes taken around the
// first one's); false without a point that has them.
bool MeanPosition(const std::vector<std::string>& lines, double& lat, double& lon) {
  std::vector<TCalibrationPoint> points;
  std::string image;
  try {
    ParseCalibrationLines(lines, ".MAP", points, image);
  } catch (const std::exception&) {
    // The points before the word that does not read still count.
  }
  double sumLat = 0, sumLon = 0, first = 0;
  int n = 0;
  for (const TCalibrationPoint& p : points) {
    const double a = static_cast<double>(p.Lat), o = static_cast<double>(p.Lon);
    if (!p.HasLatLon || !(std::fabs(a) <= 90) || !(std::fabs(o) <= 360)) continue;
    if (n == 0) first = o;
    sumLat += a;
    sumLon += first + std::remainder(o - first, 360.0);
    ++n;
  }
  if (n == 0) return false;
  lat = sumLat / n;
  lon = sumLon / n;
  return true;
}

} // namespace

struct TMapProjection::TImpl {
  OGRSpatialReference plane;
  OGRSpatialReference datum; // the calibration's latitude and longitude
  OGRSpatialReference wgs84;
  bool projected = false;
  TTransformation datumToPlane, planeToDatum, planeToWgs84, wgs84ToPlane;
  // Grid words of other UTM zones than the map's own, by zone and north.
  std::map<std::pair<int, bool>, TTransformation> zones;
  // GDAL's transformations keep state: one caller at a time.
  std::mutex mutex;

  // x (east or longitude) and y (north or latitude) through t.
  bool Apply(const TTransformation& t, double x, double y, double& outX, double& outY) {
    const QuietGdal quiet;
    const std::lock_guard lock(mutex);
    if (!Transform(t.get(), x, y)) return false;
    outX = x;
    outY = y;
    return true;
  }

  // Every pair of x and y through t, in place; NaN where there is no answer.
  void ApplyAll(const TTransformation& t, std::vector<double>& x, std::vector<double>& y);

  bool Make() {
    plane.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRSpatialReference> geog(plane.CloneGeogCS());
    if (!geog) return false;
    datum = *geog;
    datum.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    projected = plane.IsProjected();
    planeToWgs84 = Transformation(plane, wgs84);
    wgs84ToPlane = Transformation(wgs84, plane);
    if (projected) {
      datumToPlane = Transformation(datum, plane);
      planeToDatum = Transformation(plane, datum);
      if (!datumToPlane || !planeToDatum) return false;
    }
    return planeToWgs84 && wgs84ToPlane;
  }
};

TMapProjection::TMapProjection() = default;

const std::vector<TProjectionKind>& ProjectionKinds() {
  static const std::vector<TProjectionKind> kinds = [] {
    // PROJ takes no latitude of origin for Mercator.
    constexpr unsigned kTm = 0b111110, kConic = 0b11110110;
    std::vector<TProjectionKind> out = {{"Latitude/Longitude", 0},
                                        {"Mercator", kTm & ~2u},
                                        {"Transverse Mercator", kTm},
                                        {"(UTM) Universal Transverse Mercator", 0},
                                        {"Lambert Conformal Conic", kConic},
                                        {"Albers Equal Area", kConic},
                                        {"Sinusoidal", 0b110100}};
    for (const TExtraProjection& p : kExtraProjections) {
      unsigned fields = 0;
      for (const char* c = p.Definition; *c; ++c)
        if (*c == '$') fields |= 1u << (c[1] - '0');
      out.push_back({p.Name, fields});
    }
    return out;
  }();
  return kinds;
}

std::vector<std::string> DatumNames() {
  std::vector<std::string> names;
  const char* path = CPLFindFile("gdal", "ozi_datum.csv");
  if (!path) return names;
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return names;
  char buf[512];
  bool header = true;
  while (std::fgets(buf, sizeof buf, f)) {
    const std::string line = buf;
    const std::string name = Trim(line.substr(0, line.find(',')));
    if (header || name.empty() || name[0] == '#') {
      header = false;
      continue;
    }
    names.push_back(name);
  }
  std::fclose(f);
  return names;
}

namespace {

const char* const kWgs84DatumLine = "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84";

// A projection GDAL's reader knows, from the file's own lines with the datum
// line set aside (the datum is the caller's) and an empty "Projection Setup"
// line where there is none. UTM without a zone in grid words or border lines
// takes the zone of the points' mean position; zone says which then.
bool ReadGdalProjection(std::vector<std::string> lines, OGRSpatialReference& plane, int& zone) {
  lines[4] = kWgs84DatumLine;
  if (LineStarting(lines, "PROJECTION SETUP").empty()) lines.push_back("Projection Setup,,,,,,,,,,");
  std::vector<const char*> text;
  text.reserve(lines.size() + 1);
  for (const std::string& line : lines) text.push_back(line.c_str());
  text.push_back(nullptr);
  if (plane.importFromOzi(text.data()) != OGRERR_NONE) return false;
  const std::string name = UpperCaseAscii(Trim(ExtractNthWord(2, LineStarting(lines, "MAP PROJECTION"), ",")));
  if (plane.IsProjected() || name.rfind("(UTM)", 0) != 0) return true;
  double lat = 0, lon = 0;
  if (!MeanPosition(lines, lat, lon)) return false;
  zone = UtmZone(lat, lon);
  OGRSpatialReference utm;
  utm.SetWellKnownGeogCS("WGS84");
  if (utm.SetUTM(zone, lat >= 0) != OGRERR_NONE) return false;
  plane = utm;
  return true;
}

// The plane of the "Map Projection" line in the datum geog; false for a
// projection neither GDAL nor the table knows or whose setup does not read.
bool ReadPlane(const std::vector<std::string>& lines, const std::string& name, const OGRSpatialReference& geog,
               OGRSpatialReference& plane, int& zone) {
  if (name.empty() || UpperCaseAscii(name).rfind("LATITUDE/LONGITUDE", 0) == 0) {
    plane = geog;
    return true;
  }
  if (const TExtraProjection* extra = ExtraProjection(name)) {
    std::string definition;
    // PROJ wants an ellipsoid to make the plane; the datum's replaces it below.
    if (!FillDefinition(extra->Definition, LineStarting(lines, "PROJECTION SETUP"), definition) ||
        plane.importFromProj4((definition + " +ellps=WGS84 +units=m +no_defs").c_str()) != OGRERR_NONE)
      return false;
  } else if (!ReadGdalProjection(lines, plane, zone)) {
    return false;
  }
  return plane.IsProjected() && plane.CopyGeogCSFrom(&geog) == OGRERR_NONE;
}

// The picture scale of the "MSF" line, as GDAL reads it: 1 without one or for
// a factor that is no number above 0.01.
double ReadMsf(const std::vector<std::string>& lines) {
  long double msf = 0;
  const std::string line = LineStarting(lines, "MSF");
  if (line.empty() || !TryStrToFloat(Field(line, 1), msf) || !(msf > 0.01L) || !(msf < 1e9L)) return 1;
  return static_cast<double>(msf);
}

} // namespace

TMapProjection::TMapProjection(const std::vector<std::string>& mapLines) : lines_(mapLines) {
  msf_ = ReadMsf(mapLines);
  // Without a "Map Projection" line the file says nothing of its plane.
  const std::string projectionLine = LineStarting(mapLines, "MAP PROJECTION");
  if (projectionLine.empty() || mapLines.size() < 5) return;
  const QuietGdal quiet;
  OGRSpatialReference geog;
  if (!ReadDatum(mapLines[4], geog)) {
    const std::string datum = Field(mapLines[4], 0);
    notes_.push_back(datum.empty() ? std::string(msg::DatumNotGiven) : msg::DatumNotKnown(datum));
    geog.Clear();
    geog.SetWellKnownGeogCS("WGS84");
  }
  name_ = Trim(ExtractNthWord(2, projectionLine, ","));
  auto impl = std::make_unique<TImpl>();
  int zone = 0;
  if (!ReadPlane(mapLines, name_, geog, impl->plane, zone) || !impl->Make()) {
    // Latitude and longitude, still in the map's datum.
    unknown_ = name_;
    impl = std::make_unique<TImpl>();
    impl->plane = geog;
    if (!impl->Make()) return;
  } else if (zone) {
    notes_.push_back(msg::UtmZoneTaken(zone));
  }
  char* proj4 = nullptr;
  if (impl->plane.exportToProj4(&proj4) == OGRERR_NONE && proj4) definition_ = Trim(proj4);
  CPLFree(proj4);
  impl_ = std::move(impl);
}

TMapProjection::~TMapProjection() = default;

bool TMapProjection::Projected() const { return impl_ && impl_->projected; }

const std::string& TMapProjection::Definition() const { return definition_; }

const std::string& TMapProjection::Unknown() const { return unknown_; }

void TMapProjection::TImpl::ApplyAll(const TTransformation& t, std::vector<double>& x, std::vector<double>& y) {
  const std::size_t n = std::min(x.size(), y.size());
  std::vector<int> ok(n, FALSE);
  if (n > 0 && t) {
    const QuietGdal quiet;
    const std::lock_guard lock(mutex);
    t->Transform(n, x.data(), y.data(), nullptr, ok.data());
  }
  for (std::size_t i = 0; i < n; ++i)
    if (!ok[i] || !std::isfinite(x[i]) || !std::isfinite(y[i])) x[i] = y[i] = std::nan("");
}

void TMapProjection::ToPlane(std::vector<double>& lonEast, std::vector<double>& latNorth) const {
  if (Projected()) impl_->ApplyAll(impl_->datumToPlane, lonEast, latNorth);
}

void TMapProjection::Wgs84ToPlane(std::vector<double>& lonEast, std::vector<double>& latNorth) const {
  if (impl_) impl_->ApplyAll(impl_->wgs84ToPlane, lonEast, latNorth);
}

void TMapProjection::PlaneToWgs84(std::vector<double>& east, std::vector<double>& north) const {
  if (impl_) impl_->ApplyAll(impl_->planeToWgs84, east, north);
}

int TMapProjection::UtmZone(bool& south) const {
  int north = 1;
  const int zone = Projected() ? impl_->plane.GetUTMZone(&north) : 0;
  south = zone != 0 && !north;
  return zone;
}

bool TMapProjection::GridToPlane(int zone, bool south, double easting, double northing, double& east,
                                 double& north) const {
  if (!Projected() || !std::isfinite(easting) || !std::isfinite(northing)) return false;
  int mapNorth = 0;
  const int mapZone = impl_->plane.GetUTMZone(&mapNorth);
  if (mapZone == 0 || zone == 0 || (zone == mapZone && south != static_cast<bool>(mapNorth))) {
    east = easting;
    north = northing;
    return true;
  }
  if (zone < 1 || zone > 60) return false;
  const QuietGdal quiet;
  const std::lock_guard lock(impl_->mutex);
  TTransformation& t = impl_->zones[{zone, !south}];
  if (!t) {
    OGRSpatialReference other(impl_->plane);
    if (other.SetUTM(zone, !south) != OGRERR_NONE) return false;
    t = Transformation(other, impl_->plane);
  }
  double x = easting, y = northing;
  if (!Transform(t.get(), x, y)) return false;
  east = x;
  north = y;
  return true;
}

bool TMapProjection::PlaneToWgs84(double east, double north, double& lat, double& lon) const {
  return impl_ ? impl_->Apply(impl_->planeToWgs84, east, north, lon, lat) : Unchanged(east, north, lon, lat);
}

bool TMapProjection::Wgs84ToPlane(double lat, double lon, double& east, double& north) const {
  return impl_ ? impl_->Apply(impl_->wgs84ToPlane, lon, lat, east, north) : Unchanged(lon, lat, east, north);
}

bool TMapProjection::PlaneToDatum(double east, double north, double& lat, double& lon) const {
  return Projected() ? impl_->Apply(impl_->planeToDatum, east, north, lon, lat) : Unchanged(east, north, lon, lat);
}

} // namespace zv
