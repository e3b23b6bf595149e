// The navigator: an item model that mirrors the layouts and map areas from
// the model's hooks, and the tree that shows, sorts, edits and rearranges them.
//
// Removals are announced after the object is gone (a layout's areas go while
// the layout itself is being destroyed), and views and testers read every row
// while Qt's begin/end signals run. So a row whose object is leaving is first
// marked Gone: it then yields no data and takes no part in sorting, and only
// its pointer is ever compared.

#include "app/Navigator.h"

#include "app/Icons.h"
#include "view/ModelText.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDrag>
#include <QDropEvent>
#include <QFocusEvent>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <vector>

namespace zv {

namespace {

constexpr int kColumnCount = 2;
constexpr int kNameColumn = 0;
constexpr int kMarkColumn = 1;
constexpr int kMarkColumnWidth = 32;
constexpr int kCellMargin = 6;
const QColor kLayoutFill(0xFF, 0xFF, 0xBB);
const QColor kLineColour(0xFF, 0xDD, 0xAA);
const QString kRowMimeType = QStringLiteral("application/x-zovevod-navigator-row");

// The selection drawn over a row's own colours rather than instead of them.
QColor SelectionBlend(const QPalette& palette) {
  QColor blend = palette.color(QPalette::Highlight);
  blend.setAlpha(80);
  return blend;
}

Qt::Alignment ColumnAlignment(int column) {
  return column == kNameColumn ? Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter) : Qt::Alignment(Qt::AlignCenter);
}

// Paints the cells: the layout rows' fill, the separator lines, the eye, and
// the text without a focus rectangle and with a blended selection.
class TNavigatorDelegate : public QStyledItemDelegate {
public:
  TNavigatorDelegate(const TNavigatorModel& model, QObject* parent)
      : QStyledItemDelegate(parent), model_(model), eye_(MainImage(miEye)) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const TNavigatorNodeData* d = model_.NodeData(index);
    const QRect r = option.rect;
    painter->save();
    if (d && d->Kind == nkMapArea && index.column() == kMarkColumn && d->Area()->Shown)
      painter->drawPixmap(r.left() + (r.width() - eye_.width()) / 2, r.top(), eye_);
    if (d && d->Kind == nkLayout) painter->fillRect(r, kLayoutFill);
    painter->restore();

    QStyleOptionViewItem opt(option);
    const bool selected = opt.state.testFlag(QStyle::State_Selected);
    opt.state &= ~(QStyle::State_HasFocus | QStyle::State_Selected);
    QStyledItemDelegate::paint(painter, opt, index);

    painter->save();
    if (selected) painter->fillRect(r, SelectionBlend(option.palette));
    if (d) {
      painter->setPen(kLineColour);
      painter->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
      if (d->Kind == nkLayout && index.column() == kMarkColumn)
        painter->drawLine(r.right(), r.top(), r.right(), r.bottom());
    }
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    s.setHeight(std::max(s.height(), kMainImageSize));
    return s;
  }

private:
  const TNavigatorModel& model_;
  QPixmap eye_;
};

} // namespace

// ---- TNavigatorModel ----

struct TNavigatorModel::Node {
  TNavigatorNodeData Data;
  Node* Parent = nullptr;
  std::vector<std::unique_ptr<Node>> Children;
  // The object is destroyed or being destroyed; the row is about to go.
  bool Gone = false;

  int Row() const {
    for (std::size_t i = 0; i < Parent->Children.size(); ++i)
      if (Parent->Children[i].get() == this) return static_cast<int>(i);
    return -1;
  }
};

TNavigatorModel::TNavigatorModel(TDisplayMapsCore& view, QObject* parent)
    : QAbstractItemModel(parent), view_(view), root_(std::make_unique<Node>()) {}

TNavigatorModel::~TNavigatorModel() = default;

TNavigatorModel::Node* TNavigatorModel::NodeOf(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return root_.get();
  return static_cast<Node*>(index.internalPointer());
}

