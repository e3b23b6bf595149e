#include "export/Reprojection.h"

#include "model/CalibrationFit.h"
#include "model/MapModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace zv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kEarthRadius = 6378137.0; // WGS 84 semi-major axis, as Web Mercator takes it
// The coarsest grid of exact positions, and how far an interpolated one may lie from exact.
constexpr int kGridStep = 16;
constexpr double kInterpolationTolerance = 0.125;

// Exact picture positions on grid nodes every Step output pixels; Ok false
// where a node has none.
struct TGrid {
  int Step = kGridStep;
  int Nx = 0, Ny = 0;
  std::vector<double> X, Y;
  std::vector<char> Ok;
  std::size_t At(int i, int j) const { return static_cast<std::size_t>(j) * Nx + i; }
};

} // namespace

TMercatorPlane::TMercatorPlane(int zoom) : size_(256.0 * std::ldexp(1.0, zoom)) {}

bool TMercatorPlane::ToLatLon(double x, double y, double& lat, double& lon) const {
  lon = x / size_ * 360.0 - 180.0;
  lat = std::atan(std::sinh(kPi * (1 - 2 * y / size_))) * 180.0 / kPi;
  return std::isfinite(lat) && std::isfinite(lon);
}

void TMercatorPlane::FromLatLon(double lat, double lon, double& x, double& y) const {
  const double phi = std::clamp(lat, -85.0511287798, 85.0511287798) * kPi / 180.0;
  x = (lon + 180.0) / 360.0 * size_;
  y = (1 - std::log(std::tan(phi) + 1 / std::cos(phi)) / kPi) / 2 * size_;
}

bool TLatLonPlane::ToLatLon(double x, double y, double& lat, double& lon) const {
  lon = west_ + x * dlon_;
  lat = north_ - y * dlat_;
  return true;
}

void TLatLonPlane::FromLatLon(double lat, double lon, double& x, double& y) const {
  x = (lon - west_) / dlon_;
  y = (north_ - lat) / dlat_;
}

// The picture's pixels as the area's images hold them: later images over
// earlier ones, as painting puts them; black where no image lies.
struct TMapSource::TSampler {
  static constexpr int kCell = 256;
  const TMapArea& Area;
  const Bitmap* Whole = nullptr; // one image covering the whole picture
  bool WholeIndexed = false;      // and 8 bits a pixel
  std::array<std::array<float, 3>, 256> Colours{}; // its palette; black past its end
  int Cols = 0;
  std::vector<std::vector<std::uint32_t>> Cells; // images meeting each cell, in painting order

  explicit TSampler(const TMapArea& area) : Area(area) {
    const auto& images = area.Images;
    if (images.size() == 1 && images[0]->X == 0 && images[0]->Y == 0 && images[0]->Width() >= area.Width &&
        images[0]->Height() >= area.Height) {
      Whole = &images[0]->Bitmap;
      WholeIndexed = Whole->Format() == PixelFormat::pf8bit;
      for (std::size_t i = 0; i < Whole->Palette().size() && i < Colours.size(); ++i)
        Colours[i] = {float(Whole->Palette()[i].r), float(Whole->Palette()[i].g), float(Whole->Palette()[i].b)};
      return;
    }
    Cols = (area.Width + kCell - 1) / kCell;
    const int rows = (area.Height + kCell - 1) / kCell;
    Cells.resize(static_cast<std::size_t>(Cols) * rows);
    for (std::uint32_t n = 0; n < images.size(); ++n) {
      const TMapImage& im = *images[n];
      const int c0 = std::max(0, im.X / kCell), c1 = std::min(Cols - 1, (im.X + im.Width() - 1) / kCell);
      const int r0 = std::max(0, im.Y / kCell), r1 = std::min(rows - 1, (im.Y + im.Height() - 1) / kCell);
      for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c) Cells[static_cast<std::size_t>(r) * Cols + c].push_back(n);
    }
  }

  static void Read(const Bitmap& b, int x, int y, float* rgb) {
    if (b.Format() == PixelFormat::pf24bit) {
      const std::uint8_t* p = b.Row(y) + 3 * x;
      rgb[0] = p[0], rgb[1] = p[1], rgb[2] = p[2];
      return;
    }
    const Rgb c = b.Pixel(x, y);
    rgb[0] = c.r, rgb[1] = c.g, rgb[2] = c.b;
  }

  void Fetch(int x, int y, float* rgb) const {
    if (WholeIndexed) {
      // A scan decoded to 256 colours: its colours looked up, not converted per pixel.
      const float* c = Colours[Whole->Row(y)[x]].data();
      rgb[0] = c[0], rgb[1] = c[1], rgb[2] = c[2];
      return;
    }
    if (Whole) return Read(*Whole, x, y, rgb);
    const auto& cell = Cells[static_cast<std::size_t>(y / kCell) * Cols + x / kCell];
    for (auto it = cell.rbegin(); it != cell.rend(); ++it) {
      const TMapImage& im = *Area.Images[*it];
      if (x >= im.X && y >= im.Y && x - im.X < im.Width() && y - im.Y < im.Height())
        return Read(im.Bitmap, x - im.X, y - im.Y, rgb);
    }
    rgb[0] = rgb[1] = rgb[2] = 0;
  }

  // Bilinear, at a position whose pixel centres are at +0.5; edges repeat.
  void Sample(double px, double py, int width, int height, std::uint8_t* out) const {
    const double u = px - 0.5, v = py - 0.5;
    const double fu = std::floor(u), fv = std::floor(v);
    const float fx = static_cast<float>(u - fu), fy = static_cast<float>(v - fv);
    const int x0 = std::clamp(static_cast<int>(fu), 0, width - 1), x1 = std::min(std::max(static_cast<int>(fu) + 1, 0), width - 1);
    const int y0 = std::clamp(static_cast<int>(fv), 0, height - 1), y1 = std::min(std::max(static_cast<int>(fv) + 1, 0), height - 1);
    float a[3], b[3], c[3], d[3];
    Fetch(x0, y0, a);
    Fetch(x1, y0, b);
    Fetch(x0, y1, c);
    Fetch(x1, y1, d);
    for (int k = 0; k < 3; ++k) {
      const float top = a[k] + (b[k] - a[k]) * fx, bottom = c[k] + (d[k] - c[k]) * fx;
      out[k] = static_cast<std::uint8_t>(std::clamp(top + (bottom - top) * fy + 0.5f, 0.0f, 255.0f));
    }
    out[3] = 255;
  }
};

