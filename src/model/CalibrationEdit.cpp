#include "model/CalibrationEdit.h"

#include "base/Messages.h"
#include "model/CalibrationFit.h"
#include "model/CalibrationText.h"
#include "model/MapModel.h"
#include "model/MapProjection.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <memory>

namespace zv {
namespace {

bool SameAtDouble(long double a, long double b) { return static_cast<double>(a) == static_cast<double>(b); }

bool SamePoint(const TCalibrationPoint& a, const TCalibrationPoint& b) {
  return a.X == b.X && a.Y == b.Y && SameAtDouble(a.Lat, b.Lat) && SameAtDouble(a.Lon, b.Lon);
}

// Marks that may follow a number of a printed coordinate, in UTF-8.
enum TMark { mkNone = 0, mkDegrees, mkMinutes, mkSeconds };

struct TMarkSpelling {
  const char* text;
  TMark mark;
};

constexpr TMarkSpelling kMarks[] = {
    {"\xC2\xB0", mkDegrees}, {"\xC2\xBA", mkDegrees}, {"'", mkMinutes},   {"\xE2\x80\xB2", mkMinutes},
    {"\xE2\x80\x99", mkMinutes}, {"\"", mkSeconds},  {"\xE2\x80\xB3", mkSeconds}, {"\xE2\x80\x9D", mkSeconds},
};

struct TCoordinatePart {
  std::string Number;
  TMark Mark = mkNone;
};

// Splits "46°25.5'" into its numbers and the marks after them; false on any
// other character.
bool SplitCoordinate(const std::string& s, std::vector<TCoordinatePart>& parts) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == ' ' || s[i] == '\t') {
      ++i;
      continue;
    }
    bool marked = false;
    for (const TMarkSpelling& m : kMarks) {
      const std::string spelling = m.text;
      if (s.compare(i, spelling.size(), spelling) != 0) continue;
      if (parts.empty() || parts.back().Mark != mkNone) return false;
      parts.back().Mark = m.mark;
      i += spelling.size();
      marked = true;
      break;
    }
    if (marked) continue;
    const char c = s[i];
    const bool numeric = (c >= '0' && c <= '9') || c == '.' || c == ',' || c == DecimalSeparator();
    if (!numeric) return false;
    // A number right after another (no mark, no blank between) is one number.
    if (parts.empty() || parts.back().Mark != mkNone || (i > 0 && (s[i - 1] == ' ' || s[i - 1] == '\t')))
      parts.push_back({});
    parts.back().Number += c;
    ++i;
  }
  return !parts.empty();
}

bool PartValue(const std::string& number, bool whole, double& value) {
  std::string t = number;
  for (char& c : t)
    if (c == ',' || c == DecimalSeparator()) c = '.';
  long double v = 0;
  if (t.empty() || t.find_first_not_of("0123456789.") != std::string::npos || !TryStrToFloat(t, v)) return false;
  if (whole && t.find('.') != std::string::npos) return false;
  value = static_cast<double>(v);
  return true;
}

// Degrees from the parts: each in its place (a mark, when given, names it),
// only the last with a fraction, minutes and seconds below 60.
bool PartsToDegrees(const std::vector<TCoordinatePart>& parts, double& degrees) {
  if (parts.size() > 3) return false;
  double sum = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].Mark != mkNone && parts[i].Mark != static_cast<TMark>(i + 1)) return false;
    double v = 0;
    if (!PartValue(parts[i].Number, i + 1 < parts.size(), v)) return false;
    if (i > 0 && v >= 60) return false;
    sum += v / (i == 0 ? 1 : i == 1 ? 60 : 3600);
  }
  degrees = sum;
  return true;
}

// Takes a hemisphere letter off either end; false when a letter of the
// other axis (or none of either) is there. negative tells S or W.
bool TakeHemisphere(std::string& s, bool latitude, bool& hasLetter, bool& negative) {
  hasLetter = negative = false;
  if (s.empty()) return true;
  const bool atStart = std::isalpha(static_cast<unsigned char>(s.front())) != 0;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(atStart ? s.front() : s.back())));
  if (!atStart && std::isalpha(static_cast<unsigned char>(s.back())) == 0) return true;
  const std::string own = latitude ? "NS" : "EW";
  if (own.find(letter) == std::string::npos) return false;
  hasLetter = true;
  negative = letter == own[1];
  s = Trim(atStart ? s.substr(1) : s.substr(0, s.size() - 1));
  return true;
}

bool ParsePrintedCoordinate(std::string s, bool latitude, double& value) {
  bool hasLetter = false, negative = false;
  if (!TakeHemisphere(s, latitude, hasLetter, negative)) return false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    if (hasLetter) return false;
    negative = s[0] == '-';
    s = Trim(s.substr(1));
  }
  std::vector<TCoordinatePart> parts;
  double degrees = 0;
  if (!SplitCoordinate(s, parts) || !PartsToDegrees(parts, degrees)) return false;
  value = negative ? -degrees : degrees;
  return true;
}

} // namespace

