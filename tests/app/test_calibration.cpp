#include "app/CalibrationPanel.h"
#include "app/CalibrationTable.h"
#include "app/Prompter.h"
#include "model/CalibrationFit.h"
#include "model/DisplayMapsCore.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QFont>
#include <QLineEdit>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <vector>

using zv::TCalibrationTable;
using zv::TNavigateBtn;
using zv::TRecordState;

namespace {

class CountingView : public zv::TDisplayMapsCore {
public:
  int invalidated = 0;
  void Invalidate() override { ++invalidated; }
};

class RecordingPrompter : public zv::TPrompter {
public:
  QStringList messages;
  QList<zv::TMsgType> messageTypes;
  QStringList questions;
  QList<zv::TMsgType> questionTypes;
  bool answer = true;
  void Message(QWidget*, zv::TMsgType type, const QString& text, const QString&) override {
    messages << text;
    messageTypes << type;
  }
  bool Ask(QWidget*, zv::TMsgType type, const QString& text) override {
    questions << text;
    questionTypes << type;
    return answer;
  }
};

struct Pt {
  int x, y;
  double lat, lon;
  bool operator==(const Pt&) const = default;
};

std::vector<Pt> Points(const zv::TMapArea& area) {
  std::vector<Pt> out;
  for (const auto& p : area.Points)
    out.push_back({p.X, p.Y, static_cast<double>(p.Lat), static_cast<double>(p.Lon)});
  return out;
}

const std::vector<Pt> kFour = {{10, 20, 48.5, 17.25}, {30, 40, 48.125, 17.5}, {50, 60, 48.75, 17.0625}, {70, 80, 49.0, 18.0}};
const std::vector<std::string> kLines = {"OziExplorer Map Data File Version 2.2", "north", "north.bmp"};

zv::TMapArea* ShowArea(CountingView& view, const std::vector<Pt>& points) {
  zv::TMapLayout* layout = view.Layouts->AddLayout("Default");
  zv::TMapArea* area = layout->Areas->Add(std::make_unique<zv::TMapArea>(&view, layout));
  area->Lines = kLines;
  for (const Pt& p : points) area->Points.push_back({p.x, p.y, p.lon, p.lat});
  view.ShowMapArea(area);
  return area;
}

QList<int> Numbers(const TCalibrationTable& table) {
  QList<int> out;
  for (int row = 0; row < table.rowCount(); ++row) out << table.AsInteger(row, TCalibrationTable::fNo);
  return out;
}

QList<int> Enabled(const zv::TCalibrationPanel& panel) {
  QList<int> out;
  for (int b = 0; b < 5; ++b) {
    QToolButton* button = panel.NavigatorButton(static_cast<TNavigateBtn>(b));
    out << (button->isEnabled() && panel.Navigator()->isEnabled() ? 1 : 0);
  }
  return out;
}

} // namespace

class CalibrationTest : public QObject {
  Q_OBJECT

private:
  RecordingPrompter prompter;
  std::unique_ptr<CountingView> view;
  std::unique_ptr<zv::TCalibrationPanel> panel;
  std::unique_ptr<QAbstractItemModelTester> tester;

  TCalibrationTable& table() { return panel->Table(); }
  void click(TNavigateBtn b) { panel->NavigatorButton(b)->click(); }
  void setCell(int row, TCalibrationTable::TField f, const QString& text) {
    QVERIFY(table().setData(table().index(row, f), text));
  }
  void showPanel() {
    panel->resize(300, 300);
    panel->show();
    panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel.get()));
  }
  // Opens the in-place editor on a cell and types text into it.
  QLineEdit* typeInto(int row, int column, const QString& text) {
    QTableView* grid = panel->Grid();
    grid->setFocus();
    grid->setCurrentIndex(table().index(row, column));
    grid->edit(table().index(row, column));
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    if (!editor) return nullptr;
    editor->selectAll();
    QTest::keyClicks(editor, text);
    return editor;
  }