QModelIndex TNavigatorModel::IndexOf(const Node* node, int column) const {
  if (!node || node == root_.get()) return {};
  return createIndex(node->Row(), column, node);
}

const TNavigatorNodeData* TNavigatorModel::NodeData(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return nullptr;
  const Node* n = NodeOf(index);
  return n->Gone ? nullptr : &n->Data;
}

TNavigatorModel::Node* TNavigatorModel::FindNode(const void* item) const {
  // Depth first, parents before children.
  if (!item) return nullptr;
  for (const auto& layout : root_->Children) {
    if (layout->Data.Item == item) return layout.get();
    for (const auto& area : layout->Children)
      if (area->Data.Item == item) return area.get();
  }
  return nullptr;
}

QModelIndex TNavigatorModel::FindRow(const void* item) const { return IndexOf(FindNode(item)); }

void TNavigatorModel::InsertNode(Node* parent, TNavigatorNodeKind kind, void* item) {
  const int row = static_cast<int>(parent->Children.size());
  beginInsertRows(IndexOf(parent), row, row);
  auto node = std::make_unique<Node>();
  node->Data = {kind, item};
  node->Parent = parent;
  parent->Children.push_back(std::move(node));
  endInsertRows();
}

void TNavigatorModel::RemoveNode(Node* node) {
  Node* parent = node->Parent;
  const int row = node->Row();
  beginRemoveRows(IndexOf(parent), row, row);
  parent->Children.erase(parent->Children.begin() + row);
  endRemoveRows();
}

void TNavigatorModel::CountChanged(Node* layoutNode) {
  if (!layoutNode || layoutNode == root_.get() || layoutNode->Gone) return;
  const QModelIndex count = IndexOf(layoutNode, kMarkColumn);
  emit dataChanged(count, count, {Qt::DisplayRole});
}

void TNavigatorModel::OnLayoutsChange(TMapLayout* layout, TListChange change) {
  if (change == lcAdded) {
    InsertNode(root_.get(), nkLayout, layout);
    lastAddedLayout_ = QPersistentModelIndex(IndexOf(root_->Children.back().get()));
  } else {
    for (const auto& row : root_->Children) {
      if (row->Data.Item != layout) continue;
      row->Gone = true;
      for (const auto& child : row->Children) child->Gone = true;
      RemoveNode(row.get());
      break;
    }
  }
  Resort();
}

void TNavigatorModel::OnMapAreasChange(TMapArea* area, TListChange change) {
  if (change == lcAdded) {
    for (const auto& row : root_->Children) {
      if (row->Data.Item != area->Layout) continue;
      InsertNode(row.get(), nkMapArea, area);
      CountChanged(row.get());
      break;
    }
  } else {
    Node* found = FindNode(area);
    if (found) {
      Node* parent = found->Parent;
      found->Gone = true;
      // A layout that has left the list (or whose list is going) is being
      // destroyed with its areas.
      if (parent != root_.get() && (!view_.Layouts || view_.Layouts->IndexOf(parent->Data.Layout()) < 0))
        parent->Gone = true;
      RemoveNode(found);
      CountChanged(parent);
    }
  }
  Resort();
}

bool TNavigatorModel::Less(const Node& a, const Node& b) const {
  if (a.Data.Kind != b.Data.Kind) return false;
  const TNavigatorNodeKind kind = a.Data.Kind;
  const std::string& nameA = kind == nkLayout ? a.Data.Layout()->Name : a.Data.Area()->Name;
  const std::string& nameB = kind == nkLayout ? b.Data.Layout()->Name : b.Data.Area()->Name;
  const void* active = kind == nkLayout ? static_cast<const void*>(view_.ActiveLayout())
                                        : static_cast<const void*>(view_.ActiveMapArea());
  return NavigatorRowBefore(nameA, a.Data.Item == active, nameB, b.Data.Item == active);
}

