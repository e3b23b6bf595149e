// A map's neat line: the border polygon of a .map's MMPXY lines, in picture
// pixels, which cuts the collar (legend, margins) off the drawn map.
#pragma once

#include <string>
#include <vector>

namespace zv {

class TMapArea;

struct TPicturePoint {
  double X = 0, Y = 0;
};

// The MMPXY points in the order of their lines ("MMPXY,1,120,88": number,
// x, y); empty for a .gmi or a .map without them, and when fewer than three
// points read.
std::vector<TPicturePoint> MapBorderPolygon(const TMapArea& area);

// Whether (x, y) lies inside the polygon, by the even-odd rule.
bool InsidePolygon(const std::vector<TPicturePoint>& polygon, double x, double y);
// Whether the whole rectangle [x0, x1] x [y0, y1] lies inside: its corners
// inside and no edge of the polygon meeting it.
bool RectInsidePolygon(const std::vector<TPicturePoint>& polygon, double x0, double y0, double x1, double y1);

} // namespace zv
