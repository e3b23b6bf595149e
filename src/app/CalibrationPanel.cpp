#include "app/CalibrationPanel.h"

#include "app/CalibrationTable.h"
#include "app/Icons.h"
#include "app/Prompter.h"
#include "model/CalibrationEdit.h"
#include "model/CalibrationFit.h"
#include "model/CalibrationHistory.h"
#include "model/DisplayMapsCore.h"

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QScopedValueRollback>
#include <QPointer>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <vector>

namespace zv {
namespace {

constexpr int kButtonCount = 5;

struct ButtonInfo {
  const char* name;
  const char* glyph; // UTF-8
  QKeyCombination key;
};

// The commands' names serve as tool tips and accessible names alike; their
// keys work anywhere on the page.
constexpr ButtonInfo kButtons[kButtonCount] = {
    {"Insert", "+", QKeyCombination(Qt::Key_Insert)},
    {"Delete", "\u2212", QKeyCombination(Qt::CTRL, Qt::Key_Delete)},
    {"Edit", "\u25B2", QKeyCombination(Qt::CTRL, Qt::Key_E)},
    {"Post", "\u2713", QKeyCombination(Qt::CTRL, Qt::Key_Return)},
    {"Cancel", "\u2717", QKeyCombination(Qt::CTRL, Qt::Key_Backspace)},
};

// Display widths of the kinds of column in characters; the reals have none of their own.
constexpr int kDisplayWidth[TCalibrationTable::ColumnCount] = {3, 6, 6, 13, 13, 11, 11, 4, 7};

// Keys with which the user leaves the edited cell.
bool LeavesCell(int key) {
  switch (key) {
  case Qt::Key_Tab:
  case Qt::Key_Backtab:
  case Qt::Key_Return:
  case Qt::Key_Enter:
  case Qt::Key_Up:
  case Qt::Key_Down:
  case Qt::Key_PageUp:
  case Qt::Key_PageDown: return true;
  default: return false;
  }
}

// Suspends a widget's repaints for a scope.
class UpdatesSuspended {
public:
  explicit UpdatesSuspended(QWidget* widget) : widget_(widget), was_(widget->updatesEnabled()) {
    widget_->setUpdatesEnabled(false);
  }
  ~UpdatesSuspended() { widget_->setUpdatesEnabled(was_); }
  UpdatesSuspended(const UpdatesSuspended&) = delete;
  UpdatesSuspended& operator=(const UpdatesSuspended&) = delete;

private:
  QWidget* widget_;
  bool was_;
};

} // namespace

class TCalibrationGrid;

namespace {

// The grid's in-place line editor. It refuses to let the user leave a cell
// whose text is no number of its field's type.
class TCalibrationCellDelegate : public QStyledItemDelegate {
public:
  TCalibrationCellDelegate(TCalibrationGrid* grid, TCalibrationTable& table);

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void destroyEditor(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

  QLineEdit* Editor() const { return editor_; }
  QModelIndex EditorIndex() const { return index_; }

protected:
  bool eventFilter(QObject* object, QEvent* event) override;

private:
  TCalibrationGrid* grid_;
  TCalibrationTable& table_;
  mutable QPointer<QLineEdit> editor_;
  mutable QPersistentModelIndex index_;
};

} // namespace

class TCalibrationGrid : public QTableView {
public:
  TCalibrationGrid(TCalibrationTable& table, std::function<void(TNavigateBtn)> command, QWidget* parent);

