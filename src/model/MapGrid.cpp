#include "model/MapGrid.h"

#include "base/Messages.h"
#include "model/CalibrationFit.h"
#include "model/MapModel.h"
#include "model/MapProjection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

namespace zv {
namespace {

constexpr Rgb kGridColour{220, 0, 200};
constexpr Rgb kGraticuleColour{0, 90, 255};
// More lines than this in one view means the step went wrong; draw none.
constexpr double kMostLines = 400;
// A line is refined where its points lie further apart, at most this often.
constexpr int kRefinements = 6;

bool Finite(double v) { return std::isfinite(v); }

// The part of the view the picture covers, in view pixels: lines are drawn
// and labelled there only.
struct TFrame {
  double Left, Top, Right, Bottom;
  double Width() const { return Right - Left; }
  double Height() const { return Bottom - Top; }
  bool Contains(const TCanvasPoint& p, double margin = 0) const {
    return p.X >= Left - margin && p.Y >= Top - margin && p.X <= Right + margin && p.Y <= Bottom + margin;
  }
};

// The view's edges and the line's crossing of one of them, for its label.
struct TEdge {
  bool Vertical; // x = at, else y = at
  double At;
  TLabelAnchor Anchor;
};

bool Crossing(const std::vector<TCanvasPoint>& points, const TEdge& edge, double from, double to, TCanvasPoint& at) {
  for (std::size_t i = 1; i < points.size(); ++i) {
    const TCanvasPoint a = points[i - 1], b = points[i];
    const double va = edge.Vertical ? a.X : a.Y, vb = edge.Vertical ? b.X : b.Y;
    if ((va - edge.At) * (vb - edge.At) > 0 || va == vb) continue;
    const double t = (edge.At - va) / (vb - va);
    const double other = edge.Vertical ? a.Y + (b.Y - a.Y) * t : a.X + (b.X - a.X) * t;
    if (!(other >= from && other <= to)) continue;
    at = edge.Vertical ? TCanvasPoint{edge.At, other} : TCanvasPoint{other, edge.At};
    return true;
  }
  return false;
}

// Labels go where the line leaves the view: grid lines at the top and left
// edges, parallels and meridians at the bottom and right, so the two kinds
// never share an edge.
void PlaceLabel(TGridLine& line, const TFrame& frame) {
  const TEdge top{false, frame.Top, TLabelAnchor::TopCentre}, bottom{false, frame.Bottom, TLabelAnchor::BottomCentre};
  const TEdge left{true, frame.Left, TLabelAnchor::MiddleLeft}, right{true, frame.Right, TLabelAnchor::MiddleRight};
  std::array<TEdge, 2> edges{top, left};
  switch (line.Kind) {
  case TGridLineKind::Easting: edges = {top, left}; break;
  case TGridLineKind::Northing: edges = {left, top}; break;
  case TGridLineKind::Meridian: edges = {bottom, right}; break;
  case TGridLineKind::Parallel: edges = {right, bottom}; break;
  }
  for (const TEdge& edge : edges)
    if (Crossing(line.Points, edge, edge.Vertical ? frame.Top : frame.Left, edge.Vertical ? frame.Bottom : frame.Right,
                 line.LabelAt)) {
      line.Labelled = true;
      line.Anchor = edge.Anchor;
      return;
    }
}

std::string Grouped(long long v) {
  std::string digits = std::to_string(v < 0 ? -v : v);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), " ");
  return (v < 0 ? "-" : "") + digits;
}

// Whole degrees, minutes and seconds of |degrees| to the step's precision.
std::string DegreesText(double degrees, double step, char positive, char negative) {
  const long long seconds = std::llround(std::fabs(degrees) * 3600);
  const long long stepSeconds = std::llround(step * 3600);
  const char hemisphere = seconds == 0 ? ' ' : degrees < 0 ? negative : positive;
  char buf[64];
  if (stepSeconds % 3600 == 0)
    std::snprintf(buf, sizeof buf, "%lld\xC2\xB0%c", seconds / 3600, hemisphere);
  else if (stepSeconds % 60 == 0)
    std::snprintf(buf, sizeof buf, "%lld\xC2\xB0%02lld'%c", seconds / 3600, seconds / 60 % 60, hemisphere);
  else
    std::snprintf(buf, sizeof buf, "%lld\xC2\xB0%02lld'%02lld\"%c", seconds / 3600, seconds / 60 % 60, seconds % 60,
                  hemisphere);
  std::string text = buf;
  if (text.back() == ' ') text.pop_back();
  return text;
}

