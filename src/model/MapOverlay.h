// What the view draws over a map after its picture: calibration marks, the
// grid, and whatever comes later (tracks, waypoints). Each is one class
// behind this interface, registered with the view.
#pragma once

#include <cmath>

namespace zv {

class TCanvas;
class TMapArea;

// How picture coordinates land on the view's canvas: a picture point (x, y)
// is drawn at (x * Scale - OffsetX, y * Scale - OffsetY), in a canvas of
// Width × Height pixels.
struct TOverlayViewport {
  double Scale = 1;
  double OffsetX = 0;
  double OffsetY = 0;
  int Width = 0;
  int Height = 0;

  double ToViewX(double x) const { return x * Scale - OffsetX; }
  double ToViewY(double y) const { return y * Scale - OffsetY; }
  double ToPictureX(double x) const { return (x + OffsetX) / Scale; }
  double ToPictureY(double y) const { return (y + OffsetY) / Scale; }
};

class TMapOverlay {
public:
  virtual ~TMapOverlay() = default;
  // Draws over area's picture, which the view shows through viewport.
  virtual void Paint(TCanvas& canvas, const TMapArea& area, const TOverlayViewport& viewport) = 0;
};

// The calibration points' numbered red rings, the same size at every zoom.
class TCalibrationMarks : public TMapOverlay {
public:
  void Paint(TCanvas& canvas, const TMapArea& area, const TOverlayViewport& viewport) override;
};

} // namespace zv
