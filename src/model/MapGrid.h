// The grid drawn over a calibrated map: the round eastings and northings of
// the map's projected plane, and the parallels and meridians of WGS 84, as
// lines in the view's pixels through the map's fit.
#pragma once

#include "codecs/Canvas.h"
#include "model/MapOverlay.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zv {

class TCalibrationFit;

enum class TGridLineKind : std::uint8_t { Easting, Northing, Meridian, Parallel };

struct TGridLine {
  TGridLineKind Kind = TGridLineKind::Easting;
  double Value = 0; // metres, or degrees (east and north positive)
  // In view pixels, at most kGridPointSpacing apart inside the view.
  std::vector<TCanvasPoint> Points;
  // Where the line meets the view's edge; no label when it meets none.
  bool Labelled = false;
  TCanvasPoint LabelAt;
  TLabelAnchor Anchor = TLabelAnchor::TopCentre;
  std::string Label;
};

struct TMapGrid {
  double GridStep = 0;      // metres between grid lines; 0 without them
  double GraticuleStep = 0; // degrees between parallels and meridians; 0 without them
  std::vector<TGridLine> Lines;
};

// Lines at least this many view pixels apart, drawn through points at most
// this far apart.
inline constexpr double kGridLineSpacing = 80;
inline constexpr double kGridPointSpacing = 16;

// The smallest step of 1, 2 or 5 × 10^n metres that leaves kGridLineSpacing
// view pixels between lines, at metresPerPixel.
double GridStepFor(double metresPerPixel);
// The same among 1", 2", 5", 10", 15", 30", 1', 2', 5', 10', 15', 30', 1°,
// 2°, 5° and 10° (never more than 10°).
double GraticuleStepFor(double degreesPerPixel);

// "5 483 km", "612.5 km": a grid value in kilometres with as many decimals
// as the step needs, thousands apart.
std::string GridValueLabel(double metres, double step);
// "49°30'N", "17°E", "70°30'15\"W": to the step's precision.
std::string LatitudeLabel(double degrees, double step);
std::string LongitudeLabel(double degrees, double step);

// The lines of fit's map where its picture (of pictureWidth × pictureHeight
// pixels) shows in viewport: the projected grid when the map has a
// projected plane, the parallels and meridians whenever it has a fit. A
// line that leaves the picture and comes back is two lines.
TMapGrid MakeMapGrid(const TCalibrationFit& fit, const TOverlayViewport& viewport, double pictureWidth,
                     double pictureHeight);

// grid, made for a view, moved by (dx, dy) view pixels and cut to the
// picture's part of viewport, its labels placed at that part's edges.
TMapGrid MovedGrid(const TMapGrid& grid, double dx, double dy, const TOverlayViewport& viewport, double pictureWidth,
                   double pictureHeight);

// The grid as an overlay, in two colours: grid lines magenta, parallels and
// meridians blue. A map without a fit shows nothing (NoFitReason says why).
class TGridOverlay : public TMapOverlay {
public:
  void Paint(TCanvas& canvas, const TMapArea& area, const TOverlayViewport& viewport) override;
  // Why the last map painted showed no grid; empty when it showed one.
  const std::string& NoFitReason() const { return reason_; }

private:
  // The last grid made, and the view it was made for: repaints and scrolls
  // within it cost no projection.
  std::shared_ptr<const TCalibrationFit> fit_;
  TOverlayViewport made_{0, 0, 0, 0, 0};
  std::int32_t width_ = 0, height_ = 0;
  TMapGrid grid_;
  std::string reason_;
};

} // namespace zv
