#pragma once

#include "codecs/Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zv {

// A point on a canvas, in its pixels; fractions for lines drawn between them.
struct TCanvasPoint {
  double X = 0;
  double Y = 0;
};

// How a copy at a factor that is no power of two picks its pixels: on each
// axis, target pixel t shows the source pixel under its top-left corner,
// floor((t + Offset) * StepNum / StepDen), StepNum / StepDen source pixels
// making one target pixel. (The corner, as picking takes it; every target
// pixel of the scaled side, rounded up, then shows a source pixel.)
struct TSampling {
  std::int64_t StepNum = 1;
  std::int64_t StepDen = 1;
  std::int64_t OffsetX = 0;
  std::int64_t OffsetY = 0;

  std::int64_t Source(std::int64_t t, std::int64_t offset) const;
  // The first target pixel that shows source pixel s or one after it.
  std::int64_t FirstTarget(std::int64_t s, std::int64_t offset) const;
};

// Where a label lies from its anchor point: the anchor is its top-left
// corner, or the middle of its top edge, and so on.
enum class TLabelAnchor : std::uint8_t { TopLeft, TopCentre, BottomCentre, MiddleLeft, MiddleRight };

// The drawing operations the map model needs. The desktop view implements it
// over its back buffer; export draws through a BitmapCanvas.
class TCanvas {
public:
  virtual ~TCanvas() = default;
  // Unscaled copy of src's rectangle (sx, sy, w, h) to (dx, dy), clipped.
  virtual void CopyRect(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h) = 0;
  // Copy of src's rectangle (sx, sy, w, h) at a zoom, its top-left corner at
  // (dx, dy), clipped: each source pixel a 2^zoom square (zoom > 0), or each
  // target pixel the source pixel at its top-left corner, every 2^-zoom
  // pixels (zoom < 0). Zoom 0 is CopyRect.
  virtual void ScaledCopy(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h, int zoom) = 0;
  // Copy of src, whose top-left pixel is source pixel (left, top), sampled
  // as sampling says: the target pixels that show one of its pixels, clipped.
  virtual void SampledCopy(const Bitmap& src, std::int64_t left, std::int64_t top, const TSampling& sampling) = 0;
  // One-pixel outline of the rectangle [left, right) x [top, bottom).
  virtual void FrameRect(int left, int top, int right, int bottom, Rgb colour) = 0;
  virtual void SetPixel(int x, int y, Rgb colour) = 0;
  // Outlined ellipse in the bounding box [left, right) x [top, bottom).
  virtual void Ellipse(int left, int top, int right, int bottom, Rgb pen, int penWidth) = 0;
  // Text with its top-left corner at (x, y), transparent background.
  virtual void TextOut(int x, int y, const std::string& text, Rgb colour, int pointSize) = 0;
  // Lines through the points in turn, penWidth pixels wide, on a light halo
  // that keeps them visible on any picture; clipped.
  virtual void Polyline(const std::vector<TCanvasPoint>& points, Rgb colour, int penWidth) = 0;
  // A short text on a light box, placed by anchor at (x, y); clipped.
  virtual void Label(double x, double y, TLabelAnchor anchor, const std::string& text, Rgb colour) = 0;
};

// What ScaledCopy draws inside a target of targetWidth × targetHeight, as a
// 24-bit bitmap to copy unscaled to (*x, *y); empty when nothing shows. Only
// that part is made, whatever the zoom.
Bitmap ScaledPart(const Bitmap& src, int sx, int sy, int w, int h, int zoom, int dx, int dy, int targetWidth,
                  int targetHeight, int* x, int* y);

// What SampledCopy draws inside a target of targetWidth × targetHeight, as a
// 24-bit bitmap to copy unscaled to (*x, *y); empty when nothing shows.
Bitmap SampledPart(const Bitmap& src, std::int64_t left, std::int64_t top, const TSampling& sampling,
                   int targetWidth, int targetHeight, int* x, int* y);
// The target rectangle [*x0, *x1) × [*y0, *y1) that shows a part of a
// source of w × h pixels at (left, top), cut to the target; false when empty.
bool SampledTargetRect(const TSampling& sampling, std::int64_t left, std::int64_t top, int w, int h,
                       int targetWidth, int targetHeight, int* x0, int* y0, int* x1, int* y1);

// A canvas over a Bitmap. The operations export needs draw exactly; lines are
// drawn without their halo, one pixel per step along them; ellipses are the
// pixels whose centres lie in the ring; text is digits of 3 × 5 dots (other
// characters a frame of their cell), with no font needed; labels are not drawn.
class BitmapCanvas : public TCanvas {
public:
  explicit BitmapCanvas(Bitmap& target) : target_(target) {}
  void CopyRect(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h) override;
  void ScaledCopy(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h, int zoom) override;
  void SampledCopy(const Bitmap& src, std::int64_t left, std::int64_t top, const TSampling& sampling) override;
  void FrameRect(int left, int top, int right, int bottom, Rgb colour) override;
  void SetPixel(int x, int y, Rgb colour) override;
  void Ellipse(int left, int top, int right, int bottom, Rgb pen, int penWidth) override;
  void TextOut(int x, int y, const std::string& text, Rgb colour, int pointSize) override;
  void Polyline(const std::vector<TCanvasPoint>& points, Rgb colour, int penWidth) override;
  void Label(double x, double y, TLabelAnchor anchor, const std::string& text, Rgb colour) override;

private:
  Bitmap& target_;
};

} // namespace zv
