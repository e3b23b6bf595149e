#pragma once

#include "model/DisplayMapsCore.h"
#include "model/NavigatorRules.h"

#include <QAbstractItemModel>
#include <QPersistentModelIndex>
#include <QTreeView>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;

namespace zv {

enum TNavigatorNodeKind : std::uint8_t { nkLayout = 1, nkMapArea = 2 };

// What a navigator row stands for. The object belongs to the model; the row
// only refers to it, and after its removal uses the pointer as an identity.
struct TNavigatorNodeData {
  TNavigatorNodeKind Kind = nkLayout;
  void* Item = nullptr;

  TMapLayout* Layout() const { return Kind == nkLayout ? static_cast<TMapLayout*>(Item) : nullptr; }
  TMapArea* Area() const { return Kind == nkMapArea ? static_cast<TMapArea*>(Item) : nullptr; }
};


// The navigator's item model: layouts at the top, their map areas below, in
// two columns (name; area count or the shown mark). It keeps rows of its own,
// changed only by the hook responses and its own edits and moves, and sorts
// them itself.
class TNavigatorModel : public QAbstractItemModel {
  Q_OBJECT

public:
  explicit TNavigatorModel(TDisplayMapsCore& view, QObject* parent = nullptr);
  ~TNavigatorModel() override;

  // Responses to the model's list hooks; each ends with a re-sort.
  void OnLayoutsChange(TMapLayout* layout, TListChange change);
  void OnMapAreasChange(TMapArea* area, TListChange change);
  // Sorts every level by name, the active layout or area first among equals.
  void Resort();

  // The row's data, or null for the root, a foreign index or a row whose
  // object is on its way out.
  const TNavigatorNodeData* NodeData(const QModelIndex& index) const;
  // Column 0 of the first row, depth first, that stands for item.
  QModelIndex FindRow(const void* item) const;
  // Column 0 of the row of the most recently added layout, while it exists.
  QModelIndex LastAddedLayoutNode() const { return lastAddedLayout_; }

  // True when the area row source may be moved onto the layout row target.
  bool CanMoveArea(const QModelIndex& source, const QModelIndex& target) const;
  // Moves the source row's area into the target row's layout: added there
  // (announced), taken silently out of its old list, its old row deleted; the
  // active layout follows an active area. False when nothing was moved.
  bool MoveArea(const QModelIndex& source, const QModelIndex& target);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::DropActions supportedDragActions() const override;
  Qt::DropActions supportedDropActions() const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                       const QModelIndex& parent) const override;
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

private:
  struct Node;
  Node* NodeOf(const QModelIndex& index) const;
  Node* FindNode(const void* item) const;
  QModelIndex IndexOf(const Node* node, int column = 0) const;
  void InsertNode(Node* parent, TNavigatorNodeKind kind, void* item);
  void RemoveNode(Node* node);
  void CountChanged(Node* layoutNode);
  bool Less(const Node& a, const Node& b) const;

  TDisplayMapsCore& view_;
  std::unique_ptr<Node> root_;
  QPersistentModelIndex lastAddedLayout_;
};

// The navigator tree (VstNavigator) over a TNavigatorModel of its own.
class TNavigatorTree : public QTreeView {
  Q_OBJECT

public:
  explicit TNavigatorTree(TDisplayMapsCore& view, QWidget* parent = nullptr);

  TNavigatorModel& NavigatorModel() const { return *model_; }

  // Hook responses, called by whoever holds the hooks.
  void OnLayoutsChange(TMapLayout* layout, TListChange change) { model_->OnLayoutsChange(layout, change); }
  void OnMapAreasChange(TMapArea* area, TListChange change) { model_->OnMapAreasChange(area, change); }
  // The active area or layout changed: repaints the bold rows and the eye.
  // Deliberately no re-sort; the tie-break waits for the next one.
  void ActiveChanged();

  QModelIndex LastAddedLayoutNode() const { return model_->LastAddedLayoutNode(); }
  // Opens the name editor on the most recently added layout (Layout > New).
  void EditLastAddedLayout();
  // Adds a layout with a unique name, makes it active and opens its editor.
  void CreateLayout();
  // Opens the name editor on the active layout's row.
  void EditActiveLayoutRow();
  // Double-click and Enter: shows the focused area, or activates the layout.
  void OpenFocusedRow();
  // The popup's commands on the focused row.
  void RenameFocusedRow();
  void CloseFocusedLayout();
  void CloseFocusedArea();
  // Asked before the two close the given areas; false keeps them.
  std::function<bool(const std::vector<TMapArea*>&)> ConfirmClose;

  QMenu* PopupMenu() const { return popup_; }
  QAction* CreateLayoutAction() const { return create_; }
  QAction* RenameAction() const { return rename_; }
  QAction* CloseLayoutAction() const { return closeLayout_; }
  QAction* CloseAreaAction() const { return closeArea_; }
  // "Move to layout", on a map row: the other layouts, in navigator order.
  QMenu* MoveToMenu() const { return moveTo_; }
  // Enables the popup's items for the focused row; a menu opened with the
  // mouse while the pointer is elsewhere offers only "Create Layout".
  void UpdatePopupMenu(bool rowCommands);
  // The popup from the keyboard (Menu key, Shift+F10): at the focused row,
  // with the items a right-click on that row offers.
  void ShowPopupForFocusedRow();
  // Moves the focused map row to layout, as dropping it there does.
  void MoveFocusedAreaTo(TMapLayout* layout);

  // The drop of the focused (dragged) area row on target.
  bool CanDropOn(const QModelIndex& target) const;
  void DropOn(const QModelIndex& target);

  using QTreeView::edit;

protected:
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

private:
  bool PointerOverTree() const;
  // The count column as wide as the largest count needs, and the eye.
  void FitMarkColumn();

  TDisplayMapsCore& view_;
  TNavigatorModel* model_;
  QMenu* popup_;
  QAction* create_;
  QAction* rename_;
  QAction* closeLayout_;
  QAction* closeArea_;
  QAction* moveSeparator_;
  QMenu* moveTo_;
  bool keyboardPopup_ = false; // the popup showing was opened from the keyboard
};

} // namespace zv
