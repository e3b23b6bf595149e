#include "model/CalibrationFit.h"

#include "base/Messages.h"
#include "base/Paths.h"
#include "model/CalibrationText.h"
#include "model/FileKind.h"
#include "model/MapModel.h"
#include "model/MapProjection.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace zv {
namespace {

bool Finite(double v) { return std::isfinite(v); }

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A wrong point lies this far from where the others put it, in pixels...
constexpr double kSuspectPixels = 5;
// ...and this many times further than the others lie from their own fit
// (plus a pixel, so that exact points do not make every distance wrong).
constexpr double kSuspectRatio = 3;
// The search names points one at a time, each one a pass over the rest; a
// calibration with more wrong points than this is wrong as a whole.
constexpr int kMostSuspects = 50;

std::string DegreesMinutes(double value, char positive, char negative) {
  const char hemi = value < 0 ? negative : positive;
  // Rounded to thousandths of a minute first, so 59.9996' carries into the degree.
  const long long thousandths = std::llround(std::fabs(value) * 60000.0);
  const long long degrees = thousandths / 60000;
  const long long minuteThousandths = thousandths % 60000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%lld\xC2\xB0%02lld.%03lld' %c", degrees, minuteThousandths / 1000,
                minuteThousandths % 1000, hemi);
  return buf;
}

bool HasFiniteLatLon(const TCalibrationPoint& p) {
  return p.HasLatLon && Finite(static_cast<double>(p.Lat)) && Finite(static_cast<double>(p.Lon));
}

bool SameNumber(long double a, long double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool SamePoint(const TCalibrationPoint& a, const TCalibrationPoint& b) {
  return a.X == b.X && a.Y == b.Y && SameNumber(a.Lat, b.Lat) && SameNumber(a.Lon, b.Lon) &&
         a.HasLatLon == b.HasLatLon && a.HasGrid == b.HasGrid && a.GridZone == b.GridZone &&
         a.GridSouth == b.GridSouth && SameNumber(a.Easting, b.Easting) && SameNumber(a.Northing, b.Northing);
}

// The normal equations of the affine fit over centred pixels (1, dx, dy) and
// plane coordinates (de, dn): S = sum of v v', T = sum of v (de, dn)', U =
// sum of (de, dn)(de, dn)'. Sums lose and gain single points, so the fit of
// all points but one costs no pass over the others.
struct TNormalSums {
  double s[3][3] = {};
  double t[3][2] = {};
  double u[2][2] = {};

  void Add(double dx, double dy, double de, double dn, double sign) {
    const double v[3] = {1, dx, dy};
    const double w[2] = {de, dn};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) s[i][j] += sign * v[i] * v[j];
      for (int j = 0; j < 2; ++j) t[i][j] += sign * v[i] * w[j];
    }
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) u[i][j] += sign * w[i] * w[j];
  }
};

// An affine map from centred pixels to centred plane coordinates.
struct TAffine {
  double e[3] = {}; // east = e0 + e1 dx + e2 dy
  double n[3] = {}; // north = n0 + n1 dx + n2 dy
  double Det() const { return e[1] * n[2] - e[2] * n[1]; }

  // The pixel offset that maps onto plane offset (de, dn) from the fit.
  void Inverse(double de, double dn, double& dx, double& dy) const {
    const double m = Det();
    dx = (de * n[2] - dn * e[2]) / m;
    dy = (dn * e[1] - de * n[1]) / m;
  }
  // How far the fit is from a turn and a scale (with or without a mirror):
  // (s1 - s2) / (s1 + s2) of its singular values, 0 for none.
  double Shear() const {
    const double p = e[1] * e[1] + n[1] * n[1], q = e[1] * e[2] + n[1] * n[2], r = e[2] * e[2] + n[2] * n[2];
    const double mean = (p + r) / 2, spread = std::sqrt((p - r) * (p - r) / 4 + q * q);
    const double s1 = std::sqrt(mean + spread), s2 = std::sqrt(std::max(0.0, mean - spread));
    return s1 > 0 ? (s1 - s2) / (s1 + s2) : 0;
  }
  // Whether the plane's axes are independent in this fit, after rounding.
  bool Invertible() const {
    const double m = Det();
    const double scale = (std::fabs(e[1]) + std::fabs(e[2])) * (std::fabs(n[1]) + std::fabs(n[2]));
    return Finite(m) && Finite(scale) && std::fabs(m) > 1e-12 * scale;
  }
};

