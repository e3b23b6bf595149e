#include "app/CalibrationTable.h"

#include "model/CalibrationEdit.h"
#include "model/CalibrationText.h"

#include <QColor>
#include <QFont>
#include <QPersistentModelIndex>

#include <algorithm>
#include <cmath>
#include <optional>

namespace zv {

TCalibrationTable::TCalibrationTable(QObject* parent) : QAbstractTableModel(parent) { records_.SetListener(this); }

int TCalibrationTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : records_.RowCount();
}

int TCalibrationTable::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

void TCalibrationTable::SetGridColumns(TGridColumns columns) {
  std::vector<TField> kinds{fNo, fX, fY, fLat, fLon};
  if (columns == TGridColumns::Utm) kinds.push_back(fZone);
  if (columns != TGridColumns::None) kinds.insert(kinds.end(), {fEasting, fNorthing});
  kinds.push_back(fResidual);
  if (kinds == columns_) return;
  beginResetModel();
  columns_ = std::move(kinds);
  endResetModel();
}

int TCalibrationTable::Column(TField kind) const {
  const auto at = std::find(columns_.begin(), columns_.end(), kind);
  return at == columns_.end() ? -1 : static_cast<int>(at - columns_.begin());
}

TCalibrationTable::TField TCalibrationTable::Kind(int column) const {
  return column >= 0 && column < static_cast<int>(columns_.size()) ? columns_[static_cast<std::size_t>(column)]
                                                                   : ColumnCount;
}

void TCalibrationTable::SetZones(std::vector<QString> zones) {
  zones_ = std::move(zones);
  const int column = Column(fZone);
  if (column >= 0 && rowCount() > 0) emit dataChanged(index(0, column), index(rowCount() - 1, column));
}

QString TCalibrationTable::FieldName(TField field) {
  switch (field) {
  case fNo: return QStringLiteral("No");
  case fX: return QStringLiteral("X");
  case fY: return QStringLiteral("Y");
  case fLat: return QStringLiteral("Lat");
  case fLon: return QStringLiteral("Lon");
  case fEasting: return QStringLiteral("Easting");
  case fNorthing: return QStringLiteral("Northing");
  case fZone: return QStringLiteral("Zone");
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
  const TField kind = Kind(column);
  const std::size_t at = static_cast<std::size_t>(row);
  if (kind == fResidual) {
    if (at >= residuals_.size() || !(residuals_[at] >= 0)) return QString();
    return QString::number(residuals_[at], 'f', 1);
  }
  if (kind == fZone) return at < zones_.size() ? zones_[at] : QString();
  const QVariant cell = Field(row, kind);
  // Text in both roles, so the grid edits every cell in a line editor.
  if (cell.isNull()) return QString();
  if (TCalibrationRecords::IsIntegerField(Core(kind))) return QString::number(cell.toInt());
  // A pair computed through the projection, to the centimetre (1e-8 degrees
  // are less), so that rounding noise shows no digits.
  if (records_.Derived(row, Core(kind))) {
    const double unit = kind == fEasting || kind == fNorthing ? 100 : 1e8;
    return FormatFloat(std::round(cell.toDouble() * unit) / unit);
  }
  return FormatFloat(cell.toDouble());
}

bool TCalibrationTable::Derived(const QModelIndex& index) const {
  const TField kind = Kind(index.column());
  return kind < FieldCount && records_.Derived(index.row(), Core(kind));
}

QVariant TCalibrationTable::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  switch (role) {
  case Qt::DisplayRole:
  case Qt::EditRole: return Cell(index.row(), index.column());
  case Qt::TextAlignmentRole: return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  case Qt::FontRole: {
    if (!Derived(index)) return {};
    QFont font;
    font.setItalic(true);
    return font;
  }
  case Qt::ForegroundRole:
  case Qt::ToolTipRole: {
    const std::size_t row = static_cast<std::size_t>(index.row());
    if (row >= hints_.size() || hints_[row].isEmpty()) {
      // The pair the point is not given by: shown, not stored.
      if (role == Qt::ForegroundRole && Derived(index)) return QColor(Qt::gray);
      return {};
    }
    return role == Qt::ToolTipRole ? QVariant(hints_[row]) : QVariant(QColor(Qt::red));
  }
  default: return {};
  }
}

QVariant TCalibrationTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= columnCount()) return {};
    return FieldName(Kind(section));
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
  if (index.isValid() && Active() && Kind(index.column()) < FieldCount) f |= Qt::ItemIsEditable;
  return f;
}

bool TCalibrationTable::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || reshaping_ || !Active() || !checkIndex(index, CheckIndexOption::IndexIsValid) ||
      Kind(index.column()) >= FieldCount)
    return false;
  QVariant parsed;
  QString error;
  const TField field = Kind(index.column());
  if (!ParseFieldText(field, value.isNull() ? QString() : value.toString(), parsed, error)) return false;
  const QPersistentModelIndex target(index);
  MoveTo(index.row());
  if (!target.isValid() || target.row() != Cursor()) return false;
  SetField(field, parsed);
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
  zones_.clear();
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
  zones_.clear();
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
  zones_.clear();
  beginRemoveRows({}, row, row);
}

void TCalibrationTable::EndRemoveRow() {
  endRemoveRows();
  reshaping_ = false;
}

void TCalibrationTable::CellsChanged(int row, int first, int last) {
  if (rowCount() == 0) return;
  const int top = row < 0 ? 0 : row, bottom = row < 0 ? rowCount() - 1 : row;
  // Fields map onto columns in order; those not shown have none.
  int left = -1, right = -1;
  for (int f = first; f <= last; ++f) {
    const int column = Column(static_cast<TField>(f));
    if (column < 0) continue;
    left = left < 0 ? column : std::min(left, column);
    right = std::max(right, column);
  }
  if (left >= 0) emit dataChanged(index(top, left), index(bottom, right));
}

void TCalibrationTable::IndicatorChanged(int first, int last) {
  if (rowCount() > 0) emit headerDataChanged(Qt::Vertical, first, last);
}

void TCalibrationTable::SetRowHints(std::vector<QString> hints) {
  hints_ = std::move(hints);
  if (rowCount() > 0)
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::ForegroundRole, Qt::ToolTipRole});
}

void TCalibrationTable::SetResiduals(std::vector<double> residuals) {
  residuals_ = std::move(residuals);
  const int column = Column(fResidual);
  if (rowCount() > 0) emit dataChanged(index(0, column), index(rowCount() - 1, column));
}

} // namespace zv
