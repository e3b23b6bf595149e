#include "app/Icons.h"
#include "app/Navigator.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <utility>

using namespace zv;

namespace {

// A view core, a tree over it and the hooks wired as the main window wires them.
struct Fixture {
  TDisplayMapsCore core;
  std::unique_ptr<TNavigatorTree> tree = std::make_unique<TNavigatorTree>(core);
  QAbstractItemModelTester tester{&tree->NavigatorModel(), QAbstractItemModelTester::FailureReportingMode::QtTest};

  Fixture() { Wire(); }
  ~Fixture() {
    // The tree goes first here, so the core must no longer call it.
    core.Hooks = {};
  }
  void Wire() {
    core.Hooks.OnLayoutsChange = [this](TMapLayout* l, TListChange c) { tree->OnLayoutsChange(l, c); };
    core.Hooks.OnMapAreasChange = [this](TMapArea* a, TListChange c) { tree->OnMapAreasChange(a, c); };
    core.Hooks.OnActiveMapAreaChange = [this](TDisplayMapsCore*) { tree->ActiveChanged(); };
    core.Hooks.OnActiveLayoutChange = [this](TDisplayMapsCore*) { tree->ActiveChanged(); };
  }
  TNavigatorModel& model() const { return tree->NavigatorModel(); }

  // "Name" or "Name#n": the name and which of the objects of that name, from 1.
  static std::pair<QString, int> NameAndOrdinal(const QString& ref) {
    return {ref.section('#', 0, 0), ref.contains('#') ? ref.section('#', 1).toInt() : 1};
  }
  // The n-th layout of that name in list order.
  TMapLayout* Layout(const QString& ref) const {
    auto [name, nth] = NameAndOrdinal(ref);
    for (int i = 0; i < core.Layouts->Count(); ++i)
      if (QString::fromStdString((*core.Layouts)[i]->Name) == name && --nth == 0) return (*core.Layouts)[i];
    return nullptr;
  }
  TMapArea* Area(const QString& layout, const QString& ref) const {
    TMapLayout* l = Layout(layout);
    if (!l) return nullptr;
    auto [name, nth] = NameAndOrdinal(ref);
    for (int i = 0; i < l->Areas->Count(); ++i)
      if (QString::fromStdString((*l->Areas)[i]->Name) == name && --nth == 0) return (*l->Areas)[i];
    return nullptr;
  }
  TMapArea* AddArea(TMapLayout* layout, const std::string& name) {
    auto area = std::make_unique<TMapArea>(&core, layout);
    area->Name = name;
    return layout->Areas->Add(std::move(area));
  }

  // Runs ops separated by '|', each "OP:arg,arg":
  // L add layout, Lq add layout unheard, A add area, RA remove area,
  // RL remove layout, S show area, AL activate layout, RN rename through the
  // model, C close all, F focus row (layout or layout,area).
  void Run(const QString& script) {
    for (const QString& op : script.split('|', Qt::SkipEmptyParts)) {
      const QString cmd = op.section(':', 0, 0);
      const QStringList a = op.section(':', 1).split(',');
      if (cmd == "L") core.Layouts->AddLayout(a[0].toStdString());
      else if (cmd == "Lq") {
        const TMapHooks saved = core.Hooks;
        core.Hooks = {};
        core.Layouts->AddLayout(a[0].toStdString());
        core.Hooks = saved;
      } else if (cmd == "A") AddArea(Layout(a[0]), a[1].toStdString());
      else if (cmd == "RA") Layout(a[0])->Areas->Remove(Area(a[0], a[1]), true);
      else if (cmd == "RL") core.Layouts->Remove(Layout(a[0]));
      else if (cmd == "S") core.ShowMapArea(Area(a[0], a[1]));
      else if (cmd == "AL") core.SetActiveLayout(Layout(a[0]));
      else if (cmd == "RN") {
        const void* item = a.size() > 2 ? static_cast<void*>(Area(a[0], a[1])) : static_cast<void*>(Layout(a[0]));
        QVERIFY(model().setData(model().FindRow(item), a.last()));
      } else if (cmd == "C") core.CloseAll();
      else if (cmd == "F") {
        const void* item = a.size() > 1 ? static_cast<void*>(Area(a[0], a[1])) : static_cast<void*>(Layout(a[0]));
        tree->setCurrentIndex(model().FindRow(item));
      } else QFAIL(qPrintable("unknown op " + op));
    }
  }