// Solves the normal equations (Cramer's rule on the 3 x 3 system); false when
// the pixels lie on one line.
bool SolveNormal(const TNormalSums& sums, TAffine& fit) {
  const auto& a = sums.s;
  const double c0 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  const double c1 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  const double c2 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  const double det = a[0][0] * c0 + a[0][1] * c1 + a[0][2] * c2;
  if (!Finite(det) || !(det > 1e-12 * a[0][0] * a[1][1] * a[2][2])) return false;
  // The inverse of a symmetric matrix: its cofactors over the determinant.
  const double inv[3][3] = {{c0, c1, c2},
                            {c1, a[0][0] * a[2][2] - a[0][2] * a[2][0], a[0][2] * a[1][0] - a[0][0] * a[1][2]},
                            {c2, a[0][1] * a[2][0] - a[0][0] * a[2][1], a[0][0] * a[1][1] - a[0][1] * a[1][0]}};
  for (int i = 0; i < 3; ++i) {
    fit.e[i] = (inv[i][0] * sums.t[0][0] + inv[i][1] * sums.t[1][0] + inv[i][2] * sums.t[2][0]) / det;
    fit.n[i] = (inv[i][0] * sums.t[0][1] + inv[i][1] * sums.t[1][1] + inv[i][2] * sums.t[2][1]) / det;
  }
  return true;
}

// The RMS in pixels of the residuals of a fit over the points of sums,
// from the residuals' scatter in the plane, R = U - T' B, each residual r
// being A^-1 r in pixels.
double PixelRms(const TNormalSums& sums, const TAffine& fit) {
  double r[2][2];
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      const double* bj = j == 0 ? fit.e : fit.n;
      r[i][j] = sums.u[i][j] - (sums.t[0][i] * bj[0] + sums.t[1][i] * bj[1] + sums.t[2][i] * bj[2]);
    }
  // trace(M R) with M = A^-T A^-1, A = [e1 e2; n1 n2].
  const double m = fit.Det();
  const double i00 = fit.n[2] / m, i01 = -fit.e[2] / m, i10 = -fit.n[1] / m, i11 = fit.e[1] / m;
  const double m00 = i00 * i00 + i10 * i10, m01 = i00 * i01 + i10 * i11, m11 = i01 * i01 + i11 * i11;
  const double ss = m00 * r[0][0] + 2 * m01 * r[0][1] + m11 * r[1][1];
  const double count = sums.s[0][0];
  return count > 0 && ss > 0 ? std::sqrt(ss / count) : 0;
}

std::shared_ptr<const TMapProjection> LatLonPlane() {
  static const std::shared_ptr<const TMapProjection> plane = std::make_shared<TMapProjection>();
  return plane;
}

} // namespace

struct TCalibrationFit::TPlanePoint {
  std::size_t Index;
  double Dx, Dy; // centred pixel
  double De, Dn; // centred plane coordinates
};

TCalibrationFit::TCalibrationFit(const std::vector<TCalibrationPoint>& points)
    : TCalibrationFit(points, LatLonPlane()) {}

TCalibrationFit::TCalibrationFit(const std::vector<TCalibrationPoint>& points,
                                 std::shared_ptr<const TMapProjection> projection)
    : projection_(projection ? std::move(projection) : LatLonPlane()), points_(points), residuals_(points.size(), -1.0),
      looDistances_(points.size(), -1.0), suspectDistance_(points.size(), kNaN), suspectRms_(points.size(), kNaN) {
  requested_ = projection_;
  msf_ = projection_->Msf();
  if (!projection_->Unknown().empty()) projectionProblem_ = msg::ProjectionNotKnown(projection_->Unknown());
  std::vector<TPlanePoint> placed;
  if (!PlacePoints(points, placed) || !Solve(placed)) {
    if (!projection_->Projected()) {
      TryAcross180();
      return;
    }
    // The map's projection places the points nowhere usable (a broken
    // "Projection Setup" line, say): the latitude-longitude plane may still.
    const std::string name = projection_->Name();
    TCalibrationFit fallback(points, LatLonPlane(), msf_, false);
    fallback.TryAcross180();
    if (!fallback.valid_) return;
    const std::shared_ptr<const TMapProjection> requested = requested_;
    *this = fallback;
    requested_ = requested; // what a kept fit is compared with
    projectionProblem_ = msg::ProjectionUnusable(name);
    return;
  }
  valid_ = true;
  MeasureResiduals(placed);
  if (!valid_) return;
  FindWrongPoints(placed);
  LeaveOutWrongPoints(placed);
  TryAcross180();
}