TMapSource::TMapSource(const TMapArea& area, bool crop)
    : fit_(area.Fit()), width_(area.Width), height_(area.Height) {
  valid_ = fit_ && fit_->Valid() && width_ > 0 && height_ > 0 && !area.Images.empty();
  if (!valid_) return;
  sampler_ = std::make_unique<TSampler>(area);
  if (crop) border_ = MapBorderPolygon(area);
  MeasureBox();
}

TMapSource::~TMapSource() = default;

void TMapSource::MeasureBox() {
  std::vector<TPicturePoint> outline = border_;
  if (outline.empty())
    outline = {{0, 0}, {double(width_), 0}, {double(width_), double(height_)}, {0, double(height_)}};
  // The outline's edges in 64 steps each: a projected map's edges are curves
  // in latitude and longitude.
  constexpr int kSteps = 64;
  west_ = south_ = 1e9;
  east_ = north_ = -1e9;
  for (std::size_t i = 0; i < outline.size(); ++i) {
    const TPicturePoint& a = outline[i];
    const TPicturePoint& b = outline[(i + 1) % outline.size()];
    for (int s = 0; s < kSteps; ++s) {
      double lat = 0, lon = 0;
      const double t = double(s) / kSteps;
      if (!fit_->PixelToLatLon(a.X + (b.X - a.X) * t, a.Y + (b.Y - a.Y) * t, lat, lon)) continue;
      west_ = std::min(west_, lon), east_ = std::max(east_, lon);
      south_ = std::min(south_, lat), north_ = std::max(north_, lat);
    }
  }
  double lat0 = 0, lon0 = 0, lat1 = 0, lon1 = 0, lat2 = 0, lon2 = 0;
  const double cx = width_ / 2.0, cy = height_ / 2.0;
  valid_ = west_ <= east_ && fit_->PixelToLatLon(cx, cy, lat0, lon0) && fit_->PixelToLatLon(cx + 1, cy, lat1, lon1) &&
           fit_->PixelToLatLon(cx, cy + 1, lat2, lon2);
  if (!valid_) return;
  const double k = kEarthRadius * kPi / 180.0, c = std::cos(lat0 * kPi / 180.0);
  pixelMetres_ = std::min(std::hypot((lon1 - lon0) * c * k, (lat1 - lat0) * k),
                          std::hypot((lon2 - lon0) * c * k, (lat2 - lat0) * k));
  valid_ = pixelMetres_ > 0 && std::isfinite(pixelMetres_);
}

bool TMapSource::PictureAt(const TOutputPlane& plane, double x, double y, double& px, double& py) const {
  double lat = 0, lon = 0;
  return plane.ToLatLon(x + 0.5, y + 0.5, lat, lon) && fit_->LatLonToPixel(lat, lon, px, py);
}

