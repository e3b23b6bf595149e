// Calibrating a sheet by its four frame corners, clicked in turn: the order
// they are asked for, where the last two should be once two are known, and
// moving a click onto a frame corner found on the picture near it.
#pragma once

#include "model/CalibrationPoint.h"
#include "model/SheetCalibration.h"

#include <optional>
#include <string>
#include <vector>

namespace zv {

// How far from a click, in screen pixels, a found frame corner takes it over.
inline constexpr double kCornerSnapScreenPixels = 12;

struct TSnappedClick {
  TPixelCorner At;
  bool Snapped = false;
};

// The found corner nearest to (x, y) when it lies within
// kCornerSnapScreenPixels on the screen at zoom (screen pixels per picture
// pixel); the click as it is otherwise, or when keep is set.
TSnappedClick SnapToFrameCorner(double x, double y, const std::vector<TPixelCorner>& found, double zoom, bool keep);

// The sheet's datum, "Map Projection" and "Projection Setup" lines put into
// a .map's lines in place of theirs; lines lacking any of them become the
// whole of SheetMapLines with the points of corners.
void WriteSheetPlane(std::vector<std::string>& lines, const TSheet& sheet, const TFrameCorners& corners,
                     const std::string& title, const std::string& image, int width, int height);

class TSheetCornerPick {
public:
  explicit TSheetCornerPick(TSheet sheet);

  const TSheet& Sheet() const { return sheet_; }
  // The corner asked for next (0 north-west .. 3 south-west); 4 when done.
  int Next() const { return next_; }
  bool Done() const { return next_ >= 4; }
  // The next corner takes (x, y).
  void Take(TPixelCorner at);
  // Where the corner should lie on the picture: once two corners are
  // taken, the sheet's shape, turned and scaled onto them, places the
  // others. Empty before that, or for a corner already taken.
  std::optional<TPixelCorner> Predicted(int corner) const;
  // The four taken corners as calibration points with their latitudes and
  // longitudes (west of 180° as the file writes them).
  std::vector<TCalibrationPoint> Points() const;
  const TFrameCorners& Corners() const { return corners_; }

private:
  // The corner's place on a local plane of the sheet: east and north in
  // degrees of latitude, meridians converging as on the ground.
  TPixelCorner Local(int corner) const;

  TSheet sheet_;
  TFrameCorners corners_{};
  int next_ = 0;
};

} // namespace zv