void TCalibrationFit::TryAcross180() {
  if (projection_->Projected()) return;
  double least = std::numeric_limits<double>::infinity(), most = -least;
  for (const TCalibrationPoint& p : points_)
    if (HasFiniteLatLon(p)) {
      least = std::min(least, static_cast<double>(p.Lon));
      most = std::max(most, static_cast<double>(p.Lon));
    }
  if (!(most - least > 180)) return;
  // Points on both sides of the 180th meridian, or a map of the whole
  // world: the longitudes taken continuous around the first point give the
  // other reading; the better fit is the map's.
  TCalibrationFit across(points_, projection_, msf_, true);
  const auto named = [](const TCalibrationFit& f) {
    return std::count_if(f.suspectDistance_.begin(), f.suspectDistance_.end(), [](double d) { return !std::isnan(d); });
  };
  if (!across.valid_ || (valid_ && std::pair(named(across), across.rms_) >= std::pair(named(*this), rms_))) return;
  const std::shared_ptr<const TMapProjection> requested = requested_;
  const std::string projectionProblem = projectionProblem_;
  *this = across;
  requested_ = requested;
  projectionProblem_ = projectionProblem;
}

TCalibrationFit::TCalibrationFit(const std::vector<TCalibrationPoint>& points,
                                 std::shared_ptr<const TMapProjection> projection, double msf, bool unwrap)
    : projection_(std::move(projection)), points_(points), residuals_(points.size(), -1.0),
      looDistances_(points.size(), -1.0), suspectDistance_(points.size(), kNaN), suspectRms_(points.size(), kNaN),
      msf_(msf), unwrap_(unwrap) {
  requested_ = projection_;
  std::vector<TPlanePoint> placed;
  if (!PlacePoints(points, placed) || !Solve(placed)) return;
  valid_ = true;
  MeasureResiduals(placed);
  if (!valid_) return;
  FindWrongPoints(placed);
  LeaveOutWrongPoints(placed);
}

void TCalibrationFit::LeaveOutWrongPoints(const std::vector<TPlanePoint>& placed) {
  std::vector<TPlanePoint> rest;
  for (const TPlanePoint& p : placed)
    if (std::isnan(suspectDistance_[p.Index])) rest.push_back(p);
  if (rest.size() == placed.size()) return;
  const TAffineState all = State();
  const std::string problem = problem_;
  if (!Solve(rest)) {
    // The rest alone give no fit: all the points' stands.
    Restore(all);
    problem_ = problem;
    return;
  }
  MeasureResiduals(placed, rest);
  if (!valid_) {
    Restore(all);
    valid_ = true;
    problem_ = problem;
    MeasureResiduals(placed);
  }
}