namespace {

// Fills the grid's nodes at its step; false when some cell's centre lies
// further than the tolerance from the interpolation of its corners.
template <typename Exact> bool FillGrid(TGrid& g, int left, int top, int w, int h, const Exact& exact) {
  g.Nx = (w - 1 + g.Step - 1) / g.Step + 1;
  g.Ny = (h - 1 + g.Step - 1) / g.Step + 1;
  const std::size_t n = static_cast<std::size_t>(g.Nx) * g.Ny;
  g.X.assign(n, 0), g.Y.assign(n, 0), g.Ok.assign(n, 0);
  for (int j = 0; j < g.Ny; ++j)
    for (int i = 0; i < g.Nx; ++i)
      g.Ok[g.At(i, j)] = exact(left + i * g.Step, top + j * g.Step, g.X[g.At(i, j)], g.Y[g.At(i, j)]);
  if (g.Step == 1) return true;
  const double half = g.Step / 2.0;
  for (int j = 0; j + 1 < g.Ny; ++j)
    for (int i = 0; i + 1 < g.Nx; ++i) {
      const std::size_t c[4] = {g.At(i, j), g.At(i + 1, j), g.At(i, j + 1), g.At(i + 1, j + 1)};
      if (!(g.Ok[c[0]] && g.Ok[c[1]] && g.Ok[c[2]] && g.Ok[c[3]])) continue;
      double x = 0, y = 0;
      if (!exact(left + i * g.Step + half, top + j * g.Step + half, x, y)) continue;
      const double ix = (g.X[c[0]] + g.X[c[1]] + g.X[c[2]] + g.X[c[3]]) / 4;
      const double iy = (g.Y[c[0]] + g.Y[c[1]] + g.Y[c[2]] + g.Y[c[3]]) / 4;
      if (std::abs(ix - x) > kInterpolationTolerance || std::abs(iy - y) > kInterpolationTolerance) return false;
    }
  return true;
}

} // namespace

void TMapSource::DrawOver(const TOutputPlane& plane, int left, int top, TRgbaTile& tile) const {
  if (!valid_) return;
  const auto exact = [&](double x, double y, double& px, double& py) { return PictureAt(plane, x, y, px, py); };
  TGrid g;
  while (!FillGrid(g, left, top, tile.Width(), tile.Height(), exact)) g.Step /= 2;
  // Interpolated positions stay within the nodes' box: when that lies inside
  // the border, no pixel needs the polygon test.
  const bool allOk = std::all_of(g.Ok.begin(), g.Ok.end(), [](char ok) { return ok != 0; });
  const auto [xMin, xMax] = std::minmax_element(g.X.begin(), g.X.end());
  const auto [yMin, yMax] = std::minmax_element(g.Y.begin(), g.Y.end());
  const bool borderTest =
      !border_.empty() && !(allOk && RectInsidePolygon(border_, *xMin - 1, *yMin - 1, *xMax + 1, *yMax + 1));
  const double s = g.Step;
  for (int y = 0; y < tile.Height(); ++y) {
    const int j = y / g.Step;
    const double fy = (y - j * s) / s;
    std::uint8_t* out = tile.Row(y);
    for (int x = 0; x < tile.Width(); ++x, out += 4) {
      const int i = x / g.Step;
      const double fx = (x - i * s) / s;
      const std::size_t c[4] = {g.At(i, j), g.At(i + 1 < g.Nx ? i + 1 : i, j), g.At(i, j + 1 < g.Ny ? j + 1 : j),
                                g.At(i + 1 < g.Nx ? i + 1 : i, j + 1 < g.Ny ? j + 1 : j)};
      double px = 0, py = 0;
      if (g.Ok[c[0]] && g.Ok[c[1]] && g.Ok[c[2]] && g.Ok[c[3]]) {
        const double tx = g.X[c[0]] + (g.X[c[1]] - g.X[c[0]]) * fx, bx = g.X[c[2]] + (g.X[c[3]] - g.X[c[2]]) * fx;
        const double ty = g.Y[c[0]] + (g.Y[c[1]] - g.Y[c[0]]) * fx, by = g.Y[c[2]] + (g.Y[c[3]] - g.Y[c[2]]) * fx;
        px = tx + (bx - tx) * fy, py = ty + (by - ty) * fy;
      } else if (!PictureAt(plane, left + x, top + y, px, py)) {
        continue;
      }
      if (!(px >= 0 && py >= 0 && px < width_ && py < height_)) continue;
      if (borderTest && !InsidePolygon(border_, px, py)) continue;
      sampler_->Sample(px, py, width_, height_, out);
    }
  }
}

} // namespace zv