  void Show() {
    tree->expandAll();
    tree->resize(260, 400);
    tree->show();
    QVERIFY(QTest::qWaitForWindowExposed(tree.get()));
  }
  QPoint Centre(const QModelIndex& index) const { return tree->visualRect(index).center(); }
};

// One cell: its text, '*' when bold.
QString Cell(const QModelIndex& i) {
  return i.data().toString() + (i.data(Qt::FontRole).value<QFont>().bold() ? "*" : "");
}

// "Layout count [area area]; ..." with '*' for bold and '@' for the shown mark.
QString Dump(const QAbstractItemModel& m) {
  QStringList tops;
  for (int r = 0; r < m.rowCount(); ++r) {
    const QModelIndex l = m.index(r, 0);
    QStringList kids;
    for (int c = 0; c < m.rowCount(l); ++c) {
      const bool shown = m.index(c, 1, l).data(Qt::AccessibleDescriptionRole).toString() == "shown";
      kids << Cell(m.index(c, 0, l)) + (shown ? "@" : "");
    }
    tops << Cell(l) + " " + m.index(r, 1).data().toString() + " [" + kids.join(' ') + "]";
  }
  return tops.join("; ");
}

QLineEdit* OpenEditor(const QTreeView& tree) {
  for (QLineEdit* e : tree.findChildren<QLineEdit*>())
    if (e->isVisible()) return e;
  return nullptr;
}

// Rows whose cell in column 1 carries the eye's iris colour.
QStringList RowsWithEye(Fixture& f) {
  const QImage shot = f.tree->viewport()->grab().toImage();
  const QRgb iris = MainImage(miEye).toImage().pixel(10, 7); // on the iris ring
  QStringList rows;
  const TNavigatorModel& m = f.model();
  for (int r = 0; r < m.rowCount(); ++r) {
    const QModelIndex l = m.index(r, 0);
    for (int c = 0; c < m.rowCount(l); ++c) {
      const QRect cell = f.tree->visualRect(m.index(c, 1, l));
      bool found = false;
      for (int y = cell.top(); y <= cell.bottom() && !found; ++y)
        for (int x = cell.left(); x <= cell.right() && !found; ++x) found = shot.pixel(x, y) == iris;
      if (found) rows << m.index(c, 0, l).data().toString();
    }
  }
  return rows;
}

} // namespace