bool TCalibrationFit::PlacePoints(const std::vector<TCalibrationPoint>& points, std::vector<TPlanePoint>& placed) {
  const bool projected = projection_->Projected();
  std::vector<std::size_t> latLon;
  std::vector<double> east, north;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (!HasFiniteLatLon(points[i])) continue;
    double lon = static_cast<double>(points[i].Lon);
    // Continuous around the first point, so that 179 E and 179 W lie 2 degrees apart.
    if (unwrap_ && !east.empty() && std::fabs(lon) <= 360)
      lon = east.front() + std::remainder(lon - east.front(), 360.0);
    latLon.push_back(i);
    east.push_back(lon);
    north.push_back(static_cast<double>(points[i].Lat));
  }
  if (projected) {
    projection_->ToPlane(east, north);
  } else {
    // Degrees of longitude shrink towards the poles: scale them at the
    // points' mean latitude. Near a pole the east axis keeps a size.
    double lat0 = 0;
    for (double lat : north) lat0 += lat / static_cast<double>(north.size());
    cosLat0_ = std::cos(lat0 * std::numbers::pi / 180.0);
    if (!(std::fabs(cosLat0_) > 1e-9)) cosLat0_ = 1e-9;
    for (double& e : east) e *= cosLat0_;
  }
  struct TRaw {
    std::size_t index;
    double e, n;
  };
  std::vector<TRaw> raw;
  for (std::size_t k = 0; k < latLon.size(); ++k) {
    // A point the projection cannot place (a latitude of 95, say) takes no
    // part, as a point without coordinates; the check names its latitude.
    if (projected && (!Finite(east[k]) || !Finite(north[k]))) continue;
    raw.push_back({latLon[k], east[k], north[k]});
  }
  // Maps whose points are all given by latitude and longitude keep the
  // message that names only those.
  bool gridGiven = false;
  if (projected) {
    for (std::size_t i = 0; i < points.size(); ++i) {
      const TCalibrationPoint& p = points[i];
      double e = 0, n = 0;
      if (!HasFiniteLatLon(p) && p.HasGrid) gridGiven = true;
      if (!HasFiniteLatLon(p) && p.HasGrid &&
          projection_->GridToPlane(p.GridZone, p.GridSouth, p.Easting, p.Northing, e, n))
        raw.push_back({i, e, n});
    }
    std::sort(raw.begin(), raw.end(), [](const TRaw& a, const TRaw& b) { return a.index < b.index; });
  }
  used_ = static_cast<int>(raw.size());
  if (raw.size() < 3) {
    problem_ = gridGiven ? msg::FitTooFewPointsInPlane(raw.size()) : msg::FitTooFewPoints(raw.size());
    return false;
  }
  const double count = static_cast<double>(raw.size());
  // The calibration's pixels are for the picture scaled by the "MSF" factor.
  const auto x = [&](const TRaw& r) { return points[r.index].X / msf_; };
  const auto y = [&](const TRaw& r) { return points[r.index].Y / msf_; };
  for (const TRaw& r : raw) {
    xm_ += x(r) / count;
    ym_ += y(r) / count;
    em_ += r.e / count;
    nm_ += r.n / count;
  }
  for (const TRaw& r : raw) placed.push_back({r.index, x(r) - xm_, y(r) - ym_, r.e - em_, r.n - nm_});
  return true;
}

bool TCalibrationFit::Solve(const std::vector<TPlanePoint>& placed) {
  TNormalSums s;
  for (const TPlanePoint& p : placed) s.Add(p.Dx, p.Dy, p.De, p.Dn, 1);
  // Centred pixels: the constant term separates out, and the pixels' own
  // scatter says whether they span the picture.
  const double xx = s.s[1][1], xy = s.s[1][2], yy = s.s[2][2];
  const double det = xx * yy - xy * xy;
  if (!(det > 1e-12 * xx * yy) || !(xx > 0) || !(yy > 0)) {
    problem_ = msg::FitPixelsOnOneLine;
    return false;
  }
  const double planeDet = s.u[0][0] * s.u[1][1] - s.u[0][1] * s.u[0][1];
  if (!Finite(planeDet) || !(planeDet > 1e-12 * s.u[0][0] * s.u[1][1])) {
    problem_ = msg::FitLatLonOnOneLine;
    return false;
  }
  TAffine fit;
  if (!SolveNormal(s, fit)) {
    problem_ = msg::FitPixelsOnOneLine;
    return false;
  }
  if (!fit.Invertible()) {
    problem_ = msg::FitLatLonOnOneLine;
    return false;
  }
  a0_ = fit.e[0], a1_ = fit.e[1], a2_ = fit.e[2];
  b0_ = fit.n[0], b1_ = fit.n[1], b2_ = fit.n[2];
  return true;
}

void TCalibrationFit::MeasureResiduals(const std::vector<TPlanePoint>& placed) { MeasureResiduals(placed, placed); }

