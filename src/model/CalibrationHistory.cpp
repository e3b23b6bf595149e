#include "model/CalibrationHistory.h"

namespace zv {

bool SamePoints(const std::vector<TCalibrationPoint>& a, const std::vector<TCalibrationPoint>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const TCalibrationPoint& p = a[i];
    const TCalibrationPoint& q = b[i];
    if (p.X != q.X || p.Y != q.Y || p.Lat != q.Lat || p.Lon != q.Lon || p.HasLatLon != q.HasLatLon ||
        p.HasGrid != q.HasGrid || p.GridZone != q.GridZone || p.GridSouth != q.GridSouth ||
        p.Easting != q.Easting || p.Northing != q.Northing)
      return false;
  }
  return true;
}

TCalibrationHistory::TCalibrationHistory(TCalibrationState initial) { states_.push_back(std::move(initial)); }

void TCalibrationHistory::Push(const TCalibrationState& after) {
  if (SamePoints(after.Points, states_[at_].Points) && SamePlane(after.Plane, states_[at_].Plane)) return;
  states_.resize(at_ + 1);
  states_.push_back(after);
  if (states_.size() > kMaxChanges + 1) states_.erase(states_.begin());
  at_ = states_.size() - 1;
}

const TCalibrationState& TCalibrationHistory::Undo() {
  if (CanUndo()) --at_;
  return states_[at_];
}

const TCalibrationState& TCalibrationHistory::Redo() {
  if (CanRedo()) ++at_;
  return states_[at_];
}

} // namespace zv
