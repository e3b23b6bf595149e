#pragma once

#include "codecs/Canvas.h"

#include <QFont>
#include <QSize>

class QPainter;

namespace zv {

// The map model's drawing operations over a QPainter on the view's back
// buffer. A rectangle copy draws only the part that lands inside the target,
// straight from the bitmap's own memory where Qt has a matching format.
class TQtCanvas : public TCanvas {
public:
  // font: the face of the calibration numbers; TextOut sets its size.
  TQtCanvas(QPainter& painter, QSize target, const QFont& font);

  void CopyRect(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h) override;
  void FrameRect(int left, int top, int right, int bottom, Rgb colour) override;
  void SetPixel(int x, int y, Rgb colour) override;
  void Ellipse(int left, int top, int right, int bottom, Rgb pen, int penWidth) override;
  void TextOut(int x, int y, const std::string& text, Rgb colour, int pointSize) override;

private:
  QPainter& painter_;
  QSize target_;
  QFont font_;
};

} // namespace zv