  // Writes the open editor's text into the table and closes it; false (after
  // the error box) when the text is refused, and the editor stays open.
  bool CommitEditor();
  // Closes the open editor, dropping its text.
  void DiscardEditor();
  // True when no editor is open or its text is acceptable; else shows the
  // error, keeps the editor focused and answers false.
  bool CheckEditor();
  bool ShowingError() const { return showingError_; }
  // Every column at its text's width, with the row header, frame and bar.
  int ContentWidth() const;
  void RefocusEditorLater();
  // Follows the table's cursor without moving it back; a new row's "No" is
  // no place to type into, so its cursor goes to "X".
  void SyncCurrent(int row);
  // Makes a cell of the current row current and gives the grid the focus,
  // so the next key types into it.
  void FocusCell(int row, TCalibrationTable::TField field);
  // Enter in an editor: the text goes in and a typed row is saved.
  void CommitAndPost();

protected:
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool viewportEvent(QEvent* event) override;

private:
  // Each column's width for its longest text; Lat and Lon share what the
  // page gives beyond that.
  void FitColumns();

  int textWidth_[TCalibrationTable::ColumnCount] = {};
  TCalibrationTable& table_;
  TCalibrationCellDelegate* delegate_;
  std::function<void(TNavigateBtn)> command_;
  bool syncing_ = false;
  bool showingError_ = false;
};

TCalibrationCellDelegate::TCalibrationCellDelegate(TCalibrationGrid* grid, TCalibrationTable& table)
    : QStyledItemDelegate(grid), grid_(grid), table_(table) {}

QWidget* TCalibrationCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const {
  auto* editor = new QLineEdit(parent);
  editor->setFrame(false);
  editor->setAlignment(Qt::AlignRight);
  editor->setAccessibleName(TCalibrationTable::FieldName(table_.Kind(index.column())));
  editor_ = editor;
  index_ = index;
  // The row goes into editing with the first key the user types.
  TCalibrationTable* table = &table_;
  const QPersistentModelIndex at(index);
  connect(editor, &QLineEdit::textEdited, editor, [table, at] {
    if (at.isValid() && at.row() == table->Cursor()) table->Edit();
  });
  return editor;
}

void TCalibrationCellDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
  if (editor == editor_) {
    editor_ = nullptr;
    index_ = QPersistentModelIndex();
  }
  QStyledItemDelegate::destroyEditor(editor, index);
}

void TCalibrationCellDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
  // A cell only looked at is no edit.
  auto* line = qobject_cast<QLineEdit*>(editor);
  if (line && !line->isModified()) return;
  QStyledItemDelegate::setModelData(editor, model, index);
}

bool TCalibrationCellDelegate::eventFilter(QObject* object, QEvent* event) {
  if (object == editor_ && editor_) {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (LeavesCell(key) && !grid_->CheckEditor()) return true;
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        grid_->CommitAndPost();
        return true;
      }
    } else if (event->type() == QEvent::FocusOut) {
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      QWidget* to = QApplication::focusWidget();
      // Another window (the error box among them) taking the focus for a
      // while is no leaving of the cell: the editor stays as it is.
      if (grid_->ShowingError() || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason || !to)
        return true;
      // A click into the grid: its mouse press decides.
      if (to == grid_ || grid_->isAncestorOf(to)) {
        grid_->RefocusEditorLater();
        return true;
      }
      if (!grid_->CheckEditor()) return true;
    }
  }
  return QStyledItemDelegate::eventFilter(object, event);
}

TCalibrationGrid::TCalibrationGrid(TCalibrationTable& table, std::function<void(TNavigateBtn)> command,
                                   QWidget* parent)
    : QTableView(parent), table_(table), delegate_(new TCalibrationCellDelegate(this, table)), command_(std::move(command)) {
  setItemDelegate(delegate_);
  setModel(&table_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  // Header clicks would move the current cell behind the editor's back.
  horizontalHeader()->setSectionsClickable(false);
  verticalHeader()->setSectionsClickable(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  // The record indicator's width, whatever it shows, so the page can be made
  // as wide as the columns before any row is there.
  verticalHeader()->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("\u25B6")) + 12);
  const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
  for (int column = 0; column < TCalibrationTable::ColumnCount; ++column) {
    const int title =
        fontMetrics().horizontalAdvance(TCalibrationTable::FieldName(static_cast<TCalibrationTable::TField>(column)));
    textWidth_[column] = std::max(kDisplayWidth[column] * digit, title) + 8;
  }
  // The grid columns come and go with the map's plane.
  connect(&table_, &QAbstractItemModel::modelReset, this, [this] { FitColumns(); });
  FitColumns();
}

