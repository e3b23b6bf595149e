#include "model/CalibrationFit.h"

#include "base/Messages.h"
#include "base/Paths.h"
#include "model/CalibrationText.h"
#include "model/FileKind.h"
#include "model/MapModel.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace zv {
namespace {

bool Finite(double v) { return std::isfinite(v); }

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

// The points that take part: those with a finite latitude and longitude.
std::vector<std::size_t> UsablePoints(const std::vector<TCalibrationPoint>& points) {
  std::vector<std::size_t> used;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const TCalibrationPoint& p = points[i];
    if (p.HasLatLon && Finite(static_cast<double>(p.Lat)) && Finite(static_cast<double>(p.Lon))) used.push_back(i);
  }
  return used;
}

// The sums of the normal equations over centred pixels (x, y) and plane
// coordinates (e east, n north).
struct TNormalSums {
  double xx = 0, xy = 0, yy = 0, xe = 0, ye = 0, xn = 0, yn = 0, e = 0, n = 0;
  double ee = 0, nn = 0, en = 0;

  void Add(double dx, double dy, double de, double dn) {
    xx += dx * dx;
    xy += dx * dy;
    yy += dy * dy;
    xe += dx * de;
    ye += dy * de;
    xn += dx * dn;
    yn += dy * dn;
    ee += de * de;
    nn += dn * dn;
    en += de * dn;
    e += de;
    n += dn;
  }
};

} // namespace

TCalibrationFit::TCalibrationFit(const std::vector<TCalibrationPoint>& points)
    : residuals_(points.size(), -1.0) {
  const std::vector<std::size_t> used = UsablePoints(points);
  used_ = static_cast<int>(used.size());
  if (used.size() < 3) {
    problem_ = msg::FitTooFewPoints(used.size());
    return;
  }
  Centre(points, used);
  if (!Solve(points, used)) return;
  valid_ = true;
  MeasureResiduals(points, used);
}

void TCalibrationFit::Centre(const std::vector<TCalibrationPoint>& points, const std::vector<std::size_t>& used) {
  const double n = static_cast<double>(used.size());
  for (std::size_t i : used) {
    lat0_ += static_cast<double>(points[i].Lat) / n;
    lon0_ += static_cast<double>(points[i].Lon) / n;
    xm_ += points[i].X / n;
    ym_ += points[i].Y / n;
  }
  cosLat0_ = std::cos(lat0_ * std::numbers::pi / 180.0);
  // Near a pole the east axis shrinks to nothing; keep it a number.
  if (!(std::fabs(cosLat0_) > 1e-9)) cosLat0_ = 1e-9;
}

bool TCalibrationFit::Solve(const std::vector<TCalibrationPoint>& points, const std::vector<std::size_t>& used) {
  // Normal equations on centred pixels: the constant terms separate out.
  TNormalSums s;
  for (std::size_t i : used)
    s.Add(points[i].X - xm_, points[i].Y - ym_, (static_cast<double>(points[i].Lon) - lon0_) * cosLat0_,
          static_cast<double>(points[i].Lat) - lat0_);
  const double det = s.xx * s.yy - s.xy * s.xy;
  if (!(det > 1e-12 * s.xx * s.yy) || !(s.xx > 0) || !(s.yy > 0)) {
    problem_ = msg::FitPixelsOnOneLine;
    return false;
  }
  const double planeDet = s.ee * s.nn - s.en * s.en;
  if (!Finite(planeDet) || !(planeDet > 1e-12 * s.ee * s.nn)) {
    problem_ = msg::FitLatLonOnOneLine;
    return false;
  }
  const double n = static_cast<double>(used.size());
  a1_ = (s.xe * s.yy - s.ye * s.xy) / det;
  a2_ = (s.ye * s.xx - s.xe * s.xy) / det;
  b1_ = (s.xn * s.yy - s.yn * s.xy) / det;
  b2_ = (s.yn * s.xx - s.xn * s.xy) / det;
  a0_ = s.e / n;
  b0_ = s.n / n;
  // The pixel axes may be independent while the plane's are not (after rounding).
  const double m = a1_ * b2_ - a2_ * b1_;
  const double scale = (std::fabs(a1_) + std::fabs(a2_)) * (std::fabs(b1_) + std::fabs(b2_));
  if (!Finite(m) || !Finite(scale) || !(std::fabs(m) > 1e-12 * scale)) {
    problem_ = msg::FitLatLonOnOneLine;
    return false;
  }
  return true;
}

