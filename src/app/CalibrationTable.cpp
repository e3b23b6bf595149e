#include "app/CalibrationTable.h"

#include "model/CalibrationEdit.h"
#include "model/CalibrationText.h"
#include "model/MapModel.h"

#include <QColor>
#include <QPersistentModelIndex>
#include <QScopedValueRollback>

#include <algorithm>
#include <optional>

namespace zv {
namespace {

bool IsIntegerField(TCalibrationTable::TField field) {
  return field == TCalibrationTable::fNo || field == TCalibrationTable::fX || field == TCalibrationTable::fY;
}

} // namespace

TCalibrationTable::TCalibrationTable(QObject* parent) : QAbstractTableModel(parent) {}

int TCalibrationTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TCalibrationTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FieldCount; }

QString TCalibrationTable::FieldName(TField field) {
  switch (field) {
  case fNo: return QStringLiteral("No");
  case fX: return QStringLiteral("X");
  case fY: return QStringLiteral("Y");
  case fLat: return QStringLiteral("Lat");
  case fLon: return QStringLiteral("Lon");
  case FieldCount: break;
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
  if (IsIntegerField(field)) {
    std::optional<std::int32_t> v;
    if (!ParseIntegerCell(bytes, v, message)) {
      error = QString::fromStdString(message);
      return false;
    }
    value = v ? QVariant(static_cast<int>(*v)) : QVariant();
    return true;
  }
  std::optional<double> v;
  if (!ParseRealCell(bytes, v, message)) {
    error = QString::fromStdString(message);
    return false;
  }
  value = v ? QVariant(*v) : QVariant();
  return true;
}

QVariant TCalibrationTable::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  const QVariant& cell = rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
  switch (role) {
  case Qt::DisplayRole:
  case Qt::EditRole:
    // Text in both roles, so the grid edits every cell in a line editor.
    if (cell.isNull()) return QString();
    if (IsIntegerField(static_cast<TField>(index.column()))) return QString::number(cell.toInt());
    return FormatFloat(cell.toDouble());
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
    if (section < 0 || section >= FieldCount) return {};
    return FieldName(static_cast<TField>(section));
  }
  // The record indicator: which row is current and in what state.
  if (section != cursor_) return QString();
  switch (state_) {
  case TRecordState::Edit: return QStringLiteral("I");
  case TRecordState::Insert: return QStringLiteral("*");
  default: return QStringLiteral("\u25B6");
  }
}

Qt::ItemFlags TCalibrationTable::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && Active()) f |= Qt::ItemIsEditable;
  return f;
}

bool TCalibrationTable::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || reshaping_ || !Active() || !checkIndex(index, CheckIndexOption::IndexIsValid))
    return false;
  QVariant parsed;
  QString error;
  if (!ParseFieldText(static_cast<TField>(index.column()), value.isNull() ? QString() : value.toString(), parsed,
                      error))
    return false;
  const QPersistentModelIndex target(index);
  MoveTo(index.row());
  if (!target.isValid() || target.row() != cursor_) return false;
  SetField(static_cast<TField>(target.column()), parsed);
  return true;
}

void TCalibrationTable::Open() {
  if (Active()) return;
  hints_.clear();
  beginResetModel();
  rows_.clear();
  cursor_ = -1;
  modified_ = false;
  state_ = TRecordState::Browse;
  endResetModel();
  emit stateChanged();
}

void TCalibrationTable::Close() {
  {
    const QScopedValueRollback<bool> reshaping(reshaping_, true);
    hints_.clear();
  beginResetModel();
    rows_.clear();
    cursor_ = -1;
    modified_ = false;
    state_ = TRecordState::Inactive;
    endResetModel();
  }
  emit stateChanged();
  emit cursorChanged(-1);
}

void TCalibrationTable::CheckBrowseMode() {
  if (!Editing()) return;
  // A row nobody typed into is not worth saving.
  if (modified_)
    Post();
  else
    Cancel();
}

void TCalibrationTable::AddRow(int at) {
  Row row;
  row[fNo] = QVariant(static_cast<int>(rows_.size()) + 1);
  {
    const QScopedValueRollback<bool> reshaping(reshaping_, true);
    hints_.clear();
    beginInsertRows({}, at, at);
    rows_.insert(rows_.begin() + at, row);
    cursor_ = at;
    state_ = TRecordState::Insert;
    // The default "No" is no edit of the user's.
    modified_ = false;
    endInsertRows();
  }
  emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
  emit stateChanged();
  emit cursorChanged(cursor_);
}

