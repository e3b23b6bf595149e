#include "model/MapProjection.h"

#include "base/Paths.h"
#include "model/CalibrationText.h"

#include <cmath>
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

TMapProjection::TMapProjection(const std::vector<std::string>& mapLines) : lines_(mapLines) {
  const std::string projectionLine = LineStarting(mapLines, "MAP PROJECTION");
  if (projectionLine.empty() || mapLines.size() < 5) return;
  const QuietGdal quiet;
  std::vector<const char*> lines;
  lines.reserve(mapLines.size() + 1);
  for (const std::string& line : mapLines) lines.push_back(line.c_str());
  lines.push_back(nullptr);

  auto impl = std::make_unique<TImpl>();
  const OGRErr err = impl->plane.importFromOzi(lines.data());
  name_ = Trim(ExtractNthWord(2, projectionLine, ","));
  const std::string& name = name_;
  if (err == OGRERR_NOT_ENOUGH_DATA) return; // no "Projection Setup" line: nothing to go by
  if (err != OGRERR_NONE) {
    // GDAL fails on a datum it does not know (and reads it as WGS 84).
    unknown_ = name + " (datum " + Trim(ExtractNthWord(1, mapLines[4], ",")) + ")";
    return;
  }
  if (impl->plane.IsLocal() || !impl->Make()) {
    unknown_ = name;
    return;
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