void TCalibrationGrid::FitColumns() {
  int spare = viewport()->width() - ContentWidth() + verticalHeader()->width() + 2 * frameWidth() +
              style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  spare = std::max(spare, 0);
  for (int column = 0; column < table_.columnCount(); ++column) {
    const TCalibrationTable::TField kind = table_.Kind(column);
    int width = textWidth_[kind];
    if (kind == TCalibrationTable::fLat) width += spare / 2;
    if (kind == TCalibrationTable::fLon) width += spare - spare / 2;
    setColumnWidth(column, width);
  }
}

int TCalibrationGrid::ContentWidth() const {
  int width = verticalHeader()->width() + 2 * frameWidth() +
              style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  for (int column = 0; column < table_.columnCount(); ++column) width += textWidth_[table_.Kind(column)];
  return width;
}

bool TCalibrationGrid::viewportEvent(QEvent* event) {
  // The viewport's width changes with the page and with the scroll bar.
  if (event->type() == QEvent::Resize) FitColumns();
  return QTableView::viewportEvent(event);
}

bool TCalibrationGrid::CheckEditor() {
  QLineEdit* editor = delegate_->Editor();
  if (!editor) return true;
  QVariant value;
  QString error;
  const TCalibrationTable::TField field = table_.Kind(delegate_->EditorIndex().column());
  if (TCalibrationTable::ParseFieldText(field, editor->text(), value, error)) return true;
  if (!showingError_) {
    const QScopedValueRollback<bool> showing(showingError_, true);
    Prompter().Message(this, TMsgType::Error, error);
  }
  RefocusEditorLater();
  return false;
}

void TCalibrationGrid::RefocusEditorLater() {
  QLineEdit* editor = delegate_->Editor();
  if (!editor) return;
  QPointer<QLineEdit> target(editor);
  TCalibrationCellDelegate* delegate = delegate_;
  QTimer::singleShot(0, editor, [target, delegate] {
    if (target && target == delegate->Editor()) target->setFocus(Qt::OtherFocusReason);
  });
}

bool TCalibrationGrid::CommitEditor() {
  QLineEdit* editor = delegate_->Editor();
  if (!editor) return true;
  if (!CheckEditor()) return false;
  commitData(editor);
  // The commit may have closed it already (the row moved).
  if (delegate_->Editor() == editor) closeEditor(editor, QAbstractItemDelegate::NoHint);
  return true;
}

void TCalibrationGrid::DiscardEditor() {
  if (QLineEdit* editor = delegate_->Editor()) closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void TCalibrationGrid::SyncCurrent(int row) {
  if (row < 0 || row >= table_.rowCount()) return;
  int column = std::max(currentIndex().column(), 0);
  if (table_.State() == TRecordState::Insert && column == TCalibrationTable::fNo) column = TCalibrationTable::fX;
  const QModelIndex target = table_.index(row, column);
  if (target == currentIndex()) return;
  const QScopedValueRollback<bool> syncing(syncing_, true);
  setCurrentIndex(target);
}

void TCalibrationGrid::FocusCell(int row, TCalibrationTable::TField field) {
  if (row < 0 || row >= table_.rowCount()) return;
  {
    const QScopedValueRollback<bool> syncing(syncing_, true);
    setCurrentIndex(table_.index(row, table_.Column(field)));
  }
  setFocus(Qt::OtherFocusReason);
}

void TCalibrationGrid::CommitAndPost() {
  if (!CommitEditor()) return;
  if (table_.Editing() && table_.Modified()) command_(TNavigateBtn::nbPost);
}

void TCalibrationGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  // The base class first hands an open editor's text to its old cell.
  QTableView::currentChanged(current, previous);
  if (!syncing_ && current.isValid()) table_.MoveTo(current.row());
}