void TCalibrationTable::RemoveRow(int row) {
  {
    const QScopedValueRollback<bool> reshaping(reshaping_, true);
    hints_.clear();
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    cursor_ = rows_.empty() ? -1 : std::min(row, rowCount() - 1);
    state_ = TRecordState::Browse;
    modified_ = false;
    endRemoveRows();
  }
  if (!rows_.empty()) emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
  emit stateChanged();
  emit cursorChanged(cursor_);
}

void TCalibrationTable::Append() {
  if (!Active()) return;
  CheckBrowseMode();
  AddRow(rowCount());
}

void TCalibrationTable::Insert() {
  if (!Active()) return;
  CheckBrowseMode();
  AddRow(cursor_ < 0 ? 0 : cursor_);
}

void TCalibrationTable::Edit() {
  if (state_ != TRecordState::Browse || cursor_ < 0) return;
  backup_ = rows_[static_cast<std::size_t>(cursor_)];
  modified_ = false;
  SetState(TRecordState::Edit);
}

void TCalibrationTable::Post() {
  if (!Editing()) return;
  modified_ = false;
  SetState(TRecordState::Browse);
  emit afterPost();
}

void TCalibrationTable::Cancel() {
  if (state_ == TRecordState::Edit) {
    rows_[static_cast<std::size_t>(cursor_)] = backup_;
    modified_ = false;
    emit dataChanged(index(cursor_, 0), index(cursor_, FieldCount - 1));
    SetState(TRecordState::Browse);
  } else if (state_ == TRecordState::Insert) {
    RemoveRow(cursor_);
  }
}

void TCalibrationTable::Delete() {
  if (!Active() || cursor_ < 0) return;
  if (state_ == TRecordState::Insert) {
    Cancel();
    return;
  }
  RemoveRow(cursor_);
}

void TCalibrationTable::MoveTo(int row) {
  if (!Active() || reshaping_ || row < 0 || row >= rowCount() || row == cursor_) return;
  const QPersistentModelIndex target(index(row, 0));
  CheckBrowseMode();
  if (target.isValid()) SetCursor(target.row());
}

bool TCalibrationTable::Locate(TField field, std::int32_t value) {
  if (!Active()) return false;
  CheckBrowseMode();
  for (int row = 0; row < rowCount(); ++row) {
    if (AsInteger(row, field) == value) {
      SetCursor(row);
      return true;
    }
  }
  return false;
}

void TCalibrationTable::SetField(TField field, const QVariant& value) {
  if (!Active() || cursor_ < 0 || field < 0 || field >= FieldCount) return;
  if (state_ == TRecordState::Browse) Edit();
  QVariant stored;
  if (!value.isNull()) stored = IsIntegerField(field) ? QVariant(value.toInt()) : QVariant(value.toDouble());
  rows_[static_cast<std::size_t>(cursor_)][static_cast<std::size_t>(field)] = stored;
  modified_ = true;
  emit dataChanged(index(cursor_, field), index(cursor_, field));
}

QVariant TCalibrationTable::Field(int row, TField field) const {
  if (row < 0 || row >= rowCount() || field < 0 || field >= FieldCount) return {};
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)];
}

std::int32_t TCalibrationTable::AsInteger(int row, TField field) const {
  const QVariant v = Field(row, field);
  return v.isNull() ? 0 : static_cast<std::int32_t>(v.toInt());
}

double TCalibrationTable::AsFloat(int row, TField field) const {
  const QVariant v = Field(row, field);
  return v.isNull() ? 0.0 : v.toDouble();
}

void TCalibrationTable::SetCursor(int row) {
  if (row == cursor_) return;
  const int old = cursor_;
  cursor_ = row;
  if (old >= 0 && old < rowCount()) emit headerDataChanged(Qt::Vertical, old, old);
  if (row >= 0) emit headerDataChanged(Qt::Vertical, row, row);
  emit stateChanged();
  emit cursorChanged(row);
}

void TCalibrationTable::SetState(TRecordState state) {
  if (state == state_) return;
  state_ = state;
  if (cursor_ >= 0) emit headerDataChanged(Qt::Vertical, cursor_, cursor_);
  emit stateChanged();
}

void TCalibrationTable::SetRowHints(std::vector<QString> hints) {
  hints_ = std::move(hints);
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, FieldCount - 1), {Qt::ForegroundRole, Qt::ToolTipRole});
}

} // namespace zv