// The frame's centre and points along its edges, in picture pixels.
void FrameSamples(const TOverlayViewport& viewport, const TFrame& frame, std::vector<double>& x,
                  std::vector<double>& y) {
  const double w = frame.Width(), h = frame.Height();
  const int nx = std::max(2, static_cast<int>(w / 64) + 1), ny = std::max(2, static_cast<int>(h / 64) + 1);
  const auto add = [&](double vx, double vy) {
    x.push_back(viewport.ToPictureX(frame.Left + vx));
    y.push_back(viewport.ToPictureY(frame.Top + vy));
  };
  add(w / 2, h / 2);
  for (int i = 0; i < nx; ++i) {
    add(w * i / (nx - 1), 0);
    add(w * i / (nx - 1), h);
  }
  for (int i = 0; i < ny; ++i) {
    add(0, h * i / (ny - 1));
    add(w, h * i / (ny - 1));
  }
}

// The parts of a line inside the frame, each as a line of its own.
void AddClipped(TGridLine line, const TFrame& frame, std::vector<TGridLine>& out) {
  std::vector<TCanvasPoint> points = std::move(line.Points);
  line.Points.clear();
  const auto flush = [&] {
    if (line.Points.size() >= 2) {
      PlaceLabel(line, frame);
      out.push_back(line);
    }
    line.Points.clear();
  };
  for (std::size_t i = 1; i < points.size(); ++i) {
    // Liang-Barsky: the part of the segment a + t (b - a), 0 <= t <= 1, inside.
    const TCanvasPoint a = points[i - 1], b = points[i];
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    double t0 = 0, t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.X - frame.Left, frame.Right - a.X, a.Y - frame.Top, frame.Bottom - a.Y};
    bool inside = true;
    for (int k = 0; k < 4 && inside; ++k) {
      if (p[k] == 0) {
        inside = q[k] >= 0;
      } else {
        const double t = q[k] / p[k];
        if (p[k] < 0) t0 = std::max(t0, t);
        else t1 = std::min(t1, t);
        inside = t0 <= t1;
      }
    }
    if (!inside) {
      flush();
      continue;
    }
    if (line.Points.empty() || t0 > 0) {
      flush();
      line.Points.push_back({a.X + dx * t0, a.Y + dy * t0});
    }
    line.Points.push_back({a.X + dx * t1, a.Y + dy * t1});
    if (t1 < 1) flush();
  }
  flush();
}

// A line of constant value from `from` to `to` along the other coordinate,
// made of `points` samples; refined later where they lie too far apart.
struct TCurve {
  TGridLineKind Kind;
  double Value;
  std::vector<double> Along; // the other coordinate of each sample
};

// The curves' samples in view pixels, all through PROJ in one call.
void ProjectCurves(const TCalibrationFit& fit, const TOverlayViewport& viewport, const std::vector<TCurve>& curves,
                   std::vector<std::vector<TCanvasPoint>>& out) {
  std::vector<double> x, y;
  for (const TCurve& c : curves)
    for (double a : c.Along) {
      const bool meridian = c.Kind == TGridLineKind::Meridian;
      x.push_back(meridian ? c.Value : a);
      y.push_back(meridian ? a : c.Value);
    }
  fit.Wgs84ToPixels(x, y);
  out.assign(curves.size(), {});
  std::size_t k = 0;
  for (std::size_t i = 0; i < curves.size(); ++i)
    for (std::size_t j = 0; j < curves[i].Along.size(); ++j, ++k)
      out[i].push_back({viewport.ToViewX(x[k]), viewport.ToViewY(y[k])});
}

// Halves every step between two samples that lie further apart than the
// point spacing where either shows; false when none had to be.
bool Refine(std::vector<TCurve>& curves, const std::vector<std::vector<TCanvasPoint>>& points, const TFrame& frame) {
  bool refined = false;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    std::vector<double> along{curves[i].Along.front()};
    for (std::size_t j = 1; j < curves[i].Along.size(); ++j) {
      const TCanvasPoint a = points[i][j - 1], b = points[i][j];
      const bool shows = frame.Contains(a, kGridPointSpacing) || frame.Contains(b, kGridPointSpacing);
      if (shows && Finite(a.X) && Finite(b.X) && std::hypot(b.X - a.X, b.Y - a.Y) > kGridPointSpacing) {
        along.push_back((curves[i].Along[j - 1] + curves[i].Along[j]) / 2);
        refined = true;
      }
      along.push_back(curves[i].Along[j]);
    }
    curves[i].Along = std::move(along);
  }
  return refined;
}