void TNavigatorModel::Resort() {
  const auto less = [this](const std::unique_ptr<Node>& a, const std::unique_ptr<Node>& b) { return Less(*a, *b); };
  const auto sortable = [](const Node& parent) {
    return std::none_of(parent.Children.begin(), parent.Children.end(), [](const auto& n) { return n->Gone; });
  };
  // The levels to sort: a level with a leaving row waits for that row's removal.
  std::vector<Node*> levels;
  if (sortable(*root_)) levels.push_back(root_.get());
  for (const auto& layout : root_->Children)
    if (!layout->Gone && sortable(*layout)) levels.push_back(layout.get());
  const bool anyUnsorted = std::any_of(levels.begin(), levels.end(), [&](const Node* level) {
    return !std::is_sorted(level->Children.begin(), level->Children.end(), less);
  });
  if (!anyUnsorted) return;

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  for (Node* level : levels) std::stable_sort(level->Children.begin(), level->Children.end(), less);
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& old : before)
    after.append(IndexOf(static_cast<const Node*>(old.internalPointer()), old.column()));
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

bool TNavigatorModel::CanMoveArea(const QModelIndex& source, const QModelIndex& target) const {
  const TNavigatorNodeData* s = NodeData(source);
  const TNavigatorNodeData* t = NodeData(target);
  return s && t && s->Kind == nkMapArea && t->Kind == nkLayout;
}

bool TNavigatorModel::MoveArea(const QModelIndex& source, const QModelIndex& target) {
  if (!CanMoveArea(source, target)) return false;
  Node* sourceNode = NodeOf(source);
  // Only the addition is announced (adding the new row); the old row goes here.
  if (!MoveMapArea(view_, *sourceNode->Data.Area(), *NodeData(target)->Layout())) return false;
  Node* oldLayoutNode = sourceNode->Parent;
  RemoveNode(sourceNode);
  CountChanged(oldLayoutNode);
  return true;
}

QModelIndex TNavigatorModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= kColumnCount) return {};
  if (parent.isValid() && (parent.model() != this || parent.column() != 0)) return {};
  const Node* p = NodeOf(parent);
  if (row >= static_cast<int>(p->Children.size())) return {};
  return createIndex(row, column, p->Children[static_cast<std::size_t>(row)].get());
}

QModelIndex TNavigatorModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  return IndexOf(NodeOf(child)->Parent);
}

int TNavigatorModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  return static_cast<int>(NodeOf(parent)->Children.size());
}

int TNavigatorModel::columnCount(const QModelIndex&) const { return kColumnCount; }

QVariant TNavigatorModel::data(const QModelIndex& index, int role) const {
  const TNavigatorNodeData* d = NodeData(index);
  if (!d) return {};
  const bool nameColumn = index.column() == kNameColumn;
  switch (role) {
  case Qt::DisplayRole:
  case Qt::EditRole:
    if (nameColumn) return FromModelText(d->Kind == nkLayout ? d->Layout()->Name : d->Area()->Name);
    if (role == Qt::DisplayRole && d->Kind == nkLayout) return QString::number(d->Layout()->Areas->Count());
    return QString();
  case Qt::FontRole: {
    const bool active = d->Kind == nkLayout ? d->Item == view_.ActiveLayout() : d->Item == view_.ActiveMapArea();
    if (!active) return {};
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  case Qt::TextAlignmentRole:
    return QVariant::fromValue(ColumnAlignment(index.column()));
  case Qt::AccessibleDescriptionRole:
    // The eye and the bold face, for those who cannot see them.
    if (!nameColumn && d->Kind == nkMapArea && d->Area()->Shown) return QStringLiteral("shown");
    if (nameColumn && (d->Item == view_.ActiveLayout() || d->Item == view_.ActiveMapArea()))
      return QStringLiteral("active");
    return {};
  default: return {};
  }
}

QVariant TNavigatorModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return section == kNameColumn ? QStringLiteral("Name") : QString();
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(ColumnAlignment(section));
  return {};
}

