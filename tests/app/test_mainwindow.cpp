#include "app/MainWindow.h"
#include "app/Navigator.h"
#include "app/Prompter.h"
#include "base/Version.h"
#include "view/DisplayMaps.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QLineEdit>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Answers every box at once and records it.
class RecordingPrompter : public zv::TPrompter {
public:
  void Message(QWidget*, zv::TMsgType type, const QString& text, const QString& details) override {
    Messages << text;
    Types << type;
    Details << details;
  }
  bool Ask(QWidget*, zv::TMsgType, const QString& text) override {
    Questions << text;
    return Answer;
  }
  QStringList Messages, Details, Questions;
  QList<zv::TMsgType> Types;
  bool Answer = false;
};

QAction* Item(zv::MainWindow& w, const char* name) { return w.findChild<QAction*>(QString::fromLatin1(name)); }

bool MapMenuEnabled(zv::MainWindow& w) { return w.findChild<QMenu*>("mmMap")->menuAction()->isEnabled(); }

QString DataFile(const char* relative) { return QStringLiteral(ZOVEVOD_TESTDATA_DIR "/") + QLatin1String(relative); }

} // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

private slots:
  void init() { zv::SetPrompter(&prompter_); prompter_ = RecordingPrompter(); }
  void cleanup() { zv::SetPrompter(nullptr); }

  void titleCarriesTheVersion() {
    zv::MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Zovevod - ") + QStringLiteral(ZOVEVOD_VERSION));
    QCOMPARE(QString::fromLatin1(ZOVEVOD_VERSION), QStringLiteral("1.0.3.0"));
  }

  void menusAsTheyStandAtStart() {
    zv::MainWindow window;
    QStringList captions;
    for (QAction* menu : window.menuBar()->actions()) {
      captions << menu->text().remove('&');
      for (QAction* item : menu->menu()->actions())
        captions << (item->isSeparator() ? QStringLiteral("-") : "  " + item->text().remove('&') + "|" +
                                                                     item->shortcut().toString());
    }
    const QStringList expected = {"File", "  Open...|Ctrl+O", "  Add...|", "  Close all|", "-",
                                  "  Export to Ambulo...|", "-", "  Exit|Alt+X", "Layout", "  New|",
                                  "  Close Layout|", "Map", "  Close Map|", "-",
                                  "  Pick calibration point|Ctrl+K", "  Save calibration as...|Ctrl+S", "View",
                                  "  Show calibration points|Alt+C", "  Show border of image|Alt+B", "Help",
                                  "  About..."
                                  "|"};
    QCOMPARE(captions, expected);
    // Both drawing options on, both ticked; nothing active yet.
    QVERIFY(Item(window, "mmViewCalibrationPoints")->isChecked());
    QVERIFY(Item(window, "mmViewImageBorder")->isChecked());
    QCOMPARE(int(window.View().Options()), 3);
    QVERIFY(!MapMenuEnabled(window));
    QVERIFY(!Item(window, "mmLayoutClose")->isEnabled());
    QCOMPARE(window.PageControl().tabText(0), QStringLiteral("Navigator"));
    QCOMPARE(window.PageControl().tabText(1), QStringLiteral("Calibration"));
    QCOMPARE(window.PageControl().currentIndex(), 0);
  }

  void viewItemsToggleTheirOption() {
    zv::MainWindow window;
    QAction* border = Item(window, "mmViewImageBorder");
    border->trigger();
    QVERIFY(!border->isChecked());
    QCOMPARE(int(window.View().Options()), 1);
    border->trigger();
    QVERIFY(border->isChecked());
    QCOMPARE(int(window.View().Options()), 3);
  }

  // Three files, the second failing: two load, one box names the second
  // without its folder and carries the reason; the dialog closes after the third.
  void openFlowReportsEachFailingFile() {
    QTemporaryDir dir;
    QFile bad(dir.filePath("bad.png"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("not a picture");
    bad.close();
    QVERIFY(QFile::copy(DataFile("export/merc-wgs84.map"), dir.filePath("a.map")));
    QVERIFY(QFile::copy(DataFile("export/merc-wgs84.jpg"), dir.filePath("merc-wgs84.jpg")));

    zv::MainWindow window;
    window.show();
    window.OpenFiles({dir.filePath("a.map"), dir.filePath("bad.png"), DataFile("export/merc-wgs84.map")}, true);
    QCOMPARE(prompter_.Messages, QStringList{"Loading error (bad.png) !"});
    QCOMPARE(prompter_.Types.value(0), zv::TMsgType::Error);
    QVERIFY(!prompter_.Details.value(0).isEmpty());
    zv::TMapLayouts& layouts = *window.View().Layouts;
    QCOMPARE(layouts.Count(), 1);
    QCOMPARE((*layouts[0]).Areas->Count(), 3); // the failed area stays, half loaded
    QVERIFY(window.View().ActiveMapArea());
    QVERIFY(MapMenuEnabled(window));
    QVERIFY(Item(window, "mmLayoutClose")->isEnabled());
    QVERIFY(!window.findChild<QDialog*>("FormImport")->isVisible());
    // The navigator follows, expanded; the calibration table holds the shown map's points.
    zv::TNavigatorTree& tree = window.Navigator();
    QCOMPARE(tree.model()->rowCount(), 1);
    QCOMPARE(tree.model()->rowCount(tree.model()->index(0, 0)), 3);
    QVERIFY(tree.isExpanded(tree.model()->index(0, 0)));

    Item(window, "mmMapClose")->trigger();
    QCOMPARE((*layouts[0]).Areas->Count(), 2);
    QVERIFY(!MapMenuEnabled(window));
    QVERIFY(!Item(window, "mmLayoutClose")->isEnabled());

    // Open closes everything first, even when every file then fails.
    window.OpenFiles({dir.filePath("bad.png")}, true);
    QCOMPARE(layouts.Count(), 1);
    QCOMPARE((*layouts[0]).Areas->Count(), 1);
    Item(window, "mmFileCloseAll")->trigger();
    QCOMPARE(layouts.Count(), 0);
  }

  // The status bar reads the pointer's place on the map, in degrees too.
  void statusBarFollowsThePointer() {
    zv::MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.OpenFiles({DataFile("export/merc-wgs84.map")}, false);
    zv::TDisplayMaps& view = window.View();
    auto* readout = window.findChild<QLabel*>("LblPointer");
    QVERIFY(readout);
    QTest::mouseMove(&view, QPoint(58 - view.OffsetX(), 40 - view.OffsetY()));
    QTRY_VERIFY(readout->text().startsWith("x 58  y 40   "));
    QVERIFY(readout->text().contains("fit of 9 points, RMS"));
    QTest::mouseMove(&view, QPoint(2, 2)); // above the picture, which sits at the lower right
    QTRY_COMPARE(readout->text(), QString());
  }

  // Files dropped from a file manager open as File > Add... opens them.
  void droppedFilesAreAdded() {
    zv::MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.View().Layouts->AddLayout("Kept");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(DataFile("export/merc-wgs84.map"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    QTRY_COMPARE(window.View().Layouts->Count(), 2);
    QCOMPARE(QString::fromStdString(window.View().ActiveMapArea()->Name), QStringLiteral("merc-wgs84"));
  }

  void newLayoutTwiceGivesTwoAlikeInactiveLayouts() {
    zv::MainWindow window;
    Item(window, "mmLayoutNew")->trigger();
    Item(window, "mmLayoutNew")->trigger();
    zv::TMapLayouts& layouts = *window.View().Layouts;
    QCOMPARE(layouts.Count(), 2);
    QCOMPARE(QString::fromStdString(layouts[0]->Name), QStringLiteral("New layout"));
    QCOMPARE(QString::fromStdString(layouts[1]->Name), QStringLiteral("New layout"));
    QVERIFY(!window.View().ActiveLayout());
    // The new row's name is being edited.
    QVERIFY(window.Navigator().indexWidget(window.Navigator().LastAddedLayoutNode()) ||
            window.Navigator().findChild<QLineEdit*>());
    QCOMPARE(window.Navigator().currentIndex(), window.Navigator().LastAddedLayoutNode());
  }

  void closeLayoutClearsTheActiveLayout() {
    zv::MainWindow window;
    zv::TMapLayout* layout = window.View().Layouts->AddLayout("L");
    window.View().SetActiveLayout(layout);
    QVERIFY(Item(window, "mmLayoutClose")->isEnabled());
    Item(window, "mmLayoutClose")->trigger();
    QCOMPARE(window.View().Layouts->Count(), 0);
    QVERIFY(!window.View().ActiveLayout());
    QVERIFY(!Item(window, "mmLayoutClose")->isEnabled());
  }

private:
  RecordingPrompter prompter_;
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
