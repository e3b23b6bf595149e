#pragma once

#include <QAbstractTableModel>
#include <QVariant>

#include <array>
#include <cstdint>
#include <vector>

namespace zv {

enum class TRecordState { Inactive, Browse, Edit, Insert };

// The in-memory calibration table (KbmCalibrationPoints): rows kept in the
// order they were put there, a cursor on the current row and the record
// states of a data set. Cells are empty (a null variant) or hold a value of
// their field's type; an empty cell reads as 0.
class TCalibrationTable : public QAbstractTableModel {
  Q_OBJECT

public:
  enum TField { fNo = 0, fX, fY, fLat, fLon, FieldCount };

  explicit TCalibrationTable(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Sets a cell from its text (or any value that converts to text) as the
  // grid does: the row is made current and put into editing first. Text that
  // is no number of the field's type is refused.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  static QString FieldName(TField field);
  // Empty text (blanks only) gives a null value; false with the user-visible
  // message when the text is no number of the field's type.
  static bool ParseFieldText(TField field, const QString& text, QVariant& value, QString& error);
  static QString FormatFloat(double value);

  bool Active() const { return state_ != TRecordState::Inactive; }
  TRecordState State() const { return state_; }
  bool Editing() const { return state_ == TRecordState::Edit || state_ == TRecordState::Insert; }
  bool Modified() const { return modified_; }
  // The current row, -1 when the table has none.
  int Cursor() const { return cursor_; }

  void Open();
  // Every row goes; the table is inactive until opened again.
  void Close();
  // A new row at the end, or before the current row; its "No" is the number
  // of rows before it + 1. A pending row is saved (or dropped if untouched) first.
  void Append();
  void Insert();
  void Edit();
  // Saves the pending row and then emits afterPost; nothing outside editing.
  void Post();
  // Drops the pending insert or edit.
  void Cancel();
  // Removes the current row; a pending insert is just dropped.
  void Delete();
  // Makes row current, saving or dropping the pending row first.
  void MoveTo(int row);
  // Moves to the first row whose field equals value; false when none.
  bool Locate(TField field, std::int32_t value);

  // Field values of the current row while editing (null = empty).
  void SetField(TField field, const QVariant& value);
  QVariant Field(int row, TField field) const;
  std::int32_t AsInteger(int row, TField field) const;
  double AsFloat(int row, TField field) const;

  // Rows to mark as suspect, each with its tooltip (an empty text marks
  // nothing); by row number, so forgotten whenever rows come or go.
  void SetRowHints(std::vector<QString> hints);

signals:
  void afterPost();
  // The state, the cursor or the number of rows changed.
  void stateChanged();
  void cursorChanged(int row);


private:
  using Row = std::array<QVariant, FieldCount>;

  void CheckBrowseMode();
  void AddRow(int at);
  void RemoveRow(int row);
  void SetCursor(int row);
  void SetState(TRecordState state);

  std::vector<Row> rows_;
  std::vector<QString> hints_;
  TRecordState state_ = TRecordState::Inactive;
  int cursor_ = -1;
  bool modified_ = false;
  Row backup_;
  // Set while rows come or go, when views report current-index moves that
  // must not move the cursor.
  bool reshaping_ = false;
};

} // namespace zv