Qt::ItemFlags TNavigatorModel::flags(const QModelIndex& index) const {
  const TNavigatorNodeData* d = NodeData(index);
  if (!d) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kNameColumn) f |= Qt::ItemIsEditable;
  f |= d->Kind == nkMapArea ? Qt::ItemIsDragEnabled : Qt::ItemIsDropEnabled;
  if (d->Kind == nkMapArea) f |= Qt::ItemNeverHasChildren;
  return f;
}

bool TNavigatorModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const TNavigatorNodeData* d = NodeData(index);
  if (!d || role != Qt::EditRole || index.column() != kNameColumn) return false;
  // Names are not checked: empty and repeated names are the user's choice.
  (d->Kind == nkLayout ? d->Layout()->Name : d->Area()->Name) = ToModelText(value.toString());
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  Resort();
  return true;
}

Qt::DropActions TNavigatorModel::supportedDragActions() const { return Qt::MoveAction; }

Qt::DropActions TNavigatorModel::supportedDropActions() const { return Qt::MoveAction; }

QStringList TNavigatorModel::mimeTypes() const { return {kRowMimeType}; }

QMimeData* TNavigatorModel::mimeData(const QModelIndexList& indexes) const {
  // Only marks the drag as ours: the dragged row is the tree's focused row.
  if (indexes.isEmpty()) return nullptr;
  auto* mime = new QMimeData;
  mime->setData(kRowMimeType, QByteArray());
  return mime;
}

bool TNavigatorModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                      const QModelIndex& parent) const {
  const TNavigatorNodeData* d = NodeData(parent);
  return data && data->hasFormat(kRowMimeType) && action == Qt::MoveAction && d && d->Kind == nkLayout;
}

bool TNavigatorModel::dropMimeData(const QMimeData*, Qt::DropAction, int, int, const QModelIndex&) {
  // The tree carries out its drops itself (it knows the dragged row).
  return false;
}

// ---- TNavigatorTree ----

TNavigatorTree::TNavigatorTree(TDisplayMapsCore& view, QWidget* parent)
    : QTreeView(parent), view_(view), model_(new TNavigatorModel(view, this)) {
  setObjectName(QStringLiteral("VstNavigator"));
  setAccessibleName(QStringLiteral("Maps and layouts"));
  setModel(model_);
  setItemDelegate(new TNavigatorDelegate(*model_, this));

  setRootIsDecorated(true);
  setTreePosition(kNameColumn);
  setIndentation(12);
  setUniformRowHeights(true);
  setExpandsOnDoubleClick(false);
  setAllColumnsShowFocus(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);

  setDragDropMode(QAbstractItemView::InternalMove);
  setDefaultDropAction(Qt::MoveAction);
  // Drops always land on the row under the pointer, never between rows.
  setDragDropOverwriteMode(true);
  setDropIndicatorShown(true);

  QHeaderView* h = header();
  h->setVisible(true);
  h->setSectionsMovable(true);
  h->setStretchLastSection(false);
  h->resizeSection(kNameColumn, 156);
  h->resizeSection(kMarkColumn, kMarkColumnWidth);
  h->setSectionResizeMode(kMarkColumn, QHeaderView::Interactive);
  h->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
  h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // The order is fixed; the mark only says so, a click does not change it.
  h->setSectionsClickable(false);
  h->setSortIndicator(kNameColumn, Qt::AscendingOrder);
  h->setSortIndicatorShown(true);
  h->moveSection(h->visualIndex(kMarkColumn), 0);
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(model_, signal, this, [this] { FitMarkColumn(); });

  popup_ = new QMenu(this);
  popup_->setObjectName(QStringLiteral("PopupMenuNavigator"));
  create_ = popup_->addAction(QStringLiteral("Create Layout"), this, &TNavigatorTree::CreateLayout);
  create_->setObjectName(QStringLiteral("MniCreateLayout"));
  popup_->addSeparator();
  rename_ = popup_->addAction(QStringLiteral("Rename ..."), this, &TNavigatorTree::RenameFocusedRow);
  rename_->setObjectName(QStringLiteral("MniRename"));
  popup_->addSeparator();
  closeLayout_ = popup_->addAction(QStringLiteral("Close Layout"), this, &TNavigatorTree::CloseFocusedLayout);
  closeLayout_->setObjectName(QStringLiteral("MniCloseLayout"));
  closeArea_ = popup_->addAction(QStringLiteral("Close Area"), this, &TNavigatorTree::CloseFocusedArea);
  closeArea_->setObjectName(QStringLiteral("MniCloseArea"));
  moveSeparator_ = popup_->addSeparator();
  moveTo_ = popup_->addMenu(QStringLiteral("Move to layout"));
  moveTo_->setObjectName(QStringLiteral("MniMoveToLayout"));
  connect(popup_, &QMenu::aboutToShow, this, [this] {
    UpdatePopupMenu(keyboardPopup_ || PointerOverTree());
    keyboardPopup_ = false;
  });
}