void TCalibrationGrid::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  switch (event->key()) {
  case Qt::Key_Down: {
    const int rows = table_.rowCount();
    if (mods == Qt::NoModifier && table_.Active() && (rows == 0 || currentIndex().row() == rows - 1)) {
      // Moving below the last row appends one (the records' rule).
      event->accept();
      if (CommitEditor()) table_.Records().DownFromLastRow(currentIndex().row());
      return;
    }
    break;
  }
  case Qt::Key_Escape:
    if (!delegate_->Editor() && table_.Editing()) {
      event->accept();
      table_.Cancel();
      return;
    }
    break;
  default: break;
  }
  QTableView::keyPressEvent(event);
}

void TCalibrationGrid::mousePressEvent(QMouseEvent* event) {
  if (!CheckEditor()) {
    event->accept();
    return;
  }
  QTableView::mousePressEvent(event);
}

void TCalibrationGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  if (!CheckEditor()) {
    event->accept();
    return;
  }
  QTableView::mouseDoubleClickEvent(event);
}

TCalibrationPanel::TCalibrationPanel(TDisplayMapsCore& view, QWidget* parent)
    : QWidget(parent), view_(view), table_(new TCalibrationTable(this)) {
  table_->setObjectName(QStringLiteral("KbmCalibrationPoints"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* strip = new QWidget(this);
  strip->setFixedHeight(28);
  layout->addWidget(strip);

  navigator_ = new QWidget(strip);
  navigator_->setObjectName(QStringLiteral("DnvCalibrationPoints"));
  navigator_->setAccessibleName(QStringLiteral("Calibration point commands"));
  navigator_->setGeometry(0, 1, 125, 25);
  auto* bar = new QHBoxLayout(navigator_);
  bar->setContentsMargins(0, 0, 0, 0);
  bar->setSpacing(0);
  for (int i = 0; i < kButtonCount; ++i) {
    const QString name = QString::fromLatin1(kButtons[i].name);
    // One action per command: the button shows it, its key runs it.
    auto* action = new QAction(name, this);
    action->setObjectName(QStringLiteral("act") + name);
    action->setIconText(QString::fromUtf8(kButtons[i].glyph));
    action->setShortcut(QKeySequence(kButtons[i].key));
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    action->setToolTip(name + QStringLiteral(" (") + action->shortcut().toString(QKeySequence::NativeText) +
                       QStringLiteral(")"));
    addAction(action);
    actions_[i] = action;
    auto* button = new QToolButton(navigator_);
    button->setDefaultAction(action);
    button->setObjectName(QStringLiteral("nb") + name);
    button->setAccessibleName(name);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus); // every command within reach of the keyboard
    button->setFixedSize(25, 25);
    bar->addWidget(button);
    buttons_[i] = button;
    const auto which = static_cast<TNavigateBtn>(i);
    connect(action, &QAction::triggered, this, [this, which] { BtnClick(which); });
  }

  // Beside the bar: picking points on the map (the action comes from the main window).
  pickButton_ = new QToolButton(strip);
  pickButton_->setObjectName(QStringLiteral("TbtPickOnMap"));
  pickButton_->setAccessibleName(QStringLiteral("Pick on map"));
  pickButton_->setText(QStringLiteral("Pick on map"));
  pickButton_->setToolTip(QStringLiteral("Pick on map"));
  // A cross hair only: the page is too narrow for the words beside the bar.
  pickButton_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  pickButton_->setIcon(PickIcon());
  pickButton_->setIconSize(QSize(20, 20));
  pickButton_->setAutoRaise(true);
  pickButton_->setCheckable(true);
  pickButton_->setEnabled(false);
  pickButton_->setGeometry(navigator_->geometry().right() + 5, 1, 25, 25);

  grid_ = new TCalibrationGrid(*table_, [this](TNavigateBtn b) { BtnClick(b); }, this);
  grid_->setObjectName(QStringLiteral("DgrCalibrationPoints"));
  grid_->setAccessibleName(QStringLiteral("Calibration points"));
  layout->addWidget(grid_, 1);

  connect(table_, &TCalibrationTable::afterPost, this, [this] { WriteBackCalibrationPoints(); });
  connect(table_, &TCalibrationTable::stateChanged, this, [this] { UpdateNavigator(); });
  connect(table_, &TCalibrationTable::cursorChanged, this, [this](int row) { grid_->SyncCurrent(row); });
  UpdateNavigator();
}

TCalibrationPanel::~TCalibrationPanel() {
  // The grid goes before the table it shows and edits.
  table_->disconnect(this);
  delete grid_;
}

QTableView* TCalibrationPanel::Grid() const { return grid_; }

void TCalibrationPanel::SetPickAction(QAction* action) {
  action->setIcon(PickIcon());
  action->setToolTip(QStringLiteral("Pick on map"));
  pickButton_->setDefaultAction(action);
  pickButton_->setAccessibleName(QStringLiteral("Pick on map"));
}

QToolButton* TCalibrationPanel::NavigatorButton(TNavigateBtn button) const {
  return buttons_[static_cast<int>(button)];
}

void TCalibrationPanel::UpdateNavigator() {
  navigator_->setEnabled(table_->Active());
  for (int i = 0; i < kButtonCount; ++i)
    actions_[i]->setEnabled(table_->Records().Enabled(static_cast<TRecordCommand>(i)));
}

void TCalibrationPanel::BtnClick(TNavigateBtn button) {
  if (!navigator_->isEnabled() || !actions_[static_cast<int>(button)]->isEnabled()) return;
  switch (button) {
  case TNavigateBtn::nbInsert:
    if (grid_->CommitEditor()) table_->Insert();
    break;
  case TNavigateBtn::nbDelete:
    if (Prompter().Ask(this, TMsgType::Confirmation, QStringLiteral("Zmazať záznam?"))) {
      grid_->DiscardEditor();
      table_->Delete();
      // At once, as a save does: a deleted point left in the area would come
      // back with the next refill and be saved with the calibration.
      WriteBackCalibrationPoints();
    }
    break;
  case TNavigateBtn::nbEdit:
    if (grid_->CommitEditor()) table_->Edit();
    break;
  case TNavigateBtn::nbPost:
    if (grid_->CommitEditor()) table_->Post();
    break;
  case TNavigateBtn::nbCancel:
    grid_->DiscardEditor();
    table_->Cancel();
    break;
  }
}

void TCalibrationPanel::RefillCalibrationTable() {
  grid_->DiscardEditor();
  table_->Close();
  filledArea_ = nullptr;
  TMapArea* area = view_.ActiveMapArea();
  if (!area) return;
  filledArea_ = area;
  const QScopedValueRollback<bool> filling(filling_, true);
  table_->SetGridColumns(GridColumnsOf(*area));
  table_->Open();
  for (const TCalibrationPoint& point : area->Points) {
    table_->Append();
    table_->SetField(TCalibrationTable::fX, point.X);
    table_->SetField(TCalibrationTable::fY, point.Y);
    // The pair the point is given by is set last: it is the row's own.
    const TPointCoordinates shown = PointCoordinates(*area, point);
    if (shown.GridTyped) {
      table_->SetField(TCalibrationTable::fEasting, *shown.Easting);
      table_->SetField(TCalibrationTable::fNorthing, *shown.Northing);
    } else {
      table_->SetField(TCalibrationTable::fLat, *shown.Lat);
      table_->SetField(TCalibrationTable::fLon, *shown.Lon);
    }
    table_->Post();
  }
  MarkSuspectRows(*area);
}

// The pair each point is not given by, through the map's projection, and its zone.
void TCalibrationPanel::ShowComputedCells(const TMapArea& area) {
  TCalibrationRecords& records = table_->Records();
  std::vector<QString> zones;
  for (int row = 0; row < records.RowCount() && static_cast<std::size_t>(row) < area.Points.size(); ++row) {
    const TPointCoordinates shown = PointCoordinates(area, area.Points[static_cast<std::size_t>(row)]);
    records.ShowDerived(row, TCalibrationRecords::fLat, shown.Lat);
    records.ShowDerived(row, TCalibrationRecords::fLon, shown.Lon);
    records.ShowDerived(row, TCalibrationRecords::fEasting, shown.Easting);
    records.ShowDerived(row, TCalibrationRecords::fNorthing, shown.Northing);
    zones.push_back(QString::fromStdString(shown.Zone));
  }
  table_->SetZones(std::move(zones));
}

// Rows with any finding about their point (far from the others' fit,
// outside the picture, coordinates out of range) are red, with the findings
// as their tooltip.
void TCalibrationPanel::MarkSuspectRows(const TMapArea& area) {
  const std::vector<std::string> texts = PointFindingTexts(area);
  std::vector<QString> hints;
  hints.reserve(texts.size());
  for (const std::string& text : texts) hints.push_back(QString::fromStdString(text));
  table_->SetRowHints(std::move(hints));
  table_->SetResiduals(area.Fit()->LooDistances());
  ShowComputedCells(area);
}

void TCalibrationPanel::WriteBackCalibrationPoints() {
  if (filling_) return;
  TMapArea* area = view_.ActiveMapArea();
  // Rows of another area than the active one never overwrite its points.
  if (!area || area != filledArea_) return;
  {
    UpdatesSuspended suspended(grid_);
    std::vector<TCalibrationRow> rows;
    rows.reserve(static_cast<std::size_t>(table_->rowCount()));
    for (int row = 0; row < table_->rowCount(); ++row)
      rows.push_back({table_->AsInteger(row, TCalibrationTable::fX), table_->AsInteger(row, TCalibrationTable::fY),
                      table_->AsFloat(row, TCalibrationTable::fLat), table_->AsFloat(row, TCalibrationTable::fLon),
                      !table_->Field(row, TCalibrationTable::fLat).isNull() &&
                          !table_->Field(row, TCalibrationTable::fLon).isNull(),
                      table_->Records().GridTyped(row),
                      !table_->Field(row, TCalibrationTable::fEasting).isNull() &&
                          !table_->Field(row, TCalibrationTable::fNorthing).isNull(),
                      table_->AsFloat(row, TCalibrationTable::fEasting),
                      table_->AsFloat(row, TCalibrationTable::fNorthing)});
    const std::vector<TCalibrationPoint> before = area->Points;
    zv::WriteBackCalibrationPoints(*area, rows);
    auto& history = histories_[area];
    if (!history) history = std::make_unique<TCalibrationHistory>(TCalibrationState(before, area->Plane));
    history->Push({area->Points, area->Plane});
    // Rows keep their places, so each row's number is now its point's.
    table_->Records().Renumber();
    MarkSuspectRows(*area);
  }
  view_.Invalidate();
  emit pointsWrittenBack();
}

void TCalibrationPanel::ReplacePoints(const std::vector<TCalibrationPoint>& points, const TPlaneChoice& plane) {
  TMapArea* area = view_.ActiveMapArea();
  if (!area) return;
  auto& history = histories_[area];
  if (!history) history = std::make_unique<TCalibrationHistory>(TCalibrationState(area->Points, area->Plane));
  area->Points = points;
  area->Plane = plane;
  history->Push({area->Points, area->Plane});
  RefillCalibrationTable();
  view_.Invalidate();
  emit pointsWrittenBack();
}

bool TCalibrationPanel::PostPendingEdit() {
  if (!grid_->CommitEditor()) return false;
  // An untouched new row is dropped, as leaving it would.
  if (table_->Editing() && !table_->Modified() && table_->State() == TRecordState::Insert)
    table_->Cancel();
  else
    table_->Post();
  return true;
}

int TCalibrationPanel::PickTarget() const {
  if (filledArea_ != view_.ActiveMapArea() || !table_->Active()) {
    const TMapArea* area = view_.ActiveMapArea();
    return area ? static_cast<int>(area->Points.size()) + 1 : 1;
  }
  return table_->Records().PickRow() + 1;
}

void TCalibrationPanel::PickPoint(int x, int y) {
  TMapArea* area = view_.ActiveMapArea();
  if (!area) return;
  if (filledArea_ != area) RefillCalibrationTable();
  if (!grid_->CommitEditor()) return;
  const int row = table_->Records().Pick(x, y);
  // Click, type the latitude, Tab, the longitude, Enter, and on to the next point.
  const auto field = static_cast<TCalibrationTable::TField>(table_->Records().PickTypingField(row));
  grid_->FocusCell(row, table_->Column(field) >= 0 ? field : TCalibrationTable::fLat);
}

} // namespace zv