void TCalibrationFit::MeasureResiduals(const std::vector<TPlanePoint>& placed, const std::vector<TPlanePoint>& used) {
  // Coordinates far out of range give a fit whose inverse overflows: no fit then.
  for (const TPlanePoint& p : placed) {
    double x = 0, y = 0;
    if (!CentredPlaneToPixel(p.De, p.Dn, x, y)) {
      valid_ = false;
      problem_ = msg::FitLatLonOutOfRange;
      return;
    }
    residuals_[p.Index] = std::hypot(x - (xm_ + p.Dx), y - (ym_ + p.Dy));
  }
  double sum = 0;
  for (const TPlanePoint& p : used) sum += residuals_[p.Index] * residuals_[p.Index];
  used_ = static_cast<int>(used.size());
  rms_ = std::sqrt(sum / static_cast<double>(used.size()));
  if (!Finite(rms_)) {
    valid_ = false;
    problem_ = msg::FitLatLonOutOfRange;
  }
}

void TCalibrationFit::FindWrongPoints(const std::vector<TPlanePoint>& placed) {
  struct TLeftOut {
    std::size_t K;
    double Distance, Rms, Shear;
  };
  const auto suspect = [](const TLeftOut& c) {
    return c.Distance > kSuspectPixels && c.Distance > kSuspectRatio * (c.Rms + 1);
  };
  std::vector<TPlanePoint> rest = placed;
  int named = 0;
  for (int round = 0; round < kMostSuspects && rest.size() >= 3; ++round) {
    TNormalSums all;
    for (const TPlanePoint& p : rest) all.Add(p.Dx, p.Dy, p.De, p.Dn, 1);
    std::vector<TLeftOut> leftOut;
    double leastRms = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < rest.size(); ++k) {
      const TPlanePoint& p = rest[k];
      TNormalSums others = all;
      others.Add(p.Dx, p.Dy, p.De, p.Dn, -1);
      TAffine fit;
      if (!SolveNormal(others, fit) || !fit.Invertible()) {
        if (round == 0) looDistances_[p.Index] = kNaN;
        continue;
      }
      double dx = 0, dy = 0;
      fit.Inverse(p.De - fit.e[0], p.Dn - fit.n[0], dx, dy);
      const TLeftOut c{k, std::hypot(dx - p.Dx, dy - p.Dy), PixelRms(others, fit), fit.Shear()};
      if (round == 0) looDistances_[p.Index] = c.Distance;
      if (!Finite(c.Distance) || !Finite(c.Rms)) continue;
      leftOut.push_back(c);
      leastRms = std::min(leastRms, c.Rms);
    }
    // Among 3 or 4 points no single one can be told wrong; the distances
    // above are still worth listing.
    if (rest.size() < 5) break;
    // The rest agree best without the point named. Leaving out either of two
    // points can make the rest agree as well (with 5 points at the corners
    // and the centre, 3 on a diagonal, any 4 fit): then the one whose rest
    // needs the least shear, as a map drawn in its own projection does.
    const TLeftOut* best = nullptr;
    for (const TLeftOut& c : leftOut)
      if (c.Rms <= leastRms + 1 && suspect(c) && (!best || c.Shear < best->Shear)) best = &c;
    if (!best) break;
    suspectDistance_[rest[best->K].Index] = best->Distance;
    suspectRms_[rest[best->K].Index] = best->Rms;
    rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(best->K));
    searchStopped_ = ++named == kMostSuspects;
  }
}

TCalibrationFit::TAffineState TCalibrationFit::State() const {
  return {used_, rms_, residuals_, a0_, a1_, a2_, b0_, b1_, b2_};
}

void TCalibrationFit::Restore(const TAffineState& state) {
  used_ = state.Used;
  rms_ = state.Rms;
  residuals_ = state.Residuals;
  a0_ = state.A[0], a1_ = state.A[1], a2_ = state.A[2];
  b0_ = state.B[0], b1_ = state.B[1], b2_ = state.B[2];
}

bool TCalibrationFit::Suspect(std::size_t index) const {
  return valid_ && index < suspectDistance_.size() && !std::isnan(suspectDistance_[index]);
}