bool ParseCoordinateCell(const std::string& text, bool latitude, std::optional<double>& value, std::string& error) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) {
    value.reset();
    return true;
  }
  long double plain = 0;
  double v = 0;
  if (TryStrToFloat(trimmed, plain))
    v = static_cast<double>(plain);
  else if (!ParsePrintedCoordinate(trimmed, latitude, v))
    v = std::numeric_limits<double>::quiet_NaN();
  if (!std::isfinite(v) || std::fabs(v) > (latitude ? 90.0 : 180.0)) {
    error = msg::CoordinateNotRecognised(text, latitude);
    return false;
  }
  value = v;
  return true;
}

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

namespace {

// Whether a row's point is an old point as the table shows it.
bool SameRowPoint(const TCalibrationPoint& row, bool grid, const TCalibrationPoint& old) {
  if (!grid) return SamePoint(row, old);
  return row.X == old.X && row.Y == old.Y && old.HasGrid && !old.HasLatLon && row.HasGrid &&
         static_cast<double>(row.Easting) == static_cast<double>(old.Easting) &&
         static_cast<double>(row.Northing) == static_cast<double>(old.Northing);
}

// The UTM zone grid words typed on this map are in; 0 for other planes.
int TypedZone(const TMapArea& area, bool& south) {
  south = false;
  return GridColumnsOf(area) == TGridColumns::Utm ? area.Fit()->RequestedProjection()->UtmZone(south) : 0;
}

} // namespace

void WriteBackCalibrationPoints(TMapArea& area, const std::vector<TCalibrationRow>& rows) {
  const std::vector<TCalibrationPoint>& old = area.Points;
  std::vector<TCalibrationPoint> points(rows.size());
  bool south = false;
  const int zone = TypedZone(area, south);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    points[i].X = rows[i].X;
    points[i].Y = rows[i].Y;
    if (rows[i].GridTyped) {
      points[i].HasGrid = rows[i].GridGiven;
      points[i].Easting = rows[i].Easting;
      points[i].Northing = rows[i].Northing;
      points[i].GridZone = zone;
      points[i].GridSouth = south;
      continue;
    }
    points[i].Lat = rows[i].Lat;
    points[i].Lon = rows[i].Lon;
  }
  const std::size_t n = points.size(), m = old.size();
  std::size_t head = 0, tail = 0;
  const auto same = [&](std::size_t i, std::size_t j) { return SameRowPoint(points[i], rows[i].GridTyped, old[j]); };
  while (head < n && head < m && same(head, head)) ++head;
  while (tail < n - head && tail < m - head && same(n - 1 - tail, m - 1 - tail)) ++tail;
  for (std::size_t i = 0; i < n; ++i) {
    TCalibrationPoint& point = points[i];
    const TCalibrationPoint* source = i < head        ? &old[i]
                                      : i >= n - tail ? &old[m - (n - i)]
                                      : n == m        ? &old[i] // edited in place
                                                      : nullptr;       // inserted
    if (rows[i].GridTyped) {
      // A point read in another zone keeps it while its numbers stay.
      if (source && SameRowPoint(point, true, *source)) {
        point.GridZone = source->GridZone;
        point.GridSouth = source->GridSouth;
      }
      continue;
    }
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
    if (a.HasGrid &&
        (a.Easting != b.Easting || a.Northing != b.Northing || a.GridZone != b.GridZone || a.GridSouth != b.GridSouth))
      return true;
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

TGridColumns GridColumnsOf(const TMapArea& area) {
  const std::shared_ptr<const TMapProjection> plane = area.Fit()->RequestedProjection();
  if (!plane->Projected()) return TGridColumns::None;
  bool south = false;
  return plane->UtmZone(south) ? TGridColumns::Utm : TGridColumns::Grid;
}

std::string UtmZoneText(int zone, bool south) { return std::to_string(zone) + (south ? "S" : "N"); }

TPointCoordinates PointCoordinates(const TMapArea& area, const TCalibrationPoint& point) {
  TPointCoordinates out;
  out.GridTyped = point.HasGrid && !point.HasLatLon;
  const std::shared_ptr<const TMapProjection> projection = area.Fit()->RequestedProjection();
  const TMapProjection& plane = *projection;
  bool south = false;
  const int zone = plane.UtmZone(south);
  if (out.GridTyped) {
    out.Easting = point.Easting;
    out.Northing = point.Northing;
    if (zone) out.Zone = UtmZoneText(point.GridZone ? point.GridZone : zone, point.GridZone ? point.GridSouth : south);
    double e = 0, n = 0, lat = 0, lon = 0;
    if (plane.GridToPlane(point.GridZone, point.GridSouth, point.Easting, point.Northing, e, n) &&
        plane.PlaneToDatum(e, n, lat, lon)) {
      out.Lat = lat;
      out.Lon = lon;
    }
    return out;
  }
  // As read: a point without coordinates shows 0, 0.
  out.Lat = static_cast<double>(point.Lat);
  out.Lon = static_cast<double>(point.Lon);
  if (!plane.Projected() || !point.HasLatLon) return out;
  if (zone) out.Zone = UtmZoneText(zone, south);
  std::vector<double> east = {*out.Lon}, north = {*out.Lat};
  plane.ToPlane(east, north);
  if (std::isfinite(east[0]) && std::isfinite(north[0])) {
    out.Easting = east[0];
    out.Northing = north[0];
  }
  return out;
}

} // namespace zv
