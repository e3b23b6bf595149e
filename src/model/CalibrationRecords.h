// The calibration table's rows as a data set: record states, a cursor and the
// commands of its navigator bar, without any widget. The desktop table model
// is a thin adapter over it and hears its changes through TRecordListener.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace zv {

enum class TRecordState { Inactive, Browse, Edit, Insert };

// The navigator bar's commands, in their order on the bar.
enum class TRecordCommand { Insert = 0, Delete, Edit, Post, Cancel };

// What the records tell whoever shows them; every call comes after the
// change, except the Begin ones, which come before it.
class TRecordListener {
public:
  virtual ~TRecordListener() = default;
  virtual void BeginReset() {}
  virtual void EndReset() {}
  virtual void BeginInsertRow(int /*row*/) {}
  virtual void EndInsertRow() {}
  virtual void BeginRemoveRow(int /*row*/) {}
  virtual void EndRemoveRow() {}
  // Fields first..last of row changed; row -1 for every row.
  virtual void CellsChanged(int /*row*/, int /*first*/, int /*last*/) {}
  // The record indicator of rows first..last (which row is current, in what state).
  virtual void IndicatorChanged(int /*first*/, int /*last*/) {}
  // The state, the cursor or the number of rows changed.
  virtual void StateChanged() {}
  virtual void CursorChanged(int /*row*/) {}
  // A pending row was saved.
  virtual void AfterPost() {}
};

class TCalibrationRecords {
public:
  // A point is given by latitude and longitude or, on a map in a projected
  // plane, by easting and northing: the pair typed last is the point's, the
  // other pair only shows it through the map's projection (Derived).
  enum TField { fNo = 0, fX, fY, fLat, fLon, fEasting, fNorthing, FieldCount };
  // Empty, or the field's value (the integer fields hold whole numbers).
  using TCell = std::optional<double>;
  using TRow = std::array<TCell, FieldCount>;

  static bool IsIntegerField(TField field) { return field == fNo || field == fX || field == fY; }

  void SetListener(TRecordListener* listener) { listener_ = listener ? listener : &silent_; }

  int RowCount() const { return static_cast<int>(rows_.size()); }
  bool Active() const { return state_ != TRecordState::Inactive; }
  TRecordState State() const { return state_; }
  bool Editing() const { return state_ == TRecordState::Edit || state_ == TRecordState::Insert; }
  bool Modified() const { return modified_; }
  // The current row, -1 when there is none.
  int Cursor() const { return cursor_; }

  void Open();
  // Every row goes; inactive until opened again.
  void Close();
  // A new row at the end, or before the current row; its "No" is the number
  // of rows before it + 1 until the rows are renumbered. A pending row is
  // saved (or dropped if untouched) first.
  void Append();
  void Insert();
  void Edit();
  // Saves the pending row, then tells AfterPost; nothing outside editing.
  void Post();
  // Drops the pending insert or edit.
  void Cancel();
  // Removes the current row; a pending insert is just dropped.
  void Delete();
  // Makes row current, saving or dropping the pending row first.
  void MoveTo(int row);
  // Saves or drops the pending row: one nobody typed into is not worth saving.
  void CheckBrowseMode();
  // "No" := the row's place (from 1), so every row's number is its point's.
  void Renumber();

  // Whether the bar's command may run now.
  bool Enabled(TRecordCommand command) const;
  // Down on the last row (or on an empty table) appends a row, unless that
  // row is itself an untouched new one. True when Down was taken here.
  bool DownFromLastRow(int currentRow);

  // Picking a pixel: the current row takes it when it is new and not placed
  // yet; otherwise a row is appended for it. The row is saved at once and
  // stays current; its index is returned (-1 when inactive).
  int Pick(std::int32_t x, std::int32_t y);
  // The row a pick would set: the current one, or RowCount() for a new one.
  int PickRow() const;
  // Where typing goes after a pick set row: the pair the row above is given
  // by (a sheet calibrated in its grid is typed in easting and northing),
  // latitude without one.
  TField PickTypingField(int row) const;

  // A field of the current row (editing starts first). Setting a field of
  // one coordinate pair makes that pair the row's own.
  void SetField(TField field, TCell value);
  // Whether the row's own coordinates are its easting and northing.
  bool GridTyped(int row) const;
  // Whether the row's field only shows the other pair's place.
  bool Derived(int row, TField field) const;
  // Puts a value into a derived field of a row, without any editing: it is
  // no edit, and the row's own pair stays as it is.
  void ShowDerived(int row, TField field, TCell value);
  TCell Field(int row, TField field) const;
  std::int32_t AsInteger(int row, TField field) const;
  double AsFloat(int row, TField field) const;

private:
  void AddRow(int at);
  void RemoveRow(int row);
  void SetCursor(int row);
  void SetState(TRecordState state);
  bool Placed(int row) const;

  TRecordListener silent_;
  TRecordListener* listener_ = &silent_;
  std::vector<TRow> rows_;
  // Per row: whether its easting and northing are its own (1) or its
  // latitude and longitude (0).
  std::vector<char> gridTyped_;
  char backupGrid_ = 0;
  TRecordState state_ = TRecordState::Inactive;
  int cursor_ = -1;
  bool modified_ = false;
  TRow backup_;
};

} // namespace zv