double TCalibrationFit::SuspectDistance(std::size_t index) const {
  return Suspect(index) ? suspectDistance_[index] : kNaN;
}

double TCalibrationFit::SuspectOthersRms(std::size_t index) const { return Suspect(index) ? suspectRms_[index] : kNaN; }

const std::string& TCalibrationFit::PlaneDefinition() const { return projection_->Definition(); }

bool TCalibrationFit::MadeFrom(const std::vector<TCalibrationPoint>& points) const {
  return points.size() == points_.size() && std::equal(points.begin(), points.end(), points_.begin(), SamePoint);
}

bool TCalibrationFit::PixelToPlane(double x, double y, double& east, double& north) const {
  if (!valid_) return false;
  const double dx = x - xm_;
  const double dy = y - ym_;
  east = em_ + a0_ + a1_ * dx + a2_ * dy;
  north = nm_ + b0_ + b1_ * dx + b2_ * dy;
  if (!projection_->Projected()) east = std::remainder(east / cosLat0_, 360.0);
  return Finite(east) && Finite(north);
}

bool TCalibrationFit::PlaneToPixel(double east, double north, double& x, double& y) const {
  if (!valid_) return false;
  if (!projection_->Projected()) {
    // The longitude on the points' side of the 180th meridian.
    const double centre = em_ / cosLat0_;
    if (std::fabs(east) <= 360) east = centre + std::remainder(east - centre, 360.0);
    east *= cosLat0_;
  }
  return CentredPlaneToPixel(east - em_, north - nm_, x, y);
}

bool TCalibrationFit::CentredPlaneToPixel(double de, double dn, double& x, double& y) const {
  const TAffine fit{{a0_, a1_, a2_}, {b0_, b1_, b2_}};
  double dx = 0, dy = 0;
  fit.Inverse(de - a0_, dn - b0_, dx, dy);
  const double px = xm_ + dx;
  const double py = ym_ + dy;
  if (!Finite(px) || !Finite(py)) return false;
  x = px;
  y = py;
  return true;
}

bool TCalibrationFit::PixelToLatLon(double x, double y, double& lat, double& lon) const {
  double e = 0, n = 0;
  if (!PixelToPlane(x, y, e, n) || !projection_->PlaneToWgs84(e, n, lat, lon)) return false;
  lon = std::remainder(lon, 360.0);
  return true;
}

bool TCalibrationFit::PixelToDatum(double x, double y, double& lat, double& lon) const {
  double e = 0, n = 0;
  if (!PixelToPlane(x, y, e, n) || !projection_->PlaneToDatum(e, n, lat, lon)) return false;
  lon = std::remainder(lon, 360.0);
  return true;
}

bool TCalibrationFit::LatLonToPixel(double lat, double lon, double& x, double& y) const {
  double e = 0, n = 0;
  return valid_ && projection_->Wgs84ToPlane(lat, lon, e, n) && PlaneToPixel(e, n, x, y);
}

void TCalibrationFit::Wgs84ToPixels(std::vector<double>& x, std::vector<double>& y) const {
  projection_->Wgs84ToPlane(x, y);
  for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i)
    if (!PlaneToPixel(x[i], y[i], x[i], y[i])) x[i] = y[i] = kNaN;
}

void TCalibrationFit::PixelsToWgs84(std::vector<double>& x, std::vector<double>& y) const {
  for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i)
    if (!PixelToPlane(x[i], y[i], x[i], y[i])) x[i] = y[i] = kNaN;
  projection_->PlaneToWgs84(x, y);
}