namespace zv {

void TCalibrationPanel::MovePoint(int point, int x, int y) {
  TMapArea* area = view_.ActiveMapArea();
  if (!area || point < 0 || static_cast<std::size_t>(point) >= area->Points.size()) return;
  if (filledArea_ != area) RefillCalibrationTable();
  if (!grid_->CommitEditor()) return;
  // Saved first, the rows are the points again, row for point.
  table_->Records().CheckBrowseMode();
  if (point >= table_->rowCount()) return;
  table_->MoveTo(point);
  table_->SetField(TCalibrationTable::fX, x);
  table_->SetField(TCalibrationTable::fY, y);
  table_->Post();
}

int TCalibrationPanel::PreferredWidth() const { return grid_->ContentWidth(); }

TCalibrationHistory* TCalibrationPanel::History(const TMapArea* area) const {
  const auto it = histories_.find(area);
  return it == histories_.end() ? nullptr : it->second.get();
}

bool TCalibrationPanel::CanUndo() const {
  const TCalibrationHistory* history = History(view_.ActiveMapArea());
  return history && history->CanUndo();
}

bool TCalibrationPanel::CanRedo() const {
  const TCalibrationHistory* history = History(view_.ActiveMapArea());
  return history && history->CanRedo();
}

void TCalibrationPanel::Undo() { StepHistory(true); }
void TCalibrationPanel::Redo() { StepHistory(false); }

void TCalibrationPanel::StepHistory(bool undo) {
  TMapArea* area = view_.ActiveMapArea();
  // A row being typed is a change of its own, undone first.
  if (!area || !PostPendingEdit()) return;
  TCalibrationHistory* history = History(area);
  if (!history || !(undo ? history->CanUndo() : history->CanRedo())) return;
  const int cursor = filledArea_ == area ? table_->Cursor() : -1;
  const TCalibrationState& state = undo ? history->Undo() : history->Redo();
  area->Points = state.Points;
  area->Plane = state.Plane;
  RefillCalibrationTable();
  if (cursor >= 0) table_->MoveTo(std::min(cursor, table_->rowCount() - 1));
  view_.Invalidate();
  emit pointsWrittenBack();
}

void TCalibrationPanel::KeepHistoriesOf(const std::vector<TMapArea*>& areas) {
  // Only the addresses are compared: a removed area may be gone already.
  for (auto it = histories_.begin(); it != histories_.end();) {
    if (std::find(areas.begin(), areas.end(), it->first) == areas.end())
      it = histories_.erase(it);
    else
      ++it;
  }
  if (filledArea_ && std::find(areas.begin(), areas.end(), filledArea_) == areas.end()) filledArea_ = nullptr;
}

} // namespace zv