class NavigatorTest : public QObject {
  Q_OBJECT

private slots:
  void setUp() {
    Fixture f;
    TNavigatorTree& t = *f.tree;
    QCOMPARE(t.objectName(), QStringLiteral("VstNavigator"));
    QCOMPARE(t.accessibleName(), QStringLiteral("Maps and layouts"));
    QCOMPARE(t.model()->columnCount(), 2);
    QCOMPARE(t.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(t.model()->headerData(1, Qt::Horizontal).toString(), QString());
    QCOMPARE(t.header()->visualIndex(1), 0);
    QCOMPARE(t.header()->visualIndex(0), 1);
    QVERIFY(!t.isHeaderHidden());
    QVERIFY(t.header()->sectionsMovable());
    QCOMPARE(t.header()->sectionResizeMode(0), QHeaderView::Stretch);
    QCOMPARE(t.header()->sectionSize(1), 32);
    QVERIFY(t.header()->isSortIndicatorShown());
    QCOMPARE(t.header()->sortIndicatorSection(), 0);
    QCOMPARE(t.header()->sortIndicatorOrder(), Qt::AscendingOrder);
    QVERIFY(t.rootIsDecorated());
    QVERIFY(!t.expandsOnDoubleClick());
    QCOMPARE(t.indentation(), 12);
    QCOMPARE(Dump(*t.model()), QString());
  }

  void rowsFollowTheHooks_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    QTest::newRow("layout added") << "L:Default" << "Default 0 []";
    QTest::newRow("area counted") << "L:Default|A:Default,a|A:Default,b" << "Default 2 [a b]";
    QTest::newRow("b and A") << "L:D|A:D,b|A:D,A" << "D 2 [A b]";
    QTest::newRow("layouts sorted, case folded") << "L:b|L:C|L:a" << "a 0 []; b 0 []; C 0 []";
    QTest::newRow("shorter prefix first") << "L:D|A:D,Map 10|A:D,Map 1|A:D,Map" << "D 3 [Map Map 1 Map 10]";
    QTest::newRow("only a-z fold") << "L:D|A:D,_x|A:D,z|A:D,Z1|A:D,0" << "D 4 [0 z Z1 _x]";
    QTest::newRow("8-bit after ASCII") << "L:D|A:D,\u00e9|A:D,z" << "D 2 [z \u00e9]";
    QTest::newRow("area removed") << "L:D|A:D,a|A:D,b|RA:D,a" << "D 1 [b]";
    QTest::newRow("layout removed with its areas") << "L:D|A:D,a|A:D,b|A:D,c|L:E|A:E,e|RL:D" << "E 1 [e]";
    QTest::newRow("close all") << "L:D|A:D,a|L:E|A:E,e|S:E,e|C" << "";
    QTest::newRow("area of an unheard layout") << "Lq:Q|A:Q,a|L:D" << "D 0 []";
    QTest::newRow("shown area and its layout bold")
        << "L:D|A:D,a|A:D,b|L:E|A:E,c|S:D,b" << "D* 2 [a b*@]; E 1 [c]";
    QTest::newRow("alike names, no re-sort on show") << "L:D|A:D,x|A:D,x|S:D,x#2" << "D* 2 [x x*@]";
    QTest::newRow("alike names, active first at next re-sort")
        << "L:D|A:D,x|A:D,x|S:D,x#2|A:D,y" << "D* 3 [x*@ x y]";
    QTest::newRow("alike layouts, active first at next re-sort") << "L:N|L:N|AL:N#2|L:M" << "M 0 []; N* 0 []; N 0 []";
    QTest::newRow("rename re-sorts") << "L:D|L:E|RN:D,Z" << "E 0 []; Z 0 []";
    QTest::newRow("rename to a taken name") << "L:D|L:E|RN:E,D" << "D 0 []; D 0 []";
    QTest::newRow("rename an area") << "L:D|A:D,a|A:D,b|RN:D,a,c" << "D 2 [b c]";
    QTest::newRow("empty name accepted") << "L:D|L:E|RN:E," << " 0 []; D 0 []";
    QTest::newRow("active layout removed: no bold") << "L:D|L:E|AL:E|RL:E" << "D 0 []";
  }
  void rowsFollowTheHooks() {
    QFETCH(QString, script);
    QFETCH(QString, expected);
    Fixture f;
    f.Run(script);
    QCOMPARE(Dump(f.model()), expected);
  }

  void layoutRemovalTakesAreaRowsFirst() {
    Fixture f;
    f.Run("L:D|A:D,a|A:D,b|A:D,c|L:E");
    QSignalSpy removing(&f.model(), &QAbstractItemModel::rowsAboutToBeRemoved);
    f.Run("RL:D");
    QCOMPARE(removing.size(), 4);
    for (int i = 0; i < 3; ++i) {
      QVERIFY(removing[i][0].value<QModelIndex>().isValid()); // under the layout row
      QCOMPARE(removing[i][1].toInt(), 2 - i);                 // last area first
    }
    QVERIFY(!removing[3][0].value<QModelIndex>().isValid());
    QCOMPARE(removing[3][1].toInt(), 0);
    QCOMPARE(Dump(f.model()), QStringLiteral("E 0 []"));
  }