std::shared_ptr<const TCalibrationFit> TMapArea::Fit() const {
  // Only a .map says what it is projected in; a plane chosen since is fitted
  // in lines of its own.
  static const std::vector<std::string> noLines;
  const bool map = UpperFileExt(FileName) == ".MAP";
  std::vector<std::string> chosen;
  if (!SamePlane(Plane, map ? ReadPlaneChoice(Lines) : TPlaneChoice{}))
    chosen = PlaneLines(Plane, map ? Lines : noLines);
  const std::vector<std::string>& lines = !chosen.empty() ? chosen : map ? Lines : noLines;
  if (fit_ && fit_->MadeFrom(Points) && fit_->RequestedProjection()->MadeFrom(lines)) return fit_;
  std::shared_ptr<const TMapProjection> projection;
  if (fit_ && fit_->RequestedProjection()->MadeFrom(lines))
    projection = fit_->RequestedProjection();
  else if (!lines.empty())
    projection = std::make_shared<TMapProjection>(lines);
  fit_ = std::make_shared<const TCalibrationFit>(Points, projection);
  return fit_;
}

namespace {

// The .map point lines that gave the points, in order, as the parser takes them.
std::vector<const std::string*> PointLines(const TMapArea& area) {
  std::vector<const std::string*> lines;
  if (UpperFileExt(area.FileName) != ".MAP") return lines;
  for (std::size_t i = 3; i < area.Lines.size(); ++i) {
    const std::string& line = area.Lines[i];
    if (UpperCaseAscii(line.substr(0, 5)) == "POINT" && !Trim(ExtractNthWord(3, line, ",")).empty() &&
        !Trim(ExtractNthWord(4, line, ",")).empty())
      lines.push_back(&line);
  }
  return lines;
}

// Why point i takes no part in the fit, when no other finding says so; empty
// when it takes part or has nothing to take part with.
std::string NoPartReason(const TCalibrationFit& fit, const TCalibrationPoint& p, std::size_t i,
                         const std::string* line) {
  const bool placed = fit.Valid() && fit.Residuals()[i] >= 0;
  if (placed) return {};
  if (p.HasLatLon) {
    const double lat = static_cast<double>(p.Lat), lon = static_cast<double>(p.Lon);
    const bool inRange = std::fabs(lat) <= 90 && std::fabs(lon) <= 180;
    return fit.Valid() && inRange ? msg::ReasonNotPlaced : "";
  }
  if (p.HasGrid) {
    if (p.GridZone < 0 || p.GridZone > 60) return msg::ReasonUtmZone(std::to_string(p.GridZone));
    return fit.Valid() && fit.Projection()->Projected() ? msg::ReasonNotPlaced : "";
  }
  if (!line) return {};
  for (auto [n, word] : {std::pair<int, const char*>{15, "easting"}, {16, "northing"}}) {
    const std::string text = Trim(ExtractNthWord(n, *line, ","));
    long double v = 0;
    if (!text.empty() && (!TryStrToFloat(ReplaceAll(text, ".", std::string(1, DecimalSeparator())), v) ||
                          !(std::fabs(v) < kLargestGridCoordinate)))
      return msg::ReasonGridWordUnread(word, text);
  }
  return {};
}

} // namespace

