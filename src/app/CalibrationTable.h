#pragma once

#include "model/CalibrationEdit.h"
#include "model/CalibrationRecords.h"

#include <QAbstractTableModel>
#include <QVariant>

#include <cstdint>
#include <vector>

namespace zv {

// The in-memory calibration table (KbmCalibrationPoints): the item-model face
// of TCalibrationRecords, which holds the rows, the cursor and the record
// states. Cells are empty (a null variant) or hold a value of their field's
// type; an empty cell reads as 0. On a map in a projected plane "Zone" (UTM
// only, read-only), "Easting" and "Northing" follow "Lon"; the pair a row is
// not given by shows in grey italics. Last comes the read-only "Residual"
// column, which the panel fills after every write-back.
class TCalibrationTable : public QAbstractTableModel, private TRecordListener {
  Q_OBJECT

public:
  // The kinds of column; the first FieldCount are the records' fields. The
  // first five and "Residual" are always there, the column of any other
  // kind is Column(kind).
  enum TField {
    fNo = 0,
    fX,
    fY,
    fLat,
    fLon,
    fEasting,
    fNorthing,
    FieldCount,
    fZone = FieldCount,
    fResidual,
    ColumnCount
  };

  explicit TCalibrationTable(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Sets a cell from its text (or any value that converts to text) as the
  // grid does: the row is made current and put into editing first. Text that
  // is no value of the field is refused.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  static QString FieldName(TField field);
  // The columns shown: with none, "Residual" follows "Lon".
  void SetGridColumns(TGridColumns columns);
  // The column of a kind, -1 when not shown; the kind of a column.
  int Column(TField kind) const;
  TField Kind(int column) const;
  // Each row's zone text (the "Zone" column), like the residuals.
  void SetZones(std::vector<QString> zones);
  // Empty text (blanks only) gives a null value; false with the user-visible
  // message when the text is no value of the field (Lat and Lon take the
  // printed forms of ParseCoordinateCell).
  static bool ParseFieldText(TField field, const QString& text, QVariant& value, QString& error);
  static QString FormatFloat(double value);

  TCalibrationRecords& Records() { return records_; }
  const TCalibrationRecords& Records() const { return records_; }
  bool Active() const { return records_.Active(); }
  TRecordState State() const { return records_.State(); }
  bool Editing() const { return records_.Editing(); }
  bool Modified() const { return records_.Modified(); }
  // The current row, -1 when the table has none.
  int Cursor() const { return records_.Cursor(); }

  void Open() { records_.Open(); }
  void Close() { records_.Close(); }
  void Append() { records_.Append(); }
  void Insert() { records_.Insert(); }
  void Edit() { records_.Edit(); }
  void Post() { records_.Post(); }
  void Cancel() { records_.Cancel(); }
  void Delete() { records_.Delete(); }
  // Makes row current, saving or dropping the pending row first.
  void MoveTo(int row);

  // Field values of the current row while editing (null = empty).
  void SetField(TField field, const QVariant& value);
  QVariant Field(int row, TField field) const;
  std::int32_t AsInteger(int row, TField field) const { return records_.AsInteger(row, Core(field)); }
  double AsFloat(int row, TField field) const { return records_.AsFloat(row, Core(field)); }

  // Rows to mark as suspect, each with its tooltip (an empty text marks
  // nothing), and each row's residual in pixels (NaN or negative: none); by
  // row number, so forgotten whenever rows come or go.
  void SetRowHints(std::vector<QString> hints);
  void SetResiduals(std::vector<double> residuals);

signals:
  void afterPost();
  // The state, the cursor or the number of rows changed.
  void stateChanged();
  void cursorChanged(int row);

private:
  static TCalibrationRecords::TField Core(TField field) { return static_cast<TCalibrationRecords::TField>(field); }
  QVariant Cell(int row, int column) const;
  bool Derived(const QModelIndex& index) const;

  void BeginReset() override;
  void EndReset() override;
  void BeginInsertRow(int row) override;
  void EndInsertRow() override;
  void BeginRemoveRow(int row) override;
  void EndRemoveRow() override;
  void CellsChanged(int row, int first, int last) override;
  void IndicatorChanged(int first, int last) override;
  void StateChanged() override { emit stateChanged(); }
  void CursorChanged(int row) override { emit cursorChanged(row); }
  void AfterPost() override { emit afterPost(); }

  TCalibrationRecords records_;
  std::vector<QString> hints_;
  std::vector<double> residuals_;
  std::vector<QString> zones_;
  std::vector<TField> columns_{fNo, fX, fY, fLat, fLon, fResidual};
  // Set while rows come or go, when views report current-index moves that
  // must not move the cursor.
  bool reshaping_ = false;
};

} // namespace zv