void TNavigatorTree::ActiveChanged() {
  // Only a repaint: data is read at paint time, when no row is stale.
  viewport()->update();
}

void TNavigatorTree::EditLastAddedLayout() {
  const QModelIndex row = LastAddedLayoutNode();
  if (!row.isValid()) return;
  setCurrentIndex(row);
  scrollTo(row);
  edit(row);
}

void TNavigatorTree::CreateLayout() {
  TMapLayout* layout = view_.Layouts->AddLayout(UniqueLayoutName(*view_.Layouts));
  view_.SetActiveLayout(layout);
  EditActiveLayoutRow();
}

void TNavigatorTree::EditActiveLayoutRow() {
  const QModelIndex row = model_->FindRow(view_.ActiveLayout());
  if (!row.isValid()) return;
  setCurrentIndex(row);
  scrollTo(row);
  edit(row);
}

void TNavigatorTree::OpenFocusedRow() {
  const QModelIndex focused = currentIndex();
  const TNavigatorNodeData* d = model_->NodeData(focused);
  if (!d) return;
  const TNavigatorNodeData row = *d;
  selectionModel()->select(focused, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (row.Kind == nkMapArea) view_.ShowMapArea(row.Area());
  else view_.SetActiveLayout(row.Layout());
  viewport()->update();
}

void TNavigatorTree::RenameFocusedRow() {
  const QModelIndex focused = currentIndex();
  if (model_->NodeData(focused)) edit(focused.siblingAtColumn(kNameColumn));
}

void TNavigatorTree::CloseFocusedLayout() {
  const TNavigatorNodeData* d = model_->NodeData(currentIndex());
  if (!d || d->Kind != nkLayout) return;
  TMapLayout* layout = d->Layout();
  if (ConfirmClose && !ConfirmClose(layout->Areas->All())) return;
  view_.Layouts->Remove(layout);
}

void TNavigatorTree::CloseFocusedArea() {
  const TNavigatorNodeData* d = model_->NodeData(currentIndex());
  if (!d || d->Kind != nkMapArea) return;
  TMapArea* area = d->Area();
  if (ConfirmClose && !ConfirmClose({area})) return;
  if (area->Layout) area->Layout->Areas->Remove(area, true);
}

void TNavigatorTree::UpdatePopupMenu(bool rowCommands) {
  const TNavigatorNodeData* d = model_->NodeData(currentIndex());
  create_->setEnabled(true);
  rename_->setEnabled(false);
  closeLayout_->setEnabled(false);
  closeArea_->setEnabled(false);
  const bool mapRow = d && d->Kind == nkMapArea;
  moveSeparator_->setVisible(mapRow);
  moveTo_->menuAction()->setVisible(mapRow);
  moveTo_->clear();
  if (mapRow) {
    const TMapLayout* own = d->Area()->Layout;
    for (int row = 0; row < model_->rowCount(); ++row) {
      const TNavigatorNodeData* layout = model_->NodeData(model_->index(row, kNameColumn));
      if (!layout || layout->Layout() == own) continue;
      TMapLayout* target = layout->Layout();
      moveTo_->addAction(FromModelText(target->Name), this, [this, target] { MoveFocusedAreaTo(target); });
    }
  }
  moveTo_->menuAction()->setEnabled(rowCommands && !moveTo_->isEmpty());
  if (!rowCommands || !d) return;
  rename_->setEnabled(true);
  closeLayout_->setEnabled(d->Kind == nkLayout);
  closeArea_->setEnabled(mapRow);
}

void TNavigatorTree::ShowPopupForFocusedRow() {
  const QModelIndex focused = currentIndex();
  QRect row = focused.isValid() ? visualRect(focused.siblingAtColumn(kNameColumn)) : QRect();
  if (!row.isValid() || !viewport()->rect().intersects(row)) row = QRect(viewport()->rect().center(), QSize(1, 1));
  keyboardPopup_ = true;
  popup_->popup(viewport()->mapToGlobal(QPoint(row.left() + row.height(), row.bottom())));
}

void TNavigatorTree::MoveFocusedAreaTo(TMapLayout* layout) {
  const QModelIndex target = model_->FindRow(layout);
  if (model_->MoveArea(currentIndex(), target)) expandAll();
}

bool TNavigatorTree::PointerOverTree() const {
  const QWidget* under = QApplication::widgetAt(QCursor::pos());
  return under && (under == this || isAncestorOf(under));
}

bool TNavigatorTree::CanDropOn(const QModelIndex& target) const { return model_->CanMoveArea(currentIndex(), target); }

void TNavigatorTree::DropOn(const QModelIndex& target) {
  if (model_->MoveArea(currentIndex(), target)) expandAll();
}

bool TNavigatorTree::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  // F2 and the programmatic openings always edit the name, whichever cell has the focus.
  if (index.isValid() && (trigger == EditKeyPressed || trigger == AllEditTriggers))
    return QTreeView::edit(index.siblingAtColumn(kNameColumn), trigger, event);
  return QTreeView::edit(index, trigger, event);
}