  void coreDestroyedBeforeTheTree() {
    auto core = std::make_unique<TDisplayMapsCore>();
    TNavigatorTree tree(*core);
    QAbstractItemModelTester tester(tree.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    core->Hooks.OnLayoutsChange = [&](TMapLayout* l, TListChange c) { tree.OnLayoutsChange(l, c); };
    core->Hooks.OnMapAreasChange = [&](TMapArea* a, TListChange c) { tree.OnMapAreasChange(a, c); };
    core->Hooks.OnActiveLayoutChange = [&](TDisplayMapsCore*) { tree.ActiveChanged(); };
    TMapLayout* l = core->Layouts->AddLayout("D");
    auto area = std::make_unique<TMapArea>(core.get(), l);
    core->ShowMapArea(l->Areas->Add(std::move(area)));
    core.reset();
    QCOMPARE(tree.model()->rowCount(), 0);
  }

  void lastAddedLayoutNode() {
    Fixture f;
    f.Run("L:m");
    QCOMPARE(f.tree->LastAddedLayoutNode().data().toString(), QStringLiteral("m"));
    f.Run("L:a"); // sorted before m: the reference follows its row
    QCOMPARE(f.tree->LastAddedLayoutNode().row(), 0);
    QCOMPARE(f.tree->LastAddedLayoutNode().data().toString(), QStringLiteral("a"));
    f.Run("RL:a");
    QVERIFY(!f.tree->LastAddedLayoutNode().isValid());
  }

  void layoutNewEditsTheNewRow() {
    Fixture f;
    f.Show();
    f.core.Layouts->AddLayout("New layout");
    f.core.Layouts->AddLayout("New layout");
    QCOMPARE(Dump(f.model()), QStringLiteral("New layout 0 []; New layout 0 []"));
    f.tree->EditLastAddedLayout();
    QLineEdit* editor = OpenEditor(*f.tree);
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("New layout"));
    editor->setText(QStringLiteral("Alps \u00e9t\u00e9"));
    QTest::keyClick(editor, Qt::Key_Return);
    // The delegate commits from the event loop.
    QTRY_COMPARE((*f.core.Layouts)[1]->Name, std::string("Alps \xc3\xa9t\xc3\xa9"));
    QCOMPARE(Dump(f.model()), QStringLiteral("Alps \u00e9t\u00e9 0 []; New layout 0 []"));
    QVERIFY(!f.core.ActiveLayout()); // Layout > New does not activate
  }