private slots:
  void init() {
    prompter = RecordingPrompter();
    zv::SetPrompter(&prompter);
    view = std::make_unique<CountingView>();
    panel = std::make_unique<zv::TCalibrationPanel>(*view);
    tester = std::make_unique<QAbstractItemModelTester>(&panel->Table(),
                                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
  }
  void cleanup() {
    tester.reset();
    panel.reset();
    view.reset();
    zv::SetPrompter(nullptr);
  }

  void layoutAndNames() {
    QCOMPARE(panel->Grid()->objectName(), QStringLiteral("DgrCalibrationPoints"));
    QCOMPARE(panel->Navigator()->objectName(), QStringLiteral("DnvCalibrationPoints"));
    const QStringList names = {"Insert", "Delete", "Edit", "Post", "Cancel"};
    QCOMPARE(panel->Navigator()->findChildren<QToolButton*>().size(), 5);
    for (int b = 0; b < 5; ++b) {
      QToolButton* button = panel->NavigatorButton(static_cast<TNavigateBtn>(b));
      QCOMPARE(button->accessibleName(), names[b]);
      // The tip names the command and its key, which works on the whole page.
      QVERIFY2(button->toolTip().startsWith(names[b] + " ("), qPrintable(button->toolTip()));
      QVERIFY(!button->defaultAction()->shortcut().isEmpty());
      QVERIFY(!button->text().isEmpty() || !button->icon().isNull());
    }
    QCOMPARE(table().columnCount(), 6);
    for (int f = 0; f < table().columnCount(); ++f)
      QCOMPARE(table().headerData(f, Qt::Horizontal).toString(),
               QStringList({"No", "X", "Y", "Lat", "Lon", "Residual"})[f]);
    showPanel();
    QCOMPARE(panel->Navigator()->parentWidget()->height(), 28);
    QCOMPARE(panel->Grid()->geometry().top(), 28);
    QCOMPARE(panel->Grid()->geometry().bottom(), panel->height() - 1);
  }

  // Widened, the page's width goes to Lat and Lon, so their texts show whole.
  void latAndLonTakeTheWidth() {
    showPanel();
    QTableView* grid = panel->Grid();
    const int lat = grid->columnWidth(TCalibrationTable::fLat);
    panel->resize(700, 300);
    QTRY_VERIFY(grid->columnWidth(TCalibrationTable::fLat) > lat);
    int total = 0;
    for (int f = 0; f < table().columnCount(); ++f) total += grid->columnWidth(f);
    QCOMPARE(total, grid->viewport()->width());
    QVERIFY(qAbs(grid->columnWidth(TCalibrationTable::fLat) - grid->columnWidth(TCalibrationTable::fLon)) <= 1);
    panel->resize(60, 300); // narrower than the texts: the columns keep their width and scroll
    QTRY_COMPARE(grid->columnWidth(TCalibrationTable::fLat), lat);
  }

  void parseFieldText_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("error");
    const QVariant none;
    QTest::newRow("empty integer is null") << 1 << "" << none << "";
    QTest::newRow("blanks are empty") << 3 << "  " << none << "";
    QTest::newRow("integer") << 1 << " -12 " << QVariant(-12) << "";
    QTest::newRow("lowest integer") << 0 << "-2147483648" << QVariant(-2147483647 - 1) << "";
    QTest::newRow("integer too big") << 2 << "2147483648" << none << "'2147483648' nie je platné celé číslo";
    QTest::newRow("letters in integer") << 1 << "abc" << none << "'abc' nie je platné celé číslo";
    QTest::newRow("fraction in integer") << 0 << "1.5" << none << "'1.5' nie je platné celé číslo";
    QTest::newRow("real") << 3 << "48.125" << QVariant(48.125) << "";
    QTest::newRow("real with exponent") << 4 << "-1.5e2" << QVariant(-150.0) << "";
    QTest::newRow("real beyond double") << 3 << "1e400" << none << "'1e400' is no latitude. Accepted forms: ";
    QTest::newRow("nan") << 4 << "nan" << none << "'nan' is no longitude. Accepted forms: ";
    QTest::newRow("printed latitude") << 3 << "46°25.5'N" << QVariant(46.425) << "";
    QTest::newRow("longitude's letter in Lat") << 3 << "46.5E" << none << "'46.5E' is no latitude. Accepted forms: ";
  }
  void parseFieldText() {
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(QVariant, value);
    QFETCH(QString, error);
    QVariant got;
    QString message;
    const bool ok = TCalibrationTable::ParseFieldText(static_cast<TCalibrationTable::TField>(field), text, got, message);
    QCOMPARE(ok, error.isEmpty());
    // The coordinates' refusal goes on to list every accepted form.
    QCOMPARE(message.left(error.size()), error);
    if (ok) {
      QCOMPARE(got.isNull(), value.isNull());
      if (!value.isNull()) QCOMPARE(got.toDouble(), value.toDouble());
    }
  }

  void refillWithoutAreaStaysClosed() {
    panel->RefillCalibrationTable();
    QVERIFY(!table().Active());
    QCOMPARE(table().rowCount(), 0);
    QCOMPARE(Enabled(*panel), QList<int>({0, 0, 0, 0, 0}));
    // A save that still happens changes nothing.
    table().Append();
    QCOMPARE(table().rowCount(), 0);
  }

  void refillFillsRowsInOrder() {
    zv::TMapArea* area = ShowArea(*view, kFour);
    area->Points[1].Lat = 48.123456789012345678L;
    const int invalidated = view->invalidated;
    QList<bool> fillingSeen;
    const auto watch =
        connect(&table(), &QAbstractItemModel::rowsInserted, this, [&] { fillingSeen << panel->Filling(); });
    panel->RefillCalibrationTable();
    disconnect(watch);
    QVERIFY(!panel->Filling());
    QCOMPARE(fillingSeen, QList<bool>({true, true, true, true}));
    QCOMPARE(Numbers(table()), QList<int>({1, 2, 3, 4}));
    QCOMPARE(table().State(), TRecordState::Browse);
    QCOMPARE(table().data(table().index(2, TCalibrationTable::fX)).toString(), QStringLiteral("50"));
    QCOMPARE(table().data(table().index(3, TCalibrationTable::fLon)).toString(), QStringLiteral("18"));
    // Fifteen significant digits at most.
    QCOMPARE(table().data(table().index(1, TCalibrationTable::fLat)).toString(), QStringLiteral("48.1234567890123"));
    QCOMPARE(view->invalidated, invalidated); // the refill writes nothing back
    QCOMPARE(area->Points.size(), std::size_t{4});
    QCOMPARE(Enabled(*panel), QList<int>({1, 1, 1, 0, 0}));
    // Closing: rows gone, bar disabled.
    view->CloseAll();
    panel->RefillCalibrationTable();
    QVERIFY(!table().Active());
    QCOMPARE(Enabled(*panel), QList<int>({0, 0, 0, 0, 0}));
  }

  void navigatorRules_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QList<int>>("enabled"); // Insert, Delete, Edit, Post, Cancel
    QTest::newRow("open, empty") << 0 << "" << QList<int>({1, 0, 0, 0, 0});
    QTest::newRow("inserting into empty") << 0 << "insert" << QList<int>({1, 1, 0, 1, 1});
    QTest::newRow("browsing") << 2 << "" << QList<int>({1, 1, 1, 0, 0});
    QTest::newRow("editing") << 2 << "edit" << QList<int>({1, 1, 0, 1, 1});
    QTest::newRow("typing starts editing") << 2 << "type" << QList<int>({1, 1, 0, 1, 1});
    QTest::newRow("after post") << 2 << "edit,post" << QList<int>({1, 1, 1, 0, 0});
    QTest::newRow("after cancelling the only insert") << 0 << "insert,cancel" << QList<int>({1, 0, 0, 0, 0});
  }
  void navigatorRules() {
    QFETCH(int, points);
    QFETCH(QString, action);
    QFETCH(QList<int>, enabled);
    ShowArea(*view, std::vector<Pt>(kFour.begin(), kFour.begin() + points));
    panel->RefillCalibrationTable();
    for (const QString& step : action.split(',', Qt::SkipEmptyParts)) {
      if (step == "insert") click(TNavigateBtn::nbInsert);
      if (step == "edit") click(TNavigateBtn::nbEdit);
      if (step == "post") click(TNavigateBtn::nbPost);
      if (step == "cancel") click(TNavigateBtn::nbCancel);
      if (step == "type") setCell(0, TCalibrationTable::fY, "5");
    }
    QCOMPARE(Enabled(*panel), enabled);
  }

  // The commands' keys work wherever the focus is on the page.
  void commandKeysOnThePage() {
    zv::TMapArea* area = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    showPanel();
    QTableView* grid = panel->Grid();
    grid->setFocus();
    grid->setCurrentIndex(table().index(1, 0));
    QTest::keyClick(grid, Qt::Key_Insert);
    QCOMPARE(table().State(), TRecordState::Insert);
    QCOMPARE(grid->currentIndex(), table().index(1, TCalibrationTable::fX));
    setCell(1, TCalibrationTable::fX, "9");
    QTest::keyClick(grid, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(table().State(), TRecordState::Browse);
    QCOMPARE(area->Points.size(), std::size_t(5));
    QTest::keyClick(grid, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(table().State(), TRecordState::Edit);
    QTest::keyClick(grid, Qt::Key_Backspace, Qt::ControlModifier);
    QCOMPARE(table().State(), TRecordState::Browse);
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(area->Points.size(), std::size_t(4));
  }

  void insertIntoAreaWithoutPoints() {
    zv::TMapArea* area = ShowArea(*view, {});
    const int invalidated = view->invalidated;
    panel->RefillCalibrationTable();
    QVERIFY(table().Active());
    QCOMPARE(table().rowCount(), 0);
    click(TNavigateBtn::nbInsert);
    QCOMPARE(Numbers(table()), QList<int>({1}));
    QCOMPARE(table().State(), TRecordState::Insert);
    setCell(0, TCalibrationTable::fX, "12");
    click(TNavigateBtn::nbPost);
    QCOMPARE(Points(*area), std::vector<Pt>({{12, 0, 0, 0}}));
    QCOMPARE(view->invalidated, invalidated + 1);
    QCOMPARE(area->Lines, kLines);
  }

  void insertBeforeSecondRow() {
    zv::TMapArea* area = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    panel->Grid()->setCurrentIndex(table().index(1, 0));
    QCOMPARE(table().Cursor(), 1);
    click(TNavigateBtn::nbInsert);
    QCOMPARE(Numbers(table()), QList<int>({1, 5, 2, 3, 4}));
    QCOMPARE(table().Cursor(), 1);
    setCell(1, TCalibrationTable::fX, "99");
    setCell(1, TCalibrationTable::fLat, "47.5");
    click(TNavigateBtn::nbPost);
    QCOMPARE(Points(*area), std::vector<Pt>({kFour[0], {99, 0, 47.5, 0}, kFour[1], kFour[2], kFour[3]}));
    QCOMPARE(table().Cursor(), 1);
    QCOMPARE(panel->Grid()->currentIndex().row(), 1);
    panel->RefillCalibrationTable();
    QCOMPARE(Numbers(table()), QList<int>({1, 2, 3, 4, 5}));
    QCOMPARE(table().AsInteger(1, TCalibrationTable::fX), 99);
    QCOMPARE(area->Lines, kLines);
  }

  void deleteThenAppendThroughTheGrid() {
    zv::TMapArea* area = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    showPanel();
    QTableView* grid = panel->Grid();
    grid->setCurrentIndex(table().index(1, 1));
    click(TNavigateBtn::nbDelete);
    QCOMPARE(prompter.questions, QStringList({"Zmazať záznam?"}));
    QCOMPARE(prompter.questionTypes.value(0), zv::TMsgType::Confirmation);
    // Renumbered with the write-back: every row's number is its point's.
    QCOMPARE(Numbers(table()), QList<int>({1, 2, 3}));
    // Written back at once, as a save of a row is.
    QCOMPARE(Points(*area), std::vector<Pt>({kFour[0], kFour[2], kFour[3]}));
    // Below the last row the grid appends one.
    grid->setCurrentIndex(table().index(2, 1));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(Numbers(table()), QList<int>({1, 2, 3, 4}));
    QCOMPARE(table().State(), TRecordState::Insert);
    QCOMPARE(grid->currentIndex().row(), 3);
    // An untouched new last row gets no sibling.
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(table().rowCount(), 4);
    setCell(3, TCalibrationTable::fX, "5");
    click(TNavigateBtn::nbPost);
    QCOMPARE(Points(*area), std::vector<Pt>({kFour[0], kFour[2], kFour[3], {5, 0, 0, 0}}));
    QCOMPARE(table().Cursor(), 3); // the saved row stays current
    QCOMPARE(grid->currentIndex().row(), 3);
  }

  void deleteAnsweredNoKeepsTheRow() {
    ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    prompter.answer = false;
    click(TNavigateBtn::nbDelete);
    QCOMPARE(table().rowCount(), 4);
  }

  // A deleted point does not come back with the next refill.
  void refillAfterDeleteKeepsThePointGone() {
    zv::TMapArea* area = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    panel->Grid()->setCurrentIndex(table().index(1, 0));
    const int repaints = view->invalidated;
    click(TNavigateBtn::nbDelete);
    QCOMPARE(table().rowCount(), 3);
    QVERIFY(view->invalidated > repaints);
    panel->RefillCalibrationTable();
    QCOMPARE(Numbers(table()), QList<int>({1, 2, 3}));
    QCOMPARE(table().AsInteger(1, TCalibrationTable::fX), 50);
    QCOMPARE(Points(*area), std::vector<Pt>({kFour[0], kFour[2], kFour[3]}));
  }

  void editOneCell_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected"); // the point's new value
    QTest::newRow("Lat only") << int(TCalibrationTable::fLat) << "46.0625" << QVariant(46.0625);
    QTest::newRow("empty X is 0") << int(TCalibrationTable::fX) << "" << QVariant(0);
    QTest::newRow("empty Lon is 0") << int(TCalibrationTable::fLon) << " " << QVariant(0.0);
    QTest::newRow("Y") << int(TCalibrationTable::fY) << "-7" << QVariant(-7);
  }
  void editOneCell() {
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(QVariant, expected);
    zv::TMapArea* area = ShowArea(*view, kFour);
    // More than a double holds: the untouched values keep double precision.
    area->Points[0].Lon = 17.1234567890123456789L;
    const std::vector<Pt> before = Points(*area);
    panel->RefillCalibrationTable();
    panel->Grid()->setCurrentIndex(table().index(2, 0));
    click(TNavigateBtn::nbEdit);
    QCOMPARE(table().State(), TRecordState::Edit);
    setCell(2, static_cast<TCalibrationTable::TField>(field), text);
    click(TNavigateBtn::nbPost);
    std::vector<Pt> want = before;
    switch (field) {
    case TCalibrationTable::fX: want[2].x = expected.toInt(); break;
    case TCalibrationTable::fY: want[2].y = expected.toInt(); break;
    case TCalibrationTable::fLat: want[2].lat = expected.toDouble(); break;
    case TCalibrationTable::fLon: want[2].lon = expected.toDouble(); break;
    }
    QCOMPARE(Points(*area), want);
    QCOMPARE(table().Cursor(), 2);
    QCOMPARE(area->Lines, kLines);
  }

  // Rows left as they were keep whether their point had coordinates at all;
  // an edited row has them unless both are 0.
  void savingKeepsGridOnlyPointsApart() {
    zv::TMapArea* area = ShowArea(*view, kFour);
    for (auto& p : area->Points) p.HasLatLon = true;
    area->Points[1].Lat = area->Points[1].Lon = 0;
    area->Points[1].HasLatLon = false;
    panel->RefillCalibrationTable();
    panel->Grid()->setCurrentIndex(table().index(2, 0));
    click(TNavigateBtn::nbEdit);
    setCell(2, TCalibrationTable::fLat, "46.5");
    click(TNavigateBtn::nbPost);
    QCOMPARE(area->Points.size(), size_t(4));
    QVERIFY(area->Points[0].HasLatLon);
    QVERIFY(!area->Points[1].HasLatLon);
    QVERIFY(area->Points[2].HasLatLon);
  }

  // A pick appends a row and saves it, unless the current row is new and not
  // placed yet (after Insert), which it fills; every number follows.
  void pickSetsTheCurrentRow() {
    zv::TMapArea* area = ShowArea(*view, {});
    panel->RefillCalibrationTable();
    QCOMPARE(panel->PickTarget(), 1);
    const int repaints = view->invalidated;
    panel->PickPoint(12, 34);
    QCOMPARE(Points(*area), std::vector<Pt>({{12, 34, 0, 0}}));
    QVERIFY(!area->Points[0].HasLatLon);
    QCOMPARE(table().State(), TRecordState::Browse);
    QVERIFY(view->invalidated > repaints);

    area = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    panel->Grid()->setCurrentIndex(table().index(2, 0));
    QCOMPARE(panel->PickTarget(), 5);
    panel->PickPoint(5, 6);
    QCOMPARE(Points(*area), std::vector<Pt>({kFour[0], kFour[1], kFour[2], kFour[3], {5, 6, 0, 0}}));
    QCOMPARE(table().Cursor(), 4);
    // The cursor waits on the new row's latitude.
    QCOMPARE(panel->Grid()->currentIndex(), table().index(4, TCalibrationTable::fLat));
    panel->Grid()->setCurrentIndex(table().index(2, 0));
    click(TNavigateBtn::nbInsert);
    QCOMPARE(panel->Grid()->currentIndex(), table().index(2, TCalibrationTable::fX));
    QCOMPARE(panel->PickTarget(), 3);
    panel->PickPoint(7, 8);
    QCOMPARE(area->Points.size(), size_t(6));
    QCOMPARE(Points(*area)[2], (Pt{7, 8, 0, 0}));
    QCOMPARE(table().Cursor(), 2);
    QCOMPARE(Numbers(table()), QList<int>({1, 2, 3, 4, 5, 6}));
  }

  // Click, type, Tab, type, Enter, click...: the points come in order, each
  // row's number its point's, and the residual column fills in.
  void picksTypedInSequence() {
    zv::TMapArea* area = ShowArea(*view, {});
    area->Width = 1000;
    area->Height = 1000;
    panel->RefillCalibrationTable();
    showPanel();
    const struct {
      int x, y;
      const char *lat, *lon;
    } picks[] = {{100, 100, "48 30 N", "17 E"},
                 {300, 100, "48\u00B030'N", "17\u00B030' E"},
                 {100, 300, "N48.25", "17,0"},
                 {300, 300, "48 15 0 N", "E 17.5"}};
    for (const auto& p : picks) {
      QCOMPARE(panel->PickTarget(), table().rowCount() + 1);
      panel->PickPoint(p.x, p.y);
      QTableView* grid = panel->Grid();
      QCOMPARE(grid->currentIndex(), table().index(table().rowCount() - 1, TCalibrationTable::fLat));
      QTRY_VERIFY(grid->hasFocus());
      // Keys go where a person's would: to whatever has the focus.
      const auto type = [](const char* text) {
        for (QChar c : QString::fromUtf8(text)) QTest::keyClicks(QApplication::focusWidget(), QString(c));
      };
      type(p.lat);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      type(p.lon);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      QVERIFY2(prompter.messages.isEmpty(), qPrintable(prompter.messages.join(" / ")));
      QCOMPARE(table().State(), TRecordState::Browse);
    }
    QCOMPARE(Points(*area), std::vector<Pt>({{100, 100, 48.5, 17}, {300, 100, 48.5, 17.5}, {100, 300, 48.25, 17},
                                              {300, 300, 48.25, 17.5}}));
    QCOMPARE(Numbers(table()), QList<int>({1, 2, 3, 4}));
    const std::vector<double> loo = area->Fit()->LooDistances();
    for (int row = 0; row < 4; ++row)
      QCOMPARE(table().index(row, table().Column(TCalibrationTable::fResidual)).data().toString(),
               QString::number(loo[row], 'f', 1));
    QVERIFY(!(table().flags(table().index(0, table().Column(TCalibrationTable::fResidual))) & Qt::ItemIsEditable));
  }

  // Undo and redo walk the area's points back and forth, one history per area.
  void undoAndRedoPerArea() {
    zv::TMapArea* first = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    QVERIFY(!panel->CanUndo());
    panel->PickPoint(1, 2);
    setCell(4, TCalibrationTable::fLat, "46");
    click(TNavigateBtn::nbPost);
    zv::TMapArea* second = ShowArea(*view, {});
    panel->RefillCalibrationTable();
    QVERIFY(!panel->CanUndo());
    panel->PickPoint(7, 8);
    panel->Undo();
    QVERIFY(second->Points.empty());
    QVERIFY(panel->CanRedo());
    view->ShowMapArea(first);
    panel->RefillCalibrationTable();
    panel->Undo();
    QCOMPARE(Points(*first).back(), (Pt{1, 2, 0, 0}));
    panel->Undo();
    QCOMPARE(Points(*first), kFour);
    QCOMPARE(table().rowCount(), 4);
    panel->Redo();
    QCOMPARE(Points(*first).size(), std::size_t(5));
    // A new change drops what Redo had.
    panel->PickPoint(9, 9);
    QVERIFY(!panel->CanRedo());
    // A dragged mark moves its own row's point, whatever row is current;
    // undone, it is back.
    panel->Grid()->setCurrentIndex(table().index(3, 0));
    click(TNavigateBtn::nbInsert);
    panel->MovePoint(1, 33, 44);
    QCOMPARE(Points(*first)[1], (Pt{33, 44, kFour[1].lat, kFour[1].lon}));
    QCOMPARE(first->Points.size(), std::size_t(6));
    QCOMPARE(table().Cursor(), 1);
    panel->Undo();
    QCOMPARE(Points(*first)[1], kFour[1]);
  }

  // Rows of another area than the one filled from are refilled before a pick.
  void pickAfterTheActiveAreaChanged() {
    ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    zv::TMapArea* other = ShowArea(*view, {});
    panel->PickPoint(1, 2);
    QCOMPARE(Points(*other), std::vector<Pt>({{1, 2, 0, 0}}));
    QCOMPARE(table().rowCount(), 1);
  }

  // Every finding about a point makes its row red, its texts the tooltip.
  void rowsWithFindingsAreRed() {
    zv::TMapArea* area = ShowArea(*view, kFour);
    area->Width = 60;
    area->Height = 200;
    area->Points[1].Lat = 95;
    area->Points[1].HasLatLon = true;
    panel->RefillCalibrationTable();
    for (int row = 0; row < 4; ++row) {
      const QModelIndex cell = table().index(row, TCalibrationTable::fX);
      const QString tip = cell.data(Qt::ToolTipRole).toString();
      QCOMPARE(cell.data(Qt::ForegroundRole).isValid(), row == 1 || row == 3);
      QCOMPARE(tip.isEmpty(), row != 1 && row != 3);
    }
    QCOMPARE(table().index(1, 0).data(Qt::ToolTipRole).toString(),
             QStringLiteral("Point 2 has latitude 95.000000, outside -90..90: check it."));
    QVERIFY(table().index(3, 0).data(Qt::ToolTipRole).toString().startsWith("Point 4 (70, 80) lies outside the picture"));
    // Mended: the row turns back.
    panel->Grid()->setCurrentIndex(table().index(3, 0));
    setCell(3, TCalibrationTable::fX, "55");
    click(TNavigateBtn::nbPost);
    QVERIFY(!table().index(3, 0).data(Qt::ForegroundRole).isValid());
  }

  // A point far from where the others put it shows in red with its distance.
  void suspectRowsAreRed() {
    std::vector<Pt> points;
    for (int i = 0; i < 6; ++i) points.push_back({100 * (i % 3), 100 * (i / 3), 48.0 - 0.01 * (i / 3), 17.0 + 0.01 * (i % 3)});
    zv::TMapArea* area = ShowArea(*view, points);
    for (auto& p : area->Points) p.HasLatLon = true;
    area->Points[4].Lat += 0.5;
    panel->RefillCalibrationTable();
    for (int row = 0; row < 6; ++row) {
      const QModelIndex cell = table().index(row, TCalibrationTable::fLat);
      QCOMPARE(cell.data(Qt::ForegroundRole).isValid(), row == 4);
      QCOMPARE(cell.data(Qt::ToolTipRole).toString().startsWith("Point 5 is "), row == 4);
    }
    // Mended and saved: no row is red any more.
    panel->Grid()->setCurrentIndex(table().index(4, 0));
    click(TNavigateBtn::nbEdit);
    setCell(4, TCalibrationTable::fLat, QString::number(static_cast<double>(area->Points[4].Lat) - 0.5, 'g', 15));
    click(TNavigateBtn::nbPost);
    QVERIFY(!table().index(4, 1).data(Qt::ForegroundRole).isValid());
  }

  void cancelDropsPendingRows_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("insert") << "insert";
    QTest::newRow("edit") << "edit";
    QTest::newRow("typed edit") << "type";
  }
  void cancelDropsPendingRows() {
    QFETCH(QString, action);
    zv::TMapArea* area = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    panel->Grid()->setCurrentIndex(table().index(1, 0));
    const int invalidated = view->invalidated;
    if (action == "insert") click(TNavigateBtn::nbInsert);
    if (action == "edit") click(TNavigateBtn::nbEdit);
    setCell(1, TCalibrationTable::fX, "1234");
    click(TNavigateBtn::nbCancel);
    QCOMPARE(table().State(), TRecordState::Browse);
    QCOMPARE(Numbers(table()), QList<int>({1, 2, 3, 4}));
    QCOMPARE(table().AsInteger(1, TCalibrationTable::fX), 30);
    QCOMPARE(table().Cursor(), 1);
    QCOMPARE(Points(*area), kFour);
    QCOMPARE(view->invalidated, invalidated);
  }

  void movingAwaySavesOrDrops() {
    zv::TMapArea* area = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    QTableView* grid = panel->Grid();
    // An untouched insert is dropped when the user moves on.
    grid->setCurrentIndex(table().index(1, 0));
    click(TNavigateBtn::nbInsert);
    grid->setCurrentIndex(table().index(3, 0));
    QCOMPARE(Numbers(table()), QList<int>({1, 2, 3, 4}));
    QCOMPARE(table().Cursor(), 2);
    QCOMPARE(grid->currentIndex().row(), 2);
    // A typed one is saved, and the user's new row is current afterwards.
    setCell(0, TCalibrationTable::fY, "21");
    grid->setCurrentIndex(table().index(3, 0));
    QCOMPARE(table().State(), TRecordState::Browse);
    QCOMPARE(area->Points[0].Y, 21);
    QCOMPARE(table().Cursor(), 3);
  }

  void typedCellSavesWhenLeavingTheRow_data() {
    QTest::addColumn<QString>("leave");
    QTest::newRow("Down") << "down";
    QTest::newRow("click on another row") << "click";
  }
  void typedCellSavesWhenLeavingTheRow() {
    QFETCH(QString, leave);
    zv::TMapArea* area = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    showPanel();
    QTableView* grid = panel->Grid();
    const int invalidated = view->invalidated;
    QLineEdit* editor = typeInto(1, TCalibrationTable::fLon, "16.5");
    QVERIFY(editor);
    if (leave == "down") QTest::keyClick(editor, Qt::Key_Down);
    if (leave == "click")
      QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(table().index(3, 1)).center());
    QVERIFY(prompter.messages.isEmpty());
    QCOMPARE(area->Points[1].Lon, 16.5L);
    QCOMPARE(view->invalidated, invalidated + 1);
    QCOMPARE(table().State(), TRecordState::Browse);
    const int target = leave == "down" ? 2 : 3;
    QCOMPARE(table().Cursor(), target);
    QCOMPARE(grid->currentIndex().row(), target);
  }

  void badCellRefusedAndRowNotSaved_data() {
    QTest::addColumn<QString>("leave"); // how the user tries to leave the cell
    QTest::newRow("Tab") << "tab";
    QTest::newRow("Down") << "down";
    QTest::newRow("Post") << "post";
    QTest::newRow("Insert") << "insert";
    QTest::newRow("click on another row") << "click";
  }
  void badCellRefusedAndRowNotSaved() {
    QFETCH(QString, leave);
    zv::TMapArea* area = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    showPanel();
    QTableView* grid = panel->Grid();
    QLineEdit* editor = typeInto(1, TCalibrationTable::fX, "abc");
    QVERIFY(editor);
    QCOMPARE(table().State(), TRecordState::Edit);
    if (leave == "tab") QTest::keyClick(editor, Qt::Key_Tab);
    if (leave == "down") QTest::keyClick(editor, Qt::Key_Down);
    if (leave == "post") click(TNavigateBtn::nbPost);
    if (leave == "insert") click(TNavigateBtn::nbInsert);
    if (leave == "click")
      QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(table().index(3, 1)).center());
    QCOMPARE(prompter.messages, QStringList({"'abc' nie je platné celé číslo"}));
    QCOMPARE(prompter.messageTypes.value(0), zv::TMsgType::Error);
    QCOMPARE(table().rowCount(), 4);
    QCOMPARE(table().Cursor(), 1);
    QCOMPARE(grid->currentIndex(), table().index(1, TCalibrationTable::fX));
    QCOMPARE(table().AsInteger(1, TCalibrationTable::fX), 30);
    QCOMPARE(Points(*area), kFour);
    // The editor stays open with the text, and keeps the focus.
    QVERIFY(grid->isPersistentEditorOpen(table().index(1, 1)) || editor->isVisible());
    QCOMPARE(editor->text(), QStringLiteral("abc"));
    QTRY_COMPARE(QApplication::focusWidget(), editor);
    // Mended, the row saves.
    editor->selectAll();
    QTest::keyClicks(editor, "77");
    click(TNavigateBtn::nbPost);
    QCOMPARE(prompter.messages.size(), 1);
    QCOMPARE(area->Points[1].X, 77);
    QCOMPARE(table().State(), TRecordState::Browse);
    // The model itself refuses such text too.
    QVERIFY(!table().setData(table().index(2, TCalibrationTable::fLat), "x1"));
    QCOMPARE(table().State(), TRecordState::Browse);
  }

  void saveWithoutActiveAreaChangesNothing() {
    zv::TMapArea* area = ShowArea(*view, kFour);
    panel->RefillCalibrationTable();
    // The area stays loaded but is no longer the active one.
    view->SetActiveMapArea(nullptr);
    const int invalidated = view->invalidated;
    setCell(0, TCalibrationTable::fX, "1");
    click(TNavigateBtn::nbPost);
    QCOMPARE(table().State(), TRecordState::Browse);
    QCOMPARE(Points(*area), kFour);
    QCOMPARE(view->invalidated, invalidated);
    // Nor into another area that became active without a refill.
    zv::TMapArea* other = ShowArea(*view, {{1, 1, 1, 1}});
    setCell(0, TCalibrationTable::fX, "2");
    click(TNavigateBtn::nbPost);
    QCOMPARE(Points(*other), std::vector<Pt>({{1, 1, 1, 1}}));
  }

  // The grid columns follow the map's plane: none in latitude and longitude,
  // "Zone" only in UTM.
  void gridColumnsFollowThePlane_data() {
    QTest::addColumn<QString>("projection");
    QTest::addColumn<QString>("headers");
    QTest::newRow("latitude and longitude") << "Latitude/Longitude"
                                            << "No X Y Lat Lon Residual";
    QTest::newRow("UTM") << "(UTM) Universal Transverse Mercator"
                         << "No X Y Lat Lon Zone Easting Northing Residual";
    QTest::newRow("Transverse Mercator") << "Transverse Mercator"
                                         << "No X Y Lat Lon Easting Northing Residual";
  }
  void gridColumnsFollowThePlane() {
    QFETCH(QString, projection);
    QFETCH(QString, headers);
    zv::TMapArea* area = ShowArea(*view, kFour);
    area->Plane.Setup.Projection = projection.toStdString();
    area->Plane.Setup.CentralMeridian = 15;
    area->Plane.Zone = area->Plane.Setup.Projection == zv::kUtmProjection ? 33 : 0;
    panel->RefillCalibrationTable();
    QStringList shown;
    for (int c = 0; c < table().columnCount(); ++c) shown << table().headerData(c, Qt::Horizontal).toString();
    QCOMPARE(shown.join(' '), headers);
    QCOMPARE(table().Column(TCalibrationTable::fResidual), table().columnCount() - 1);
  }

  // Typing a grid pair makes it the point's: the latitude and longitude then
  // show it through the projection, in grey italics; typing them back
  // returns the row to them. Delete removes a grid point as any other.
  void typedGridPairIsThePoints() {
    zv::TMapArea* area = ShowArea(*view, {{10, 20, 49.5, 16.5}, {30, 40, 49.4, 16.6}});
    for (auto& p : area->Points) p.HasLatLon = true;
    area->Plane.Setup.Projection = zv::kUtmProjection;
    area->Plane.Zone = 33;
    panel->RefillCalibrationTable();
    const int zone = table().Column(TCalibrationTable::fZone), east = table().Column(TCalibrationTable::fEasting),
              north = table().Column(TCalibrationTable::fNorthing);
    QCOMPARE(table().index(0, zone).data().toString(), QStringLiteral("33N"));
    QVERIFY(table().index(0, east).data(Qt::FontRole).value<QFont>().italic());
    QVERIFY(!table().index(0, TCalibrationTable::fLat).data(Qt::FontRole).value<QFont>().italic());
    QVERIFY(qAbs(table().index(0, east).data().toString().toDouble() - 608609.44) < 0.01);
    QVERIFY(!(table().flags(table().index(0, zone)) & Qt::ItemIsEditable));

    QVERIFY(table().setData(table().index(0, east), QStringLiteral("612345")));
    QVERIFY(table().setData(table().index(0, north), QStringLiteral("5483210")));
    click(TNavigateBtn::nbPost);
    const zv::TCalibrationPoint& p = area->Points[0];
    QVERIFY(p.HasGrid && !p.HasLatLon);
    QCOMPARE(p.Easting, 612345.0);
    QCOMPARE(p.GridZone, 33);
    QCOMPARE(table().index(0, TCalibrationTable::fLat).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::gray));
    QVERIFY(table().index(0, TCalibrationTable::fLat).data(Qt::FontRole).value<QFont>().italic());
    // 612345 E 5483210 N in zone 33N, as cs2cs gives it.
    QVERIFY(qAbs(table().index(0, TCalibrationTable::fLat).data().toString().toDouble() - 49.491119341) < 1e-7);
    QVERIFY(qAbs(table().index(0, TCalibrationTable::fLon).data().toString().toDouble() - 16.551312730) < 1e-7);

    setCell(0, TCalibrationTable::fLat, "49.5");
    click(TNavigateBtn::nbPost);
    QVERIFY(area->Points[0].HasLatLon && !area->Points[0].HasGrid);
    QVERIFY(qAbs(double(area->Points[0].Lon) - 16.551312730) < 1e-7);

    QVERIFY(table().setData(table().index(1, east), QStringLiteral("612000")));
    QVERIFY(table().setData(table().index(1, north), QStringLiteral("5480000")));
    click(TNavigateBtn::nbPost);
    QVERIFY(area->Points[1].HasGrid);
    table().MoveTo(1);
    click(TNavigateBtn::nbDelete);
    QCOMPARE(area->Points.size(), std::size_t(1));
  }
};

QTEST_MAIN(CalibrationTest)
#include "test_calibration.moc"