void TCalibrationFit::MeasureResiduals(const std::vector<TCalibrationPoint>& points,
                                       const std::vector<std::size_t>& used) {
  // Coordinates far out of range give a fit whose inverse overflows: no fit then.
  double sum = 0;
  for (std::size_t i : used) {
    double x = 0, y = 0;
    if (!LatLonToPixel(static_cast<double>(points[i].Lat), static_cast<double>(points[i].Lon), x, y)) {
      valid_ = false;
      problem_ = msg::FitLatLonOutOfRange;
      return;
    }
    const double r = std::hypot(x - points[i].X, y - points[i].Y);
    residuals_[i] = r;
    sum += r * r;
  }
  rms_ = std::sqrt(sum / static_cast<double>(used.size()));
  if (!Finite(rms_)) {
    valid_ = false;
    problem_ = msg::FitLatLonOutOfRange;
  }
}

bool TCalibrationFit::Suspect(std::size_t index) const {
  if (!valid_ || index >= residuals_.size() || residuals_[index] < 0 || used_ < 2) return false;
  double others = 0;
  for (std::size_t i = 0; i < residuals_.size(); ++i)
    if (i != index && residuals_[i] >= 0) others += residuals_[i] * residuals_[i];
  const double rmsOthers = std::sqrt(others / (used_ - 1));
  return residuals_[index] > 3 * rmsOthers && residuals_[index] > 5;
}

bool TCalibrationFit::PixelToLatLon(double x, double y, double& lat, double& lon) const {
  if (!valid_) return false;
  const double dx = x - xm_;
  const double dy = y - ym_;
  const double e = a0_ + a1_ * dx + a2_ * dy;
  const double n = b0_ + b1_ * dx + b2_ * dy;
  const double la = lat0_ + n;
  const double lo = lon0_ + e / cosLat0_;
  if (!Finite(la) || !Finite(lo)) return false;
  lat = la;
  lon = lo;
  return true;
}

bool TCalibrationFit::LatLonToPixel(double lat, double lon, double& x, double& y) const {
  if (!valid_) return false;
  const double e = (lon - lon0_) * cosLat0_ - a0_;
  const double n = (lat - lat0_) - b0_;
  const double m = a1_ * b2_ - a2_ * b1_;
  const double px = xm_ + (e * b2_ - n * a2_) / m;
  const double py = ym_ + (n * a1_ - e * b1_) / m;
  if (!Finite(px) || !Finite(py)) return false;
  x = px;
  y = py;
  return true;
}

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

  const TCalibrationFit fit(area.Points);
  if (!fit.Valid()) add(0, msg::NoCalibrationFit(fit.Problem()));

  for (std::size_t i = 0; i < area.Points.size(); ++i) {
    const TCalibrationPoint& p = area.Points[i];
    const int number = static_cast<int>(i) + 1;
    if (fit.Suspect(i)) add(number, msg::PointFarFromFit(number, fit.Residuals()[i], fit.Rms()));
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
    for (const std::string& line : area.Lines) {
      if (UpperCaseAscii(line.substr(0, 4)) != "IWH,") continue;
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

std::string PointerReadout(const TMapArea& area, int x, int y) {
  std::string text = msg::PointerPixel(x, y);
  const TCalibrationFit fit(area.Points);
  double lat = 0, lon = 0;
  if (fit.PixelToLatLon(x, y, lat, lon)) {
    const std::string where = FormatLatLon(lat, lon);
    if (!where.empty()) text += msg::PointerFit(where, fit.PointsUsed(), fit.Rms());
  }
  return text;
}

} // namespace zv