  void createLayoutNames_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("times");
    QTest::addColumn<QStringList>("created");
    QTest::newRow("three from nothing") << "" << 3 << QStringList{"New Layout", "New Layout (2)", "New Layout (3)"};
    QTest::newRow("beside New layout") << "L:New layout" << 1 << QStringList{"New Layout (2)"};
    QTest::newRow("renamed onto a taken name")
        << "L:New Layout|L:x|RN:x,NEW LAYOUT (2)" << 1 << QStringList{"New Layout (3)"};
    QTest::newRow("gap is filled") << "L:New Layout (2)" << 2 << QStringList{"New Layout", "New Layout (3)"};
  }
  void createLayoutNames() {
    QFETCH(QString, script);
    QFETCH(int, times);
    QFETCH(QStringList, created);
    Fixture f;
    f.Run(script);
    f.Show();
    const int before = f.core.Layouts->Count();
    for (int i = 0; i < times; ++i) {
      f.tree->CreateLayout();
      TMapLayout* made = (*f.core.Layouts)[before + i];
      QCOMPARE(QString::fromStdString(made->Name), created[i]);
      QCOMPARE(f.core.ActiveLayout(), made);
      QCOMPARE(f.tree->currentIndex(), f.model().FindRow(made));
      QVERIFY(OpenEditor(*f.tree));
      QCOMPARE(OpenEditor(*f.tree)->text(), created[i]);
      QVERIFY(Cell(f.model().FindRow(made)).endsWith('*'));
      QTest::keyClick(OpenEditor(*f.tree), Qt::Key_Escape);
    }
  }

  void f2EditsTheNameWhicheverCellHasFocus() {
    Fixture f;
    f.Run("L:D|A:D,a");
    f.Show();
    f.tree->setCurrentIndex(f.model().FindRow(f.core.Layouts->FindLayout("D")).siblingAtColumn(1));
    QTest::keyClick(f.tree.get(), Qt::Key_F2);
    QVERIFY(OpenEditor(*f.tree));
    QCOMPARE(OpenEditor(*f.tree)->text(), QStringLiteral("D"));
  }

  void flags() {
    Fixture f;
    f.Run("L:D|A:D,a");
    const QModelIndex layout = f.model().index(0, 0);
    const QModelIndex area = f.model().index(0, 0, layout);
    QVERIFY(!(f.model().flags(layout) & Qt::ItemIsDragEnabled));
    QVERIFY(f.model().flags(layout) & Qt::ItemIsDropEnabled);
    QVERIFY(f.model().flags(area) & Qt::ItemIsDragEnabled);
    QVERIFY(!(f.model().flags(area) & Qt::ItemIsDropEnabled));
    QVERIFY(f.model().flags(area) & Qt::ItemIsEditable);
    QVERIFY(!(f.model().flags(area.siblingAtColumn(1)) & Qt::ItemIsEditable));
    QVERIFY(!(f.model().flags(QModelIndex()) & Qt::ItemIsDropEnabled));
    std::unique_ptr<QMimeData> mime(f.model().mimeData({area}));
    QVERIFY(f.model().canDropMimeData(mime.get(), Qt::MoveAction, -1, -1, layout));
    QVERIFY(!f.model().canDropMimeData(mime.get(), Qt::MoveAction, -1, -1, area));
    QVERIFY(!f.model().canDropMimeData(mime.get(), Qt::MoveAction, -1, -1, QModelIndex()));
    QCOMPARE(area.siblingAtColumn(1).data().toString(), QString());
    QCOMPARE(layout.siblingAtColumn(1).data(Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);
  }

  void drops_data() {
    QTest::addColumn<QString>("script"); // ends with the focused (dragged) row
    QTest::addColumn<QString>("target"); // layout name, "area:NAME" or "" for empty space
    QTest::addColumn<bool>("moved");
    QTest::addColumn<QString>("expected");
    const QString base = "L:A|L:B|A:A,x|A:A,y|A:B,z|";
    QTest::newRow("other area: bold stays") << base + "S:B,z|F:A,x" << "B" << true << "A 1 [y]; B* 2 [x z*@]";
    QTest::newRow("active area: layout follows") << base + "S:A,x|F:A,x" << "B" << true << "A 1 [y]; B* 2 [x*@ z]";
    QTest::newRow("active layout without area stays") << base + "AL:A|F:A,y" << "B" << true << "A* 1 [x]; B 2 [y z]";
    QTest::newRow("own layout") << base + "F:A,x" << "A" << false << "A 2 [x y]; B 1 [z]";
    QTest::newRow("on an area row") << base + "F:A,x" << "area:z" << false << "A 2 [x y]; B 1 [z]";
    QTest::newRow("on empty space") << base + "F:A,x" << "" << false << "A 2 [x y]; B 1 [z]";
    QTest::newRow("layout dragged") << base + "F:A" << "B" << false << "A 2 [x y]; B 1 [z]";
    QTest::newRow("no focus") << base << "B" << false << "A 2 [x y]; B 1 [z]";
  }
  void drops() {
    QFETCH(QString, script);
    QFETCH(QString, target);
    QFETCH(bool, moved);
    QFETCH(QString, expected);
    Fixture f;
    f.Run(script);
    const QModelIndex source = f.tree->currentIndex();
    TMapArea* area = f.model().NodeData(source) ? f.model().NodeData(source)->Area() : nullptr;
    TMapArea* shownBefore = f.core.ActiveMapArea();
    QModelIndex to;
    if (target.startsWith("area:")) to = f.model().FindRow(f.Area("B", target.mid(5)));
    else if (!target.isEmpty()) to = f.model().FindRow(f.Layout(target));
    QCOMPARE(f.tree->CanDropOn(to), moved || target == "A");
    f.tree->DropOn(to);
    QCOMPARE(Dump(f.model()), expected);
    QCOMPARE(f.core.ActiveMapArea(), shownBefore);
    if (moved) {
      QCOMPARE(area->Layout, f.Layout("B"));
      QCOMPARE(f.Layout("B")->Areas->IndexOf(area), 1);
      QCOMPARE(f.Layout("A")->Areas->IndexOf(area), -1);
      QVERIFY(f.tree->isExpanded(f.model().FindRow(f.Layout("A"))));
      QVERIFY(f.tree->isExpanded(f.model().FindRow(f.Layout("B"))));
      // Closing it later finds its one row.
      f.Layout("B")->Areas->Remove(area, true);
      QCOMPARE(f.model().rowCount(f.model().FindRow(f.Layout("B"))), 1);
    }
  }

  void popupItems() {
    Fixture f;
    const QList<QAction*> items = f.tree->PopupMenu()->actions();
    QStringList texts;
    for (const QAction* a : items) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(texts, (QStringList{"Create Layout", "-", "Rename ...", "-", "Close Layout", "Close Area", "-",
                                 "Move to layout"}));
    QCOMPARE(f.tree->PopupMenu()->objectName(), QStringLiteral("PopupMenuNavigator"));
  }

  void popupEnabling_data() {
    QTest::addColumn<QString>("clicked"); // "layout", "area" or "" for empty space
    QTest::addColumn<bool>("pointerOverTree");
    QTest::addColumn<QString>("enabled"); // create, rename, close layout, close area as 0/1
    QTest::newRow("layout row") << "layout" << true << "1110";
    QTest::newRow("area row") << "area" << true << "1101";
    QTest::newRow("empty space") << "" << true << "1000";
    QTest::newRow("layout row, pointer elsewhere") << "layout" << false << "1000";
    QTest::newRow("area row, pointer elsewhere") << "area" << false << "1000";
  }
  void popupEnabling() {
    QFETCH(QString, clicked);
    QFETCH(bool, pointerOverTree);
    QFETCH(QString, enabled);
    Fixture f;
    f.Run("L:D|A:D,a|L:E");
    f.Show();
    const QModelIndex layout = f.model().index(0, 0);
    f.tree->setCurrentIndex(f.model().index(1, 0)); // focus elsewhere first
    QPoint at(5, f.tree->viewport()->height() - 3);
    if (clicked == "layout") at = f.Centre(layout);
    if (clicked == "area") at = f.Centre(f.model().index(0, 0, layout));
    QTest::mouseClick(f.tree->viewport(), Qt::RightButton, {}, at);
    QCOMPARE(f.tree->currentIndex().isValid(), !clicked.isEmpty());
    QCOMPARE(f.tree->selectionModel()->selectedRows().size(), clicked.isEmpty() ? 0 : 1);
    f.tree->UpdatePopupMenu(pointerOverTree);
    const QString got = QString::number(f.tree->CreateLayoutAction()->isEnabled()) +
                        QString::number(f.tree->RenameAction()->isEnabled()) +
                        QString::number(f.tree->CloseLayoutAction()->isEnabled()) +
                        QString::number(f.tree->CloseAreaAction()->isEnabled());
    QCOMPARE(got, enabled);
  }

  void popupOpensOnTheRightClickedRow() {
    Fixture f;
    f.Run("L:D|A:D,a");
    f.Show();
    const QPoint at = f.Centre(f.model().index(0, 0));
    QCursor::setPos(f.tree->viewport()->mapToGlobal(at));
    if (QCursor::pos() != f.tree->viewport()->mapToGlobal(at)) QSKIP("this platform does not move the pointer");
    QTest::mouseClick(f.tree->viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, f.tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(f.tree->viewport(), &menu);
    QTRY_VERIFY(f.tree->PopupMenu()->isVisible());
    QVERIFY(f.tree->RenameAction()->isEnabled());
    QVERIFY(f.tree->CloseLayoutAction()->isEnabled());
    QVERIFY(!f.tree->CloseAreaAction()->isEnabled());
    f.tree->PopupMenu()->hide();
  }

  // Shift+F10 and the Menu key open the popup at the focused row with the
  // items a right-click there offers, wherever the pointer is; a map row's
  // "Move to layout" lists the other layouts and moves it as a drop does.
  void popupFromTheKeyboard() {
    for (bool menuKey : {false, true}) {
      Fixture f;
      f.Run("L:B|A:B,x|L:A|L:C|S:B,x|F:B,x");
      f.Show();
      f.tree->setFocus();
      QCursor::setPos(f.tree->mapToGlobal(QPoint(-50, -50))); // the pointer away from the tree
      if (menuKey) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), f.tree->mapToGlobal(QPoint()));
        QApplication::sendEvent(f.tree->viewport(), &menu);
      } else {
        QTest::keyClick(f.tree.get(), Qt::Key_F10, Qt::ShiftModifier);
      }
      QTRY_VERIFY(f.tree->PopupMenu()->isVisible());
      QVERIFY(f.tree->RenameAction()->isEnabled());
      QVERIFY(f.tree->CloseAreaAction()->isEnabled());
      QVERIFY(!f.tree->CloseLayoutAction()->isEnabled());
      QMenu* move = f.tree->MoveToMenu();
      QVERIFY(move->menuAction()->isVisible() && move->menuAction()->isEnabled());
      QStringList targets;
      for (QAction* a : move->actions()) targets << a->text();
      QCOMPARE(targets, (QStringList{"A", "C"}));
      f.tree->PopupMenu()->hide();
      move->actions()[1]->trigger();
      QCOMPARE(Dump(f.model()), QStringLiteral("A 0 []; B 0 []; C* 1 [x*@]"));
      QCOMPARE(f.core.ActiveLayout(), f.Layout("C"));
    }
    // On a layout row there is nothing to move.
    Fixture f;
    f.Run("L:A|L:B|F:A");
    f.tree->UpdatePopupMenu(true);
    QVERIFY(!f.tree->MoveToMenu()->menuAction()->isVisible());
  }

  void popupCommands() {
    Fixture f;
    f.Run("L:D|A:D,a|A:D,b|L:E|S:D,a|F:D,a");
    f.Show();
    f.tree->CloseAreaAction()->trigger();
    QCOMPARE(Dump(f.model()), QStringLiteral("D 1 [b]; E 0 []"));
    QVERIFY(!f.core.ActiveMapArea());
    QVERIFY(!f.tree->currentIndex().isValid()); // the closed row leaves no focus behind
    f.Run("AL:E|F:E");
    f.tree->CloseLayoutAction()->trigger();
    QCOMPARE(Dump(f.model()), QStringLiteral("D 1 [b]"));
    QVERIFY(!f.core.ActiveLayout());
    f.Run("F:D,b");
    f.tree->RenameAction()->trigger();
    QVERIFY(OpenEditor(*f.tree));
    QCOMPARE(OpenEditor(*f.tree)->text(), QStringLiteral("b"));
  }

  void doubleClickOnLayoutKeepsTheMap() {
    Fixture f;
    f.Run("L:A|A:A,x|L:B|S:A,x");
    f.Show();
    const QModelIndex b = f.model().FindRow(f.Layout("B"));
    QTest::mouseDClick(f.tree->viewport(), Qt::LeftButton, {}, f.Centre(b));
    QCOMPARE(f.core.ActiveLayout(), f.Layout("B"));
    QCOMPARE(f.core.ActiveMapArea(), f.Area("A", "x"));
    QVERIFY(f.Area("A", "x")->Shown);
    QCOMPARE(Dump(f.model()), QStringLiteral("A 1 [x*@]; B* 0 []"));
    QVERIFY(!f.tree->isExpanded(b) || f.model().rowCount(b) == 0);
    // Both columns of a bold row are bold.
    QVERIFY(b.siblingAtColumn(1).data(Qt::FontRole).value<QFont>().bold());
  }

  void enterShowsTheFocusedAreaUnconsumed() {
    Fixture f;
    f.Run("L:A|A:A,x|A:A,y|S:A,x|F:A,y");
    f.Show();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(f.tree.get(), &enter);
    QVERIFY(!enter.isAccepted());
    QCOMPARE(f.core.ActiveMapArea(), f.Area("A", "y"));
    QVERIFY(!f.Area("A", "x")->Shown);
    QCOMPARE(f.tree->selectionModel()->selectedRows(), QModelIndexList{f.tree->currentIndex().siblingAtColumn(0)});
  }

  void eyeOnExactlyOneRow() {
    Fixture f;
    f.Run("L:A|A:A,x|A:A,y|L:B|A:B,z");
    f.Show();
    QCOMPARE(RowsWithEye(f), QStringList());
    f.Run("S:A,x");
    QCOMPARE(RowsWithEye(f), QStringList{"x"});
    f.Run("S:B,z");
    QCOMPARE(RowsWithEye(f), QStringList{"z"});
    f.Run("C");
    QCOMPARE(RowsWithEye(f), QStringList());
  }

  void paintedCells() {
    Fixture f;
    f.Run("L:A|A:A,x|S:A,x");
    f.Show();
    const QImage shot = f.tree->viewport()->grab().toImage();
    const QModelIndex layout = f.model().index(0, 0);
    const QModelIndex area = f.model().index(0, 0, layout);
    const QRgb fill = qRgb(0xFF, 0xFF, 0xBB), line = qRgb(0xFF, 0xDD, 0xAA);
    for (int column : {0, 1}) {
      const QRect l = f.tree->visualRect(layout.siblingAtColumn(column));
      QCOMPARE(shot.pixel(l.left() + 1, l.top() + 1), fill);
      QCOMPARE(shot.pixel(l.left() + 1, l.bottom()), line);
      const QRect a = f.tree->visualRect(area.siblingAtColumn(column));
      QCOMPARE(shot.pixel(a.left() + 1, a.bottom()), line);
    }
    const QRect count = f.tree->visualRect(layout.siblingAtColumn(1));
    QCOMPARE(shot.pixel(count.right(), count.top() + 1), line);
    // The eye sits centred at the top of its cell.
    const QRect mark = f.tree->visualRect(area.siblingAtColumn(1));
    const QImage eye = MainImage(miEye).toImage();
    const int left = mark.left() + (mark.width() - kMainImageSize) / 2;
    QCOMPARE(shot.pixel(left + 10, mark.top() + 7), eye.pixel(10, 7));
  }

  // The indentation of a selected row shows the same light selection as its
  // cells; a row reached by Tab shows a frame; counts show whole.
  void selectionFocusAndCountPaint() {
    Fixture f;
    f.Run("L:A|A:A,x");
    f.Show();
    const QColor highlight = f.tree->palette().color(QPalette::Highlight);
    // No focused row left (the last one was closed), then Tab.
    f.tree->selectionModel()->clear();
    f.tree->clearFocus();
    f.tree->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(f.tree->hasFocus());
    QVERIFY(f.tree->currentIndex().isValid());
    QVERIFY(f.tree->selectionModel()->selectedRows().isEmpty());
    const auto rowHasFramePixel = [&](const QModelIndex& index) {
      const QImage shot = f.tree->viewport()->grab().toImage();
      const QRect r = f.tree->visualRect(index);
      for (int x = 0; x < f.tree->viewport()->width(); ++x)
        if (shot.pixelColor(x, r.top()) == highlight) return true;
      return false;
    };
    QVERIFY(rowHasFramePixel(f.tree->currentIndex()));

    const QModelIndex area = f.model().index(0, 0, f.model().index(0, 0));
    f.tree->selectionModel()->setCurrentIndex(area, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const QImage shot = f.tree->viewport()->grab().toImage();
    const QRect cell = f.tree->visualRect(area);
    // Inside the indentation, left of the name cell.
    const QColor indent = shot.pixelColor(cell.left() - 4, cell.center().y());
    const QColor name = shot.pixelColor(cell.left() + 1, cell.center().y());
    QCOMPARE(indent, name);
    QVERIFY(indent != highlight);

    TMapLayout* big = f.core.Layouts->AddLayout("B");
    for (int i = 0; i < 1000; ++i) f.AddArea(big, "m");
    const QString count = QStringLiteral("1000");
    QVERIFY(f.tree->header()->sectionSize(1) >= f.tree->fontMetrics().horizontalAdvance(count) + 4);
  }

  void mainImages() {
    for (int i = 0; i < kMainImageCount; ++i) QCOMPARE(MainImage(i).size(), QSize(kMainImageSize, kMainImageSize));
    QVERIFY(MainImage(kMainImageCount).isNull());
    QCOMPARE(MainImage(miOpen).toImage(), MainImage(miAdd).toImage());
    const QImage blank = MainImage(miBlank).toImage();
    QCOMPARE(qAlpha(blank.pixel(10, 10)), 0);
  }
};

QTEST_MAIN(NavigatorTest)
#include "test_navigator.moc"
