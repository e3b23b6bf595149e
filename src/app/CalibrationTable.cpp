#include "app/CalibrationTable.h"

#include "model/CalibrationEdit.h"
#include "model/CalibrationText.h"

#include <QColor>
#include <QPersistentModelIndex>

#include <cmath>
#include <optional>

namespace zv {

TCalibrationTable::TCalibrationTable(QObject* parent) : QAbstractTableModel(parent) { records_.SetListener(this); }

int TCalibrationTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : records_.RowCount();
}

int TCalibrationTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QString TCalibrationTable::FieldName(TField field) {
  switch (field) {
  case fNo: return QStringLiteral("No");
  case fX: return QStringLiteral("X");
  case fY: return QStringLiteral("Y");
  case fLat: return QStringLiteral("Lat");
  case fLon: return QStringLiteral("Lon");
  case fResidual: return QStringLiteral("Residual");
  case ColumnCount: break;
  }
  return {};
}

QString TCalibrationTable::FormatFloat(double value) {
  QString text = QString::number(value, 'g', 15);
  const QChar sep = QChar::fromLatin1(DecimalSeparator());
  if (sep != u'.') text.replace(u'.', sep);
  return text;
}

bool TCalibrationTable::ParseFieldText(TField field, const QString& text, QVariant& value, QString& error) {
  const std::string bytes = text.toStdString();
  std::string message;
  if (TCalibrationRecords::IsIntegerField(Core(field))) {
    std::optional<std::int32_t> v;
    if (!ParseIntegerCell(bytes, v, message)) {
      error = QString::fromStdString(message);
      return false;
    }
    value = v ? QVariant(static_cast<int>(*v)) : QVariant();
    return true;
  }
  std::optional<double> v;
  const bool ok = field == fLat || field == fLon ? ParseCoordinateCell(bytes, field == fLat, v, message)
                                                 : ParseRealCell(bytes, v, message);
  if (!ok) {
    error = QString::fromStdString(message);
    return false;
  }
  value = v ? QVariant(*v) : QVariant();
  return true;
}

QVariant TCalibrationTable::Cell(int row, int column) const {
  if (column == fResidual) {
    const std::size_t at = static_cast<std::size_t>(row);
    if (at >= residuals_.size() || !(residuals_[at] >= 0)) return QString();
    return QString::number(residuals_[at], 'f', 1);
  }
  const QVariant cell = Field(row, static_cast<TField>(column));
  // Text in both roles, so the grid edits every cell in a line editor.
  if (cell.isNull()) return QString();
  if (TCalibrationRecords::IsIntegerField(Core(static_cast<TField>(column)))) return QString::number(cell.toInt());
  return FormatFloat(cell.toDouble());
}

QVariant TCalibrationTable::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  switch (role) {
  case Qt::DisplayRole:
  case Qt::EditRole: return Cell(index.row(), index.column());
  case Qt::TextAlignmentRole: return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  case Qt::ForegroundRole:
  case Qt::ToolTipRole: {
    const std::size_t row = static_cast<std::size_t>(index.row());
    if (row >= hints_.size() || hints_[row].isEmpty()) return {};
    return role == Qt::ToolTipRole ? QVariant(hints_[row]) : QVariant(QColor(Qt::red));
  }
  default: return {};
  }
}

QVariant TCalibrationTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= ColumnCount) return {};
    return FieldName(static_cast<TField>(section));
  }
  // The record indicator: which row is current and in what state.
  if (section != Cursor()) return QString();
  switch (State()) {
  case TRecordState::Edit: return QStringLiteral("I");
  case TRecordState::Insert: return QStringLiteral("*");
  default: return QStringLiteral("\u25B6");
  }
}

Qt::ItemFlags TCalibrationTable::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && Active() && index.column() != fResidual) f |= Qt::ItemIsEditable;
  return f;
}

bool TCalibrationTable::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || reshaping_ || !Active() || !checkIndex(index, CheckIndexOption::IndexIsValid) ||
      index.column() >= FieldCount)
    return false;
  QVariant parsed;
  QString error;
  if (!ParseFieldText(static_cast<TField>(index.column()), value.isNull() ? QString() : value.toString(), parsed,
                      error))
    return false;
  const QPersistentModelIndex target(index);
  MoveTo(index.row());
  if (!target.isValid() || target.row() != Cursor()) return false;
  SetField(static_cast<TField>(target.column()), parsed);
  return true;
}

void TCalibrationTable::MoveTo(int row) {
  if (reshaping_) return;
  records_.MoveTo(row);
}

void TCalibrationTable::SetField(TField field, const QVariant& value) {
  if (field < 0 || field >= FieldCount) return;
  records_.SetField(Core(field), value.isNull() ? std::nullopt : std::optional<double>(value.toDouble()));
}

QVariant TCalibrationTable::Field(int row, TField field) const {
  if (field < 0 || field >= FieldCount) return {};
  const TCalibrationRecords::TCell cell = records_.Field(row, Core(field));
  if (!cell) return {};
  if (TCalibrationRecords::IsIntegerField(Core(field))) return QVariant(static_cast<int>(*cell));
  return QVariant(*cell);
}

void TCalibrationTable::BeginReset() {
  reshaping_ = true;
  hints_.clear();
  residuals_.clear();
  beginResetModel();
}

void TCalibrationTable::EndReset() {
  endResetModel();
  reshaping_ = false;
}

void TCalibrationTable::BeginInsertRow(int row) {
  reshaping_ = true;
  hints_.clear();
  residuals_.clear();
  beginInsertRows({}, row, row);
}

void TCalibrationTable::EndInsertRow() {
  endInsertRows();
  reshaping_ = false;
}

void TCalibrationTable::BeginRemoveRow(int row) {
  reshaping_ = true;
  hints_.clear();
  residuals_.clear();
  beginRemoveRows({}, row, row);
}

void TCalibrationTable::EndRemoveRow() {
  endRemoveRows();
  reshaping_ = false;
}

void TCalibrationTable::CellsChanged(int row, int first, int last) {
  if (rowCount() == 0) return;
  const int top = row < 0 ? 0 : row, bottom = row < 0 ? rowCount() - 1 : row;
  emit dataChanged(index(top, first), index(bottom, last));
}

void TCalibrationTable::IndicatorChanged(int first, int last) {
  if (rowCount() > 0) emit headerDataChanged(Qt::Vertical, first, last);
}

void TCalibrationTable::SetRowHints(std::vector<QString> hints) {
  hints_ = std::move(hints);
  if (rowCount() > 0)
    emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::ForegroundRole, Qt::ToolTipRole});
}

void TCalibrationTable::SetResiduals(std::vector<double> residuals) {
  residuals_ = std::move(residuals);
  if (rowCount() > 0) emit dataChanged(index(0, fResidual), index(rowCount() - 1, fResidual));
}

} // namespace zv
