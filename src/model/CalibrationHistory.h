// Undo and redo of a map's calibration points: the states the points went
// through, one per change. Undoing back to the points last saved makes the
// map unchanged again by itself, since "changed" compares with SavedPoints.
#pragma once

#include "model/CalibrationPoint.h"

#include <cstddef>
#include <vector>

namespace zv {

class TCalibrationHistory {
public:
  // The oldest changes go beyond this many.
  static constexpr std::size_t kMaxChanges = 500;

  explicit TCalibrationHistory(std::vector<TCalibrationPoint> initial);

  // The points became `after`; the states after the current one (what Redo
  // would bring back) go. Nothing happens when they are what they were.
  void Push(const std::vector<TCalibrationPoint>& after);
  bool CanUndo() const { return at_ > 0; }
  bool CanRedo() const { return at_ + 1 < states_.size(); }
  // The points to put back; the state stays where it is when there is none.
  const std::vector<TCalibrationPoint>& Undo();
  const std::vector<TCalibrationPoint>& Redo();
  const std::vector<TCalibrationPoint>& Current() const { return states_[at_]; }

private:
  std::vector<std::vector<TCalibrationPoint>> states_;
  std::size_t at_ = 0;
};

// Whether two point lists are the same, the fields the file does not show included.
bool SamePoints(const std::vector<TCalibrationPoint>& a, const std::vector<TCalibrationPoint>& b);

} // namespace zv
