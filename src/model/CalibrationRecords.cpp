#include "model/CalibrationRecords.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zv {

void TCalibrationRecords::Open() {
  if (Active()) return;
  listener_->BeginReset();
  rows_.clear();
  gridTyped_.clear();
  cursor_ = -1;
  modified_ = false;
  state_ = TRecordState::Browse;
  listener_->EndReset();
  listener_->StateChanged();
}

void TCalibrationRecords::Close() {
  listener_->BeginReset();
  rows_.clear();
  gridTyped_.clear();
  cursor_ = -1;
  modified_ = false;
  state_ = TRecordState::Inactive;
  listener_->EndReset();
  listener_->StateChanged();
  listener_->CursorChanged(-1);
}

void TCalibrationRecords::CheckBrowseMode() {
  if (!Editing()) return;
  if (modified_)
    Post();
  else
    Cancel();
}

void TCalibrationRecords::AddRow(int at) {
  TRow row;
  row[fNo] = static_cast<double>(rows_.size() + 1);
  listener_->BeginInsertRow(at);
  rows_.insert(rows_.begin() + at, row);
  gridTyped_.insert(gridTyped_.begin() + at, 0);
  cursor_ = at;
  state_ = TRecordState::Insert;
  // The default "No" is no edit of the user's.
  modified_ = false;
  listener_->EndInsertRow();
  listener_->IndicatorChanged(0, RowCount() - 1);
  listener_->StateChanged();
  listener_->CursorChanged(cursor_);
}

void TCalibrationRecords::RemoveRow(int row) {
  listener_->BeginRemoveRow(row);
  rows_.erase(rows_.begin() + row);
  gridTyped_.erase(gridTyped_.begin() + row);
  cursor_ = rows_.empty() ? -1 : std::min(row, RowCount() - 1);
  state_ = TRecordState::Browse;
  modified_ = false;
  listener_->EndRemoveRow();
  if (!rows_.empty()) listener_->IndicatorChanged(0, RowCount() - 1);
  listener_->StateChanged();
  listener_->CursorChanged(cursor_);
}

void TCalibrationRecords::Append() {
  if (!Active()) return;
  CheckBrowseMode();
  AddRow(RowCount());
}

void TCalibrationRecords::Insert() {
  if (!Active()) return;
  CheckBrowseMode();
  AddRow(cursor_ < 0 ? 0 : cursor_);
}

void TCalibrationRecords::Edit() {
  if (state_ != TRecordState::Browse || cursor_ < 0) return;
  backup_ = rows_[static_cast<std::size_t>(cursor_)];
  backupGrid_ = gridTyped_[static_cast<std::size_t>(cursor_)];
  modified_ = false;
  SetState(TRecordState::Edit);
}

void TCalibrationRecords::Post() {
  if (!Editing()) return;
  modified_ = false;
  SetState(TRecordState::Browse);
  listener_->AfterPost();
}

void TCalibrationRecords::Cancel() {
  if (state_ == TRecordState::Edit) {
    rows_[static_cast<std::size_t>(cursor_)] = backup_;
    gridTyped_[static_cast<std::size_t>(cursor_)] = backupGrid_;
    modified_ = false;
    listener_->CellsChanged(cursor_, 0, FieldCount - 1);
    SetState(TRecordState::Browse);
  } else if (state_ == TRecordState::Insert) {
    RemoveRow(cursor_);
  }
}

void TCalibrationRecords::Delete() {
  if (!Active() || cursor_ < 0) return;
  if (state_ == TRecordState::Insert) {
    Cancel();
    return;
  }
  RemoveRow(cursor_);
}

void TCalibrationRecords::MoveTo(int row) {
  if (!Active() || row < 0 || row >= RowCount() || row == cursor_) return;
  // Saving may drop a pending new row above the target, which moves it up.
  const bool dropsRowAbove = state_ == TRecordState::Insert && !modified_ && cursor_ < row;
  CheckBrowseMode();
  SetCursor(dropsRowAbove ? row - 1 : row);
}

void TCalibrationRecords::Renumber() {
  bool changed = false;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const double number = static_cast<double>(i + 1);
    if (rows_[i][fNo] != number) {
      rows_[i][fNo] = number;
      changed = true;
    }
  }
  if (changed) listener_->CellsChanged(-1, fNo, fNo);
}

