#pragma once

#include "codecs/Canvas.h"

#include <QFont>
#include <QImage>
#include <QRgb>
#include <QSize>

class QPainter;

namespace zv {

// The map model's drawing operations over a QPainter on the view's back
// buffer. A rectangle copy touches only the part that lands inside the
// target and reads the bitmap's rows where they are: into a 32-bit target it
// writes the pixels itself; otherwise it lets the painter draw a QImage that
// shares the bitmap's memory (4-bit rows, which Qt cannot read, are unpacked
// for the visible part only).
class TQtCanvas : public TCanvas {
public:
  // painter is active on target. font: the face of the calibration numbers;
  // TextOut sets its size.
  TQtCanvas(QPainter& painter, QImage& target, const QFont& font);

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
  // One segment of a line with its halo, written into a 32-bit target's rows.
  void DrawSegment(TCanvasPoint a, TCanvasPoint b, QRgb ink, int penWidth, bool joined);
  // ScaledCopy above 1 into a 32-bit target: written straight into its rows.
  void MagnifyToRgb32(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h, int zoom);

  QPainter& painter_;
  QSize target_;
  // Rows of a 32-bit target the copies may write directly, or null.
  uchar* bits_ = nullptr;
  qsizetype bytesPerLine_ = 0;
  QFont font_;
};

} // namespace zv