// Picture pixels per view pixel and the plane's change per view pixel at
// the view's centre: the largest of the two axes' gradients.
double PlaneChangePerViewPixel(const TCalibrationFit& fit, const TOverlayViewport& viewport, const TFrame& frame) {
  const double cx = viewport.ToPictureX((frame.Left + frame.Right) / 2);
  const double cy = viewport.ToPictureY((frame.Top + frame.Bottom) / 2);
  const double d = 1 / viewport.Scale;
  double e0 = 0, n0 = 0, ex = 0, nx = 0, ey = 0, ny = 0;
  if (!fit.PixelToPlane(cx, cy, e0, n0) || !fit.PixelToPlane(cx + d, cy, ex, nx) ||
      !fit.PixelToPlane(cx, cy + d, ey, ny))
    return std::numeric_limits<double>::quiet_NaN();
  return std::max(std::hypot(ex - e0, ey - e0), std::hypot(nx - n0, ny - n0));
}

void AddProjectedGrid(const TCalibrationFit& fit, const TOverlayViewport& viewport, const TFrame& frame,
                      TMapGrid& grid) {
  const double change = PlaneChangePerViewPixel(fit, viewport, frame);
  if (!Finite(change) || !(change > 0)) return;
  const double step = GridStepFor(change);
  double eMin = INFINITY, eMax = -INFINITY, nMin = INFINITY, nMax = -INFINITY;
  const double l = frame.Left, t = frame.Top, r = frame.Right, b = frame.Bottom;
  for (const auto& [vx, vy] : {std::pair{l, t}, {r, t}, {l, b}, {r, b}}) {
    double e = 0, n = 0;
    if (!fit.PixelToPlane(viewport.ToPictureX(vx), viewport.ToPictureY(vy), e, n)) return;
    eMin = std::min(eMin, e), eMax = std::max(eMax, e), nMin = std::min(nMin, n), nMax = std::max(nMax, n);
  }
  if ((eMax - eMin) / step + (nMax - nMin) / step > kMostLines) return;
  grid.GridStep = step;
  // The fit is affine in the plane: its grid lines are straight in the picture.
  const double length = std::hypot(frame.Width(), frame.Height());
  const int samples = static_cast<int>(std::ceil(length * 2 / kGridPointSpacing)) + 1;
  const auto addLine = [&](TGridLineKind kind, double value, double from, double to) {
    TGridLine line{kind, value, {}, false, {}, TLabelAnchor::TopCentre, GridValueLabel(value, step)};
    for (int i = 0; i < samples; ++i) {
      const double a = from + (to - from) * i / (samples - 1);
      double x = 0, y = 0;
      const bool ok = kind == TGridLineKind::Easting ? fit.PlaneToPixel(value, a, x, y) : fit.PlaneToPixel(a, value, x, y);
      if (ok) line.Points.push_back({viewport.ToViewX(x), viewport.ToViewY(y)});
    }
    AddClipped(std::move(line), frame, grid.Lines);
  };
  for (double k = std::ceil(eMin / step); k * step <= eMax; ++k) addLine(TGridLineKind::Easting, k * step, nMin, nMax);
  for (double k = std::ceil(nMin / step); k * step <= nMax; ++k) addLine(TGridLineKind::Northing, k * step, eMin, eMax);
}

// Longitudes and latitudes the view shows, from points along its edges (a
// pole inside it widens them to every longitude), longitudes kept
// continuous around the view's centre.
bool GraticuleRange(const TCalibrationFit& fit, const TOverlayViewport& viewport, const TFrame& frame, double range[4],
                    double& perPixel) {
  std::vector<double> x, y;
  FrameSamples(viewport, frame, x, y);
  const double d = 1 / viewport.Scale;
  x.push_back(x[0] + d), y.push_back(y[0]);
  x.push_back(x[0]), y.push_back(y[0] + d);
  fit.PixelsToWgs84(x, y);
  const std::size_t n = x.size();
  if (!Finite(x[0]) || !Finite(x[n - 1]) || !Finite(x[n - 2])) return false;
  const double lon0 = x[0];
  const auto near = [&](double lon) { return lon0 + std::remainder(lon - lon0, 360.0); };
  perPixel = std::max({std::hypot(near(x[n - 2]) - lon0, near(x[n - 1]) - lon0), std::hypot(y[n - 2] - y[0], y[n - 1] - y[0])});
  range[0] = range[2] = INFINITY, range[1] = range[3] = -INFINITY;
  for (std::size_t i = 0; i + 2 < n; ++i) {
    if (!Finite(x[i])) continue;
    const double lon = near(x[i]);
    range[0] = std::min(range[0], lon), range[1] = std::max(range[1], lon);
    range[2] = std::min(range[2], y[i]), range[3] = std::max(range[3], y[i]);
  }
  for (const double pole : {90.0, -90.0}) {
    std::vector<double> px{lon0}, py{pole};
    fit.Wgs84ToPixels(px, py);
    if (frame.Contains({viewport.ToViewX(px[0]), viewport.ToViewY(py[0])})) {
      range[0] = lon0 - 180, range[1] = lon0 + 180;
      range[2] = std::min(range[2], pole), range[3] = std::max(range[3], pole);
    }
  }
  return Finite(perPixel) && perPixel > 0 && range[0] <= range[1];
}

