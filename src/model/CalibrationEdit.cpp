#include "model/CalibrationEdit.h"

#include "base/Messages.h"
#include "model/CalibrationFit.h"
#include "model/CalibrationText.h"
#include "model/MapModel.h"

#include <cmath>
#include <memory>

namespace zv {
namespace {

bool SameAtDouble(long double a, long double b) { return static_cast<double>(a) == static_cast<double>(b); }

bool SamePoint(const TCalibrationPoint& a, const TCalibrationPoint& b) {
  return a.X == b.X && a.Y == b.Y && SameAtDouble(a.Lat, b.Lat) && SameAtDouble(a.Lon, b.Lon);
}

} // namespace

bool ParseIntegerCell(const std::string& text, std::optional<std::int32_t>& value, std::string& error) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) {
    value.reset();
    return true;
  }
  std::int32_t v = 0;
  if (!TryStrToInt(trimmed, v)) {
    error = msg::CellNotAnInteger(text);
    return false;
  }
  value = v;
  return true;
}

bool ParseRealCell(const std::string& text, std::optional<double>& value, std::string& error) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) {
    value.reset();
    return true;
  }
  long double v = 0;
  // A double cell cannot hold what only the widest type reaches.
  if (!TryStrToFloat(trimmed, v) || !std::isfinite(static_cast<double>(v))) {
    error = msg::CellNotAFloat(text);
    return false;
  }
  value = static_cast<double>(v);
  return true;
}

void WriteBackCalibrationPoints(TMapArea& area, const std::vector<TCalibrationRow>& rows) {
  const std::vector<TCalibrationPoint>& old = area.Points;
  std::vector<TCalibrationPoint> points(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    points[i].X = rows[i].X;
    points[i].Y = rows[i].Y;
    points[i].Lat = rows[i].Lat;
    points[i].Lon = rows[i].Lon;
  }
  const std::size_t n = points.size(), m = old.size();
  std::size_t head = 0, tail = 0;
  while (head < n && head < m && SamePoint(points[head], old[head])) ++head;
  while (tail < n - head && tail < m - head && SamePoint(points[n - 1 - tail], old[m - 1 - tail])) ++tail;
  for (std::size_t i = 0; i < n; ++i) {
    TCalibrationPoint& point = points[i];
    const TCalibrationPoint* source = i < head        ? &old[i]
                                      : i >= n - tail ? &old[m - (n - i)]
                                      : n == m        ? &old[i] // edited in place
                                                      : nullptr;       // inserted
    if (source && SameAtDouble(source->Lat, point.Lat) && SameAtDouble(source->Lon, point.Lon)) {
      point.HasLatLon = source->HasLatLon;
      point.HasGrid = source->HasGrid;
      point.GridZone = source->GridZone;
      point.GridSouth = source->GridSouth;
      point.Easting = source->Easting;
      point.Northing = source->Northing;
    } else {
      point.HasLatLon = rows[i].LatLonGiven || point.Lat != 0 || point.Lon != 0;
    }
  }
  area.Points = std::move(points);
}

bool PointsChanged(const TMapArea& area) {
  if (area.Points.size() != area.SavedPoints.size()) return true;
  for (std::size_t i = 0; i < area.Points.size(); ++i) {
    const TCalibrationPoint& a = area.Points[i];
    const TCalibrationPoint& b = area.SavedPoints[i];
    if (!SamePoint(a, b) || a.HasLatLon != b.HasLatLon || a.HasGrid != b.HasGrid) return true;
  }
  return false;
}

std::string FitSummary(const TMapArea& area) {
  const std::shared_ptr<const TCalibrationFit> fit = area.Fit();
  return fit->Valid() ? msg::FitSummary(fit->PointsUsed(), fit->Rms()) : fit->Problem();
}

std::vector<std::string> PointFindingTexts(const TMapArea& area) {
  std::vector<std::string> texts(area.Points.size());
  for (const TCalibrationFinding& finding : CheckCalibration(area)) {
    if (finding.Point < 1 || static_cast<std::size_t>(finding.Point) > texts.size()) continue;
    std::string& text = texts[static_cast<std::size_t>(finding.Point) - 1];
    if (!text.empty()) text += '\n';
    text += finding.Message;
  }
  return texts;
}

} // namespace zv
