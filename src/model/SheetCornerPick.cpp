#include "model/SheetCornerPick.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <utility>

namespace zv {

TSnappedClick SnapToFrameCorner(double x, double y, const std::vector<TPixelCorner>& found, double zoom, bool keep) {
  TSnappedClick out{{x, y}, false};
  if (keep || zoom <= 0) return out;
  double best = kCornerSnapScreenPixels;
  for (const TPixelCorner& c : found) {
    const double screen = std::hypot(c.X - x, c.Y - y) * zoom;
    if (screen <= best) {
      best = screen;
      out = {c, true};
    }
  }
  return out;
}

void WriteSheetPlane(std::vector<std::string>& lines, const TSheet& sheet, const TFrameCorners& corners,
                     const std::string& title, const std::string& image, int width, int height) {
  const auto find = [&lines](const char* head) {
    for (std::size_t i = 5; i < lines.size(); ++i)
      if (lines[i].rfind(head, 0) == 0) return i;
    return lines.size();
  };
  const std::size_t projection = find("Map Projection"), setup = find("Projection Setup");
  if (lines.size() < 5 || projection == lines.size() || setup == lines.size()) {
    lines = SheetMapLines(sheet, corners, title, image, width, height);
    return;
  }
  lines[4] = DatumLine(sheet.Plane);
  lines[projection] = MapProjectionLine(sheet.Plane);
  lines[setup] = ProjectionSetupLine(sheet.Plane);
}

TSheetCornerPick::TSheetCornerPick(TSheet sheet) : sheet_(std::move(sheet)) {}

void TSheetCornerPick::Take(TPixelCorner at) {
  if (Done()) return;
  corners_[static_cast<std::size_t>(next_++)] = at;
}

TPixelCorner TSheetCornerPick::Local(int corner) const {
  const auto geo = sheet_.Corners()[static_cast<std::size_t>(corner)];
  const double midLon = (sheet_.West + sheet_.East) / 2;
  const double rad = std::numbers::pi / 180;
  // The picture's y grows southward, so north is negative here.
  return {(geo.Lon - midLon) * std::cos(geo.Lat * rad), -geo.Lat};
}

std::optional<TPixelCorner> TSheetCornerPick::Predicted(int corner) const {
  if (next_ < 2 || corner < next_ || corner > 3) return std::nullopt;
  // The similarity (turn, scale, shift) taking the first two corners' local
  // places onto their clicks: z -> a z + b on the complex plane.
  using C = std::complex<double>;
  const auto local = [this](int i) {
    const TPixelCorner p = Local(i);
    return C(p.X, p.Y);
  };
  const auto picked = [this](int i) {
    const TPixelCorner& p = corners_[static_cast<std::size_t>(i)];
    return C(p.X, p.Y);
  };
  const C span = local(1) - local(0);
  if (std::abs(span) == 0) return std::nullopt;
  const C a = (picked(1) - picked(0)) / span;
  const C z = a * (local(corner) - local(0)) + picked(0);
  return TPixelCorner{z.real(), z.imag()};
}

std::vector<TCalibrationPoint> TSheetCornerPick::Points() const {
  std::vector<TCalibrationPoint> out;
  const auto geo = sheet_.Corners();
  for (int i = 0; i < next_; ++i) {
    const auto n = static_cast<std::size_t>(i);
    TCalibrationPoint p;
    p.X = static_cast<std::int32_t>(std::lround(corners_[n].X));
    p.Y = static_cast<std::int32_t>(std::lround(corners_[n].Y));
    p.Lat = geo[n].Lat;
    p.Lon = geo[n].Lon > 180 ? geo[n].Lon - 360 : geo[n].Lon;
    p.HasLatLon = true;
    out.push_back(p);
  }
  return out;
}

} // namespace zv