bool TCalibrationRecords::Enabled(TRecordCommand command) const {
  const bool hasRow = cursor_ >= 0;
  switch (command) {
  case TRecordCommand::Insert: return Active();
  case TRecordCommand::Delete: return Active() && hasRow;
  case TRecordCommand::Edit: return Active() && hasRow && !Editing();
  case TRecordCommand::Post:
  case TRecordCommand::Cancel: return Editing();
  }
  return false;
}

bool TCalibrationRecords::DownFromLastRow(int currentRow) {
  const int rows = RowCount();
  if (!Active() || (rows != 0 && currentRow != rows - 1)) return false;
  const bool untouchedNewLast = state_ == TRecordState::Insert && !modified_ && cursor_ == rows - 1;
  if (!untouchedNewLast) Append();
  return true;
}

bool TCalibrationRecords::Placed(int row) const {
  return Field(row, fX).has_value() || Field(row, fY).has_value();
}

int TCalibrationRecords::PickRow() const {
  if (state_ == TRecordState::Insert && cursor_ >= 0 && !Placed(cursor_)) return cursor_;
  return RowCount();
}

TCalibrationRecords::TField TCalibrationRecords::PickTypingField(int row) const {
  return row > 0 && GridTyped(row - 1) ? fEasting : fLat;
}

int TCalibrationRecords::Pick(std::int32_t x, std::int32_t y) {
  if (!Active()) return -1;
  if (PickRow() == RowCount()) Append();
  SetField(fX, x);
  SetField(fY, y);
  const int row = cursor_;
  Post();
  return row;
}

void TCalibrationRecords::SetField(TField field, TCell value) {
  if (!Active() || cursor_ < 0 || field < 0 || field >= FieldCount) return;
  if (state_ == TRecordState::Browse) Edit();
  if (value && IsIntegerField(field)) value = std::trunc(*value);
  rows_[static_cast<std::size_t>(cursor_)][static_cast<std::size_t>(field)] = value;
  modified_ = true;
  listener_->CellsChanged(cursor_, field, field);
  const bool grid = field == fEasting || field == fNorthing;
  if ((grid || field == fLat || field == fLon) && gridTyped_[static_cast<std::size_t>(cursor_)] != grid) {
    gridTyped_[static_cast<std::size_t>(cursor_)] = grid;
    // The other pair now only shows this one's place.
    listener_->CellsChanged(cursor_, fLat, fNorthing);
  }
}

bool TCalibrationRecords::GridTyped(int row) const {
  return row >= 0 && row < RowCount() && gridTyped_[static_cast<std::size_t>(row)];
}

bool TCalibrationRecords::Derived(int row, TField field) const {
  if (row < 0 || row >= RowCount()) return false;
  const bool grid = field == fEasting || field == fNorthing;
  return (grid || field == fLat || field == fLon) && grid != GridTyped(row);
}

void TCalibrationRecords::ShowDerived(int row, TField field, TCell value) {
  if (!Derived(row, field) || rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)] == value) return;
  rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)] = value;
  if (row == cursor_ && state_ == TRecordState::Edit) backup_[static_cast<std::size_t>(field)] = value;
  listener_->CellsChanged(row, field, field);
}

TCalibrationRecords::TCell TCalibrationRecords::Field(int row, TField field) const {
  if (row < 0 || row >= RowCount() || field < 0 || field >= FieldCount) return std::nullopt;
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)];
}

std::int32_t TCalibrationRecords::AsInteger(int row, TField field) const {
  const TCell v = Field(row, field);
  if (!v) return 0;
  return static_cast<std::int32_t>(std::clamp<double>(*v, std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max()));
}

double TCalibrationRecords::AsFloat(int row, TField field) const { return Field(row, field).value_or(0.0); }

void TCalibrationRecords::SetCursor(int row) {
  if (row == cursor_) return;
  const int old = cursor_;
  cursor_ = row;
  if (old >= 0 && old < RowCount()) listener_->IndicatorChanged(old, old);
  if (row >= 0) listener_->IndicatorChanged(row, row);
  listener_->StateChanged();
  listener_->CursorChanged(row);
}

void TCalibrationRecords::SetState(TRecordState state) {
  if (state == state_) return;
  state_ = state;
  if (cursor_ >= 0) listener_->IndicatorChanged(cursor_, cursor_);
  listener_->StateChanged();
}

} // namespace zv
