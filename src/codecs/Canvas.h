#pragma once

#include "codecs/Bitmap.h"

#include <string>

namespace zv {

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
  // One-pixel outline of the rectangle [left, right) x [top, bottom).
  virtual void FrameRect(int left, int top, int right, int bottom, Rgb colour) = 0;
  virtual void SetPixel(int x, int y, Rgb colour) = 0;
  // Outlined ellipse in the bounding box [left, right) x [top, bottom).
  virtual void Ellipse(int left, int top, int right, int bottom, Rgb pen, int penWidth) = 0;
  // Text with its top-left corner at (x, y), transparent background.
  virtual void TextOut(int x, int y, const std::string& text, Rgb colour, int pointSize) = 0;
};

// What ScaledCopy draws inside a target of targetWidth × targetHeight, as a
// 24-bit bitmap to copy unscaled to (*x, *y); empty when nothing shows. Only
// that part is made, whatever the zoom.
Bitmap ScaledPart(const Bitmap& src, int sx, int sy, int w, int h, int zoom, int dx, int dy, int targetWidth,
                  int targetHeight, int* x, int* y);

// A canvas over a Bitmap. Only the operations export needs draw anything real
// (rectangle copy, frame, pixel); ellipses and text are drawn by the desktop
// view's own canvas.
class BitmapCanvas : public TCanvas {
public:
  explicit BitmapCanvas(Bitmap& target) : target_(target) {}
  void CopyRect(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h) override;
  void ScaledCopy(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h, int zoom) override;
  void FrameRect(int left, int top, int right, int bottom, Rgb colour) override;
  void SetPixel(int x, int y, Rgb colour) override;
  void Ellipse(int left, int top, int right, int bottom, Rgb pen, int penWidth) override;
  void TextOut(int x, int y, const std::string& text, Rgb colour, int pointSize) override;

private:
  Bitmap& target_;
};

} // namespace zv
