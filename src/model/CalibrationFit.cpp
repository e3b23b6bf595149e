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

} // namespace

TCalibrationFit::TCalibrationFit(const std::vector<TCalibrationPoint>& points)
    : residuals_(points.size(), -1.0) {
  std::vector<std::size_t> used;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const TCalibrationPoint& p = points[i];
    if (p.HasLatLon && Finite(static_cast<double>(p.Lat)) && Finite(static_cast<double>(p.Lon))) used.push_back(i);
  }
  used_ = static_cast<int>(used.size());
  if (used.size() < 3) {
    problem_ = msg::FitTooFewPoints(used.size());
    return;
  }

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

  // Normal equations on centred pixels: the constant terms separate out.
  double sxx = 0, sxy = 0, syy = 0, sxe = 0, sye = 0, sxn = 0, syn = 0, se = 0, sn = 0;
  double see = 0, snn = 0, sen = 0;
  for (std::size_t i : used) {
    const double dx = points[i].X - xm_;
    const double dy = points[i].Y - ym_;
    const double e = (static_cast<double>(points[i].Lon) - lon0_) * cosLat0_;
    const double nn = static_cast<double>(points[i].Lat) - lat0_;
    sxx += dx * dx;
    sxy += dx * dy;
    syy += dy * dy;
    sxe += dx * e;
    sye += dy * e;
    sxn += dx * nn;
    syn += dy * nn;
    see += e * e;
    snn += nn * nn;
    sen += e * nn;
    se += e;
    sn += nn;
  }
  const double det = sxx * syy - sxy * sxy;
  if (!(det > 1e-12 * sxx * syy) || !(sxx > 0) || !(syy > 0)) {
    problem_ = msg::FitPixelsOnOneLine;
    return;
  }
  const double planeDet = see * snn - sen * sen;
  if (!Finite(planeDet) || !(planeDet > 1e-12 * see * snn)) {
    problem_ = msg::FitLatLonOnOneLine;
    return;
  }
  a1_ = (sxe * syy - sye * sxy) / det;
  a2_ = (sye * sxx - sxe * sxy) / det;
  b1_ = (sxn * syy - syn * sxy) / det;
  b2_ = (syn * sxx - sxn * sxy) / det;
  a0_ = se / n;
  b0_ = sn / n;
  const double m = a1_ * b2_ - a2_ * b1_;
  const double scale = (std::fabs(a1_) + std::fabs(a2_)) * (std::fabs(b1_) + std::fabs(b2_));
  if (!Finite(m) || !Finite(scale) || !(std::fabs(m) > 1e-12 * scale)) {
    problem_ = msg::FitLatLonOnOneLine;
    return;
  }
  valid_ = true;

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
  rms_ = std::sqrt(sum / n);
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
