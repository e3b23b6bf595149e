#include "export/MapBorder.h"

#include "base/Paths.h"
#include "model/CalibrationText.h"
#include "model/MapModel.h"

#include <cmath>
#include <cstdlib>

namespace zv {

namespace {

bool ReadNumber(const std::string& word, double& value) {
  std::string text = word;
  while (!text.empty() && text.front() == ' ') text.erase(text.begin());
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end && *end == '\0' && std::isfinite(value);
}

double Cross(const TPicturePoint& o, const TPicturePoint& a, const TPicturePoint& b) {
  return (a.X - o.X) * (b.Y - o.Y) - (a.Y - o.Y) * (b.X - o.X);
}

// Whether segments ab and cd touch or cross.
bool SegmentsMeet(const TPicturePoint& a, const TPicturePoint& b, const TPicturePoint& c, const TPicturePoint& d) {
  const double d1 = Cross(c, d, a), d2 = Cross(c, d, b), d3 = Cross(a, b, c), d4 = Cross(a, b, d);
  if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) return true;
  // Touching or collinear: counted as meeting, which only costs the caller a per-pixel test.
  return d1 == 0 || d2 == 0 || d3 == 0 || d4 == 0;
}

} // namespace

bool RectInsidePolygon(const std::vector<TPicturePoint>& polygon, double x0, double y0, double x1, double y1) {
  const TPicturePoint corners[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
  for (const TPicturePoint& c : corners)
    if (!InsidePolygon(polygon, c.X, c.Y)) return false;
  for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    const TPicturePoint& a = polygon[j];
    const TPicturePoint& b = polygon[i];
    if (a.X >= x0 && a.X <= x1 && a.Y >= y0 && a.Y <= y1) return false;
    for (int k = 0; k < 4; ++k)
      if (SegmentsMeet(a, b, corners[k], corners[(k + 1) % 4])) return false;
  }
  return true;
}

std::vector<TPicturePoint> MapBorderPolygon(const TMapArea& area) {
  std::vector<TPicturePoint> polygon;
  if (UpperFileExt(area.FileName) != ".MAP") return polygon;
  for (const std::string& line : area.Lines) {
    if (UpperCaseAscii(line.substr(0, 6)) != "MMPXY,") continue;
    TPicturePoint p;
    if (ReadNumber(ExtractNthWord(3, line, ","), p.X) && ReadNumber(ExtractNthWord(4, line, ","), p.Y))
      polygon.push_back(p);
  }
  if (polygon.size() < 3) polygon.clear();
  return polygon;
}

bool InsidePolygon(const std::vector<TPicturePoint>& polygon, double x, double y) {
  bool inside = false;
  for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    const TPicturePoint& a = polygon[i];
    const TPicturePoint& b = polygon[j];
    if ((a.Y > y) != (b.Y > y) && x < (b.X - a.X) * (y - a.Y) / (b.Y - a.Y) + a.X) inside = !inside;
  }
  return inside;
}

} // namespace zv