std::vector<double> Spread(double from, double to, int count) {
  std::vector<double> v;
  for (int i = 0; i < count; ++i) v.push_back(from + (to - from) * i / (count - 1));
  return v;
}

void AddGraticule(const TCalibrationFit& fit, const TOverlayViewport& viewport, const TFrame& frame, TMapGrid& grid) {
  double range[4], perPixel = 0;
  if (!GraticuleRange(fit, viewport, frame, range, perPixel)) return;
  const double step = GraticuleStepFor(perPixel);
  // One step beyond what the edges showed: a curved line may bulge into view.
  const double west = std::max(range[0] - step, range[1] - 360), east = std::min(range[1] + step, range[0] + 360);
  const double south = std::max(range[2] - step, -90.0), north = std::min(range[3] + step, 90.0);
  if ((east - west) / step + (north - south) / step > kMostLines) return;
  grid.GraticuleStep = step;
  const int across = static_cast<int>(std::ceil(std::max(frame.Width(), frame.Height()) / kGridPointSpacing)) + 2;
  std::vector<TCurve> curves;
  for (double k = std::ceil(west / step); k * step <= east; ++k)
    curves.push_back({TGridLineKind::Meridian, k * step, Spread(south, north, across)});
  for (double k = std::ceil(south / step); k * step <= north; ++k)
    curves.push_back({TGridLineKind::Parallel, k * step, Spread(west, east, across)});
  std::vector<std::vector<TCanvasPoint>> points;
  ProjectCurves(fit, viewport, curves, points);
  for (int i = 0; i < kRefinements && Refine(curves, points, frame); ++i) ProjectCurves(fit, viewport, curves, points);
  for (std::size_t i = 0; i < curves.size(); ++i) {
    const TCurve& c = curves[i];
    const double value = c.Kind == TGridLineKind::Meridian ? std::remainder(c.Value, 360.0) : c.Value;
    TGridLine line{c.Kind, value, {}, false, {}, TLabelAnchor::TopCentre,
                   c.Kind == TGridLineKind::Meridian ? LongitudeLabel(value, step) : LatitudeLabel(value, step)};
    for (const TCanvasPoint& p : points[i])
      if (Finite(p.X) && Finite(p.Y)) line.Points.push_back(p);
    AddClipped(std::move(line), frame, grid.Lines);
  }
}

TFrame PictureFrame(const TOverlayViewport& viewport, double pictureWidth, double pictureHeight) {
  return {std::max(0.0, viewport.ToViewX(0)), std::max(0.0, viewport.ToViewY(0)),
          std::min<double>(viewport.Width, viewport.ToViewX(pictureWidth)),
          std::min<double>(viewport.Height, viewport.ToViewY(pictureHeight))};
}

} // namespace

double GridStepFor(double metresPerPixel) {
  const double least = metresPerPixel * kGridLineSpacing;
  if (!Finite(least) || !(least > 0)) return 1;
  double decade = std::pow(10.0, std::floor(std::log10(least)));
  for (;; decade *= 10)
    for (const double m : {1.0, 2.0, 5.0})
      if (m * decade >= least * (1 - 1e-12)) return m * decade;
}

double GraticuleStepFor(double degreesPerPixel) {
  static constexpr double kSeconds[] = {1,   2,   5,    10,   15,   30,    60,    120,
                                        300, 600, 900, 1800, 3600, 7200, 18000, 36000};
  const double least = degreesPerPixel * kGridLineSpacing * 3600;
  for (const double s : kSeconds)
    if (s >= least) return s / 3600;
  return 10;
}

