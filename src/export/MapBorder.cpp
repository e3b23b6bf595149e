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

} // namespace

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
