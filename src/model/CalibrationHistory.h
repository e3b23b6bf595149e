// Undo and redo of a map's calibration: the states its points and plane went
// through, one per change. Undoing back to the state last saved makes the
// map unchanged again by itself, since "changed" compares with SavedPoints
// and SavedPlane.
#pragma once

#include "model/CalibrationPoint.h"
#include "model/ProjectionLines.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace zv {

struct TCalibrationState {
  // Not explicit: a point list alone is a state in WGS 84 latitude and longitude.
  TCalibrationState(std::vector<TCalibrationPoint> points = {}, TPlaneChoice plane = {})
      : Points(std::move(points)), Plane(std::move(plane)) {}
  std::vector<TCalibrationPoint> Points;
  TPlaneChoice Plane;
};

class TCalibrationHistory {
public:
  // The oldest changes go beyond this many.
  static constexpr std::size_t kMaxChanges = 500;

  explicit TCalibrationHistory(TCalibrationState initial);

  // The map became `after`; the states after the current one (what Redo
  // would bring back) go. Nothing happens when it is what it was.
  void Push(const TCalibrationState& after);
  bool CanUndo() const { return at_ > 0; }
  bool CanRedo() const { return at_ + 1 < states_.size(); }
  // The state to put back; the history stays where it is when there is none.
  const TCalibrationState& Undo();
  const TCalibrationState& Redo();
  const TCalibrationState& Current() const { return states_[at_]; }

private:
  std::vector<TCalibrationState> states_;
  std::size_t at_ = 0;
};

// Whether two point lists are the same, the fields the file does not show included.
bool SamePoints(const std::vector<TCalibrationPoint>& a, const std::vector<TCalibrationPoint>& b);

} // namespace zv