void TNavigatorTree::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::RightButton) {
    QTreeView::mousePressEvent(event);
    return;
  }
  const QModelIndex under = indexAt(event->position().toPoint());
  if (under.isValid())
    selectionModel()->setCurrentIndex(under, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  else
    selectionModel()->clear();
  setFocus(Qt::MouseFocusReason);
  event->accept();
}

void TNavigatorTree::mouseReleaseEvent(QMouseEvent* event) {
  // The right button's press was handled alone; its release must not reach the
  // base, which could take it for a click that starts editing.
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QTreeView::mouseReleaseEvent(event);
}

void TNavigatorTree::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) OpenFocusedRow();
}

void TNavigatorTree::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier && state() != EditingState) {
    ShowPopupForFocusedRow();
    event->accept();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && state() != EditingState) OpenFocusedRow();
  // The base leaves Enter unconsumed, so it still reaches the window.
  QTreeView::keyPressEvent(event);
}

void TNavigatorTree::focusInEvent(QFocusEvent* event) {
  QTreeView::focusInEvent(event);
  // Reached from the keyboard with no focused row (the last one was closed),
  // the focus goes to the first row, so there is one to move from and to see.
  if (event->reason() != Qt::MouseFocusReason && !currentIndex().isValid() && model_->rowCount() > 0)
    selectionModel()->setCurrentIndex(model_->index(0, 0), QItemSelectionModel::NoUpdate);
}

void TNavigatorTree::contextMenuEvent(QContextMenuEvent* event) {
  if (event->reason() == QContextMenuEvent::Keyboard)
    ShowPopupForFocusedRow();
  else
    popup_->popup(event->globalPos());
  event->accept();
}