std::vector<TCalibrationFinding> CheckCalibration(const TMapArea& area) {
  std::vector<TCalibrationFinding> findings;
  const auto add = [&](int point, std::string message) { findings.push_back({point, std::move(message)}); };

  if (area.Width <= 0 || area.Height <= 0) {
    const std::string image = area.ImageFileName;
    const std::string ext = UpperFileExt(image);
    if (image.empty())
      add(0, msg::MapNamesNoImage);
    else if (!IsImageKind(FileKindOf(ext)))
      add(0, msg::MapImageFormatUnread(image, ext));
    else
      add(0, msg::MapImageMissing(image));
  }

  const std::shared_ptr<const TCalibrationFit> fit = area.Fit();
  if (!fit->ProjectionProblem().empty()) add(0, fit->ProjectionProblem());
  for (const std::string& note : fit->RequestedProjection()->Notes()) add(0, note);
  if (!fit->Valid()) add(0, msg::NoCalibrationFit(fit->Problem()));
  // The points still taking part, after the wrong ones named below, whatever their number.
  if (fit->Valid() && fit->Rms() > kSuspectPixels) add(0, msg::PointsDisagree(fit->Rms()));
  if (fit->MoreMayBeWrong()) add(0, msg::WrongPointSearchStopped(kMostSuspects));
  const std::vector<const std::string*> pointLines = PointLines(area);

  for (std::size_t i = 0; i < area.Points.size(); ++i) {
    const TCalibrationPoint& p = area.Points[i];
    const int number = static_cast<int>(i) + 1;
    if (fit->Suspect(i)) add(number, msg::PointFarFromFit(number, fit->SuspectDistance(i), fit->SuspectOthersRms(i)));
    const std::string reason = NoPartReason(*fit, p, i, i < pointLines.size() ? pointLines[i] : nullptr);
    if (!reason.empty()) add(number, msg::PointTakesNoPart(number, reason));
    if (area.Width > 0 && area.Height > 0 && (p.X < 0 || p.Y < 0 || p.X > area.Width || p.Y > area.Height))
      add(number, msg::PointOutsidePicture(number, p.X, p.Y, area.Width, area.Height));
    if (p.HasLatLon) {
      const double lat = static_cast<double>(p.Lat);
      const double lon = static_cast<double>(p.Lon);
      if (!(lat >= -90 && lat <= 90)) add(number, msg::PointLatitudeOutOfRange(number, lat));
      if (!(lon >= -180 && lon <= 180)) add(number, msg::PointLongitudeOutOfRange(number, lon));
    }
  }

  // "IWH,Map Image Width/Height,W,H": the picture size the calibration was made for.
  if (UpperFileExt(area.FileName) == ".MAP" && area.Width > 0 && area.Height > 0) {
    for (std::size_t i = 3; i < area.Lines.size(); ++i) {
      const std::string& line = area.Lines[i];
      if (!IsImageSizeLine(line)) continue;
      std::int32_t w = 0, h = 0;
      if (TryStrToInt(Trim(ExtractNthWord(3, line, ",")), w) && TryStrToInt(Trim(ExtractNthWord(4, line, ",")), h) &&
          (w != area.Width || h != area.Height))
        add(0, msg::CalibratedForOtherSize(w, h, area.Width, area.Height));
      break;
    }
  }
  return findings;
}

std::string FormatLatLon(double lat, double lon) {
  if (!Finite(lat) || !Finite(lon)) return std::string();
  return DegreesMinutes(lat, 'N', 'S') + "  " + DegreesMinutes(lon, 'E', 'W');
}

namespace {

// "5 483 210", "-12 345": metres in groups of three.
std::string GroupedMetres(double value) {
  const long long metres = std::llround(value);
  std::string digits = std::to_string(metres < 0 ? -metres : metres);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), " ");
  return (metres < 0 ? "-" : "") + digits;
}

} // namespace

std::string FormatGridPosition(double easting, double northing, int zone, bool south, double lat) {
  if (!Finite(easting) || !Finite(northing) || !(std::fabs(easting) < 1e15) || !(std::fabs(northing) < 1e15))
    return std::string();
  std::string text;
  if (zone >= 1 && zone <= 60) {
    // Bands of 8 degrees from 80 S, I and O left out; X reaches to 84 N.
    static const char kBands[] = "CDEFGHJKLMNPQRSTUVWX";
    const int band = lat >= -80 && lat <= 84 ? std::min(19, static_cast<int>(std::floor((lat + 80) / 8))) : -1;
    text = std::to_string(zone) + (band >= 0 ? kBands[band] : south ? 'S' : 'N') + ' ';
  }
  return text + GroupedMetres(easting) + " E " + GroupedMetres(northing) + " N";
}

std::string PointerReadout(const TMapArea& area, int x, int y) {
  std::string text = msg::PointerPixel(x, y);
  const std::shared_ptr<const TCalibrationFit> fit = area.Fit();
  double lat = 0, lon = 0;
  if (fit->PixelToLatLon(x, y, lat, lon)) {
    std::string where = FormatLatLon(lat, lon);
    double east = 0, north = 0;
    if (!where.empty() && fit->Projection()->Projected() && fit->PixelToPlane(x, y, east, north)) {
      bool south = false;
      const int zone = fit->Projection()->UtmZone(south);
      const std::string grid = FormatGridPosition(east, north, zone, south, lat);
      if (!grid.empty()) where += "   " + grid;
    }
    if (!where.empty()) text += msg::PointerFit(where, fit->PointsUsed(), fit->Rms());
  }
  return text;
}

} // namespace zv