std::string GridValueLabel(double metres, double step) {
  int decimals = 0;
  for (double s = step; s < 1000 - 1e-9 && decimals < 3; s *= 10) ++decimals;
  const double scale = std::pow(10.0, decimals);
  const long long units = std::llround(metres / 1000 * scale);
  const long long whole = units / static_cast<long long>(scale);
  std::string text = Grouped(whole);
  if (whole == 0 && units < 0) text = "-0";
  if (decimals > 0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, ".%0*lld", decimals, std::llabs(units) % static_cast<long long>(scale));
    text += buf;
  }
  return text + " km";
}

std::string LatitudeLabel(double degrees, double step) { return DegreesText(degrees, step, 'N', 'S'); }

std::string LongitudeLabel(double degrees, double step) { return DegreesText(degrees, step, 'E', 'W'); }

TMapGrid MakeMapGrid(const TCalibrationFit& fit, const TOverlayViewport& viewport, double pictureWidth,
                     double pictureHeight) {
  TMapGrid grid;
  if (!fit.Valid() || !(viewport.Scale > 0) || viewport.Width <= 0 || viewport.Height <= 0) return grid;
  const TFrame frame = PictureFrame(viewport, pictureWidth, pictureHeight);
  if (!(frame.Width() >= 1 && frame.Height() >= 1)) return grid;
  if (fit.Projection() && fit.Projection()->Projected()) AddProjectedGrid(fit, viewport, frame, grid);
  AddGraticule(fit, viewport, frame, grid);
  return grid;
}

TMapGrid MovedGrid(const TMapGrid& grid, double dx, double dy, const TOverlayViewport& viewport, double pictureWidth,
                   double pictureHeight) {
  TMapGrid moved{grid.GridStep, grid.GraticuleStep, {}};
  const TFrame frame = PictureFrame(viewport, pictureWidth, pictureHeight);
  if (!(frame.Width() >= 1 && frame.Height() >= 1)) return moved;
  for (TGridLine line : grid.Lines) {
    for (TCanvasPoint& p : line.Points) p = {p.X + dx, p.Y + dy};
    line.Labelled = false;
    AddClipped(std::move(line), frame, moved.Lines);
  }
  return moved;
}

void TGridOverlay::Paint(TCanvas& canvas, const TMapArea& area, const TOverlayViewport& viewport) {
  const std::shared_ptr<const TCalibrationFit> fit = area.Fit();
  if (!fit->Valid()) {
    reason_ = msg::GridNeedsFit(fit->Problem());
    return;
  }
  reason_.clear();
  // The grid is made for twice the view around it, so that scrolling moves
  // what was made instead of projecting it all again.
  const double pictureLeft = viewport.ToPictureX(0), pictureTop = viewport.ToPictureY(0);
  const double pictureRight = viewport.ToPictureX(viewport.Width), pictureBottom = viewport.ToPictureY(viewport.Height);
  const bool inside = pictureLeft >= made_.ToPictureX(0) && pictureTop >= made_.ToPictureY(0) &&
                      pictureRight <= made_.ToPictureX(made_.Width) && pictureBottom <= made_.ToPictureY(made_.Height);
  if (fit != fit_ || viewport.Scale != made_.Scale || !inside || area.Width != width_ || area.Height != height_) {
    width_ = area.Width;
    height_ = area.Height;
    fit_ = fit;
    made_ = {viewport.Scale, viewport.OffsetX - viewport.Width / 2.0, viewport.OffsetY - viewport.Height / 2.0,
             viewport.Width * 2, viewport.Height * 2};
    made_.OffsetX = std::floor(made_.OffsetX), made_.OffsetY = std::floor(made_.OffsetY);
    grid_ = MakeMapGrid(*fit, made_, area.Width, area.Height);
  }
  const TMapGrid shown = MovedGrid(grid_, made_.OffsetX - viewport.OffsetX, made_.OffsetY - viewport.OffsetY, viewport,
                                   area.Width, area.Height);
  for (const TGridLine& line : shown.Lines) {
    const bool graticule = line.Kind == TGridLineKind::Meridian || line.Kind == TGridLineKind::Parallel;
    canvas.Polyline(line.Points, graticule ? kGraticuleColour : kGridColour, 1);
  }
  for (const TGridLine& line : shown.Lines) {
    const bool graticule = line.Kind == TGridLineKind::Meridian || line.Kind == TGridLineKind::Parallel;
    if (line.Labelled)
      canvas.Label(line.LabelAt.X, line.LabelAt.Y, line.Anchor, line.Label, graticule ? kGraticuleColour : kGridColour);
  }
}

} // namespace zv