void TNavigatorTree::startDrag(Qt::DropActions) {
  const QModelIndex dragged = currentIndex();
  const TNavigatorNodeData* d = model_->NodeData(dragged);
  if (!d || d->Kind != nkMapArea) return;
  auto* drag = new QDrag(this);
  drag->setMimeData(model_->mimeData({dragged}));
  drag->exec(Qt::MoveAction, Qt::MoveAction);
}

void TNavigatorTree::dragMoveEvent(QDragMoveEvent* event) {
  QTreeView::dragMoveEvent(event); // scrolling at the edges and the drop mark
  if (event->source() == this && CanDropOn(indexAt(event->position().toPoint()))) {
    event->setDropAction(Qt::MoveAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void TNavigatorTree::dropEvent(QDropEvent* event) {
  const QModelIndex target = indexAt(event->position().toPoint());
  stopAutoScroll();
  setState(NoState);
  viewport()->update();
  if (event->source() != this || !CanDropOn(target)) {
    event->ignore();
    return;
  }
  DropOn(target);
  event->setDropAction(Qt::MoveAction);
  event->accept();
}

void TNavigatorTree::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const {
  // The indentation belongs to the name cell: same fill, the same light
  // selection and bottom line, over the style's full highlight.
  if (const TNavigatorNodeData* d = model_->NodeData(index)) {
    painter->save();
    painter->fillRect(rect, palette().color(QPalette::Base));
    if (d->Kind == nkLayout) painter->fillRect(rect, kLayoutFill);
    if (selectionModel()->isSelected(index)) painter->fillRect(rect, SelectionBlend(palette()));
    painter->setPen(kLineColour);
    painter->drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    painter->restore();
  }
  // Only a layout row has a mark (expand or collapse), in the last step of
  // its indentation. It is drawn without the selected state, for which the
  // style would paint the full highlight behind it.
  if (!model_->hasChildren(index.siblingAtColumn(0))) return;
  QStyleOption mark;
  mark.initFrom(this);
  mark.rect = QRect(rect.right() + 1 - indentation(), rect.top(), indentation(), rect.height());
  mark.state = QStyle::State_Item | QStyle::State_Children |
               (isEnabled() ? QStyle::State_Enabled : QStyle::State_None) |
               (isExpanded(index.siblingAtColumn(0)) ? QStyle::State_Open : QStyle::State_None);
  style()->drawPrimitive(QStyle::PE_IndicatorBranch, &mark, painter, this);
}

void TNavigatorTree::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QTreeView::drawRow(painter, option, index);
  // The cells draw no focus rectangle; a row reached from the keyboard (Tab
  // into the tree) and not selected still shows where the focus is.
  if (!hasFocus() || index.siblingAtColumn(0) != currentIndex().siblingAtColumn(0) ||
      selectionModel()->isSelected(index))
    return;
  painter->save();
  painter->setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
  painter->drawRect(option.rect.adjusted(0, 0, -1, -2)); // above the row's bottom line
  painter->restore();
}

void TNavigatorTree::FitMarkColumn() {
  int most = 0;
  if (view_.Layouts)
    for (int i = 0; i < view_.Layouts->Count(); ++i) most = std::max(most, (*view_.Layouts)[i]->Areas->Count());
  const int text = fontMetrics().horizontalAdvance(QString::number(most)) + 2 * kCellMargin;
  header()->resizeSection(kMarkColumn, std::max({kMarkColumnWidth, text, header()->sectionSize(kMarkColumn)}));
}

void TNavigatorTree::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
  // A removed focused row leaves no focus behind, rather than passing it to a neighbour.
  const QModelIndex focused = currentIndex();
  for (QModelIndex i = focused.siblingAtColumn(0); i.isValid(); i = i.parent()) {
    if (i.parent() == parent && i.row() >= start && i.row() <= end) {
      selectionModel()->clear();
      break;
    }
  }
  QTreeView::rowsAboutToBeRemoved(parent, start, end);
}

} // namespace zv
