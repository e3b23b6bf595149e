#include "app/MainWindow.h"
#include "app/Navigator.h"
#include "app/Prompter.h"
#include "app/StopSignals.h"
#include "base/Version.h"
#include "view/DisplayMaps.h"
#include "app/CalibrationPanel.h"
#include "model/CalibrationFit.h"
#include "model/MapModel.h"
#include "model/MapProjection.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QDialog>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QLineEdit>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <csignal>

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
  zv::TAnswer AskYesNoCancel(QWidget*, zv::TMsgType, const QString& text) override {
    ThreeWay << text;
    return Answers.isEmpty() ? zv::TAnswer::No : Answers.takeFirst();
  }
  QStringList Messages, Details, Questions, ThreeWay;
  QList<zv::TMsgType> Types;
  QList<zv::TAnswer> Answers;
  bool Answer = false;
};

QAction* Item(zv::MainWindow& w, const char* name) { return w.findChild<QAction*>(QString::fromLatin1(name)); }

bool MapMenuEnabled(zv::MainWindow& w) { return w.findChild<QMenu*>("mmMap")->menuAction()->isEnabled(); }

QString DataFile(const char* relative) { return QStringLiteral(ZOVEVOD_TESTDATA_DIR "/") + QLatin1String(relative); }

// A copy of the test map and its picture in dir, as a.map.
QString CopyMap(const QTemporaryDir& dir) {
  const QString map = dir.filePath("a.map");
  QFile::copy(DataFile("export/merc-wgs84.map"), map);
  QFile::copy(DataFile("export/merc-wgs84.jpg"), dir.filePath("merc-wgs84.jpg"));
  QFile(map).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  return map;
}

QByteArray Contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString ChangedQuestion(const char* name) {
  return QStringLiteral("The calibration points of %1 were changed. Save them?").arg(QLatin1String(name));
}

} // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

private slots:
  void init() {
    zv::SetPrompter(&prompter_);
    prompter_ = RecordingPrompter();
  }
  void cleanup() { zv::SetPrompter(nullptr); }

  void titleCarriesTheVersion() {
    zv::MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Zovevod - ") + QStringLiteral(ZOVEVOD_VERSION));
    QCOMPARE(QString::fromLatin1(ZOVEVOD_VERSION), QStringLiteral("1.0.3.0"));
    // The program's own icon, as installed for the desktop.
    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(!window.windowIcon().pixmap(48, 48).isNull());
    // About takes it from the same place.
    Item(window, "mmHelpAbout")->trigger();
    QCOMPARE(prompter_.Messages.size(), 1);
    QVERIFY(prompter_.Messages[0].startsWith(QStringLiteral("Zovevod ") + QStringLiteral(ZOVEVOD_VERSION) + "\n"));
  }

  // A screen reader says words, never object names; controls with text or a
  // buddy label speak for themselves.
  void accessibleNamesAreWords() {
    zv::MainWindow window;
    const struct {
      const char *Object, *Name;
    } named[] = {{"DisplayMaps", "Map view"},
                 {"VstNavigator", "Maps and layouts"},
                 {"DgrCalibrationPoints", "Calibration points"},
                 {"DnvCalibrationPoints", "Calibration point commands"},
                 {"PgcMain", "Pages"},
                 {"TbrMain", "Tool bar"},
                 {"StatusBar", ""},
                 {"MlbInfoWGS84", ""}};
    for (const auto& row : named) {
      auto* w = window.findChild<QWidget*>(QString::fromLatin1(row.Object));
      QVERIFY2(w, row.Object);
      QCOMPARE(w->accessibleName(), QString::fromLatin1(row.Name));
    }
    for (QWidget* w : window.findChildren<QWidget*>())
      if (!w->objectName().isEmpty()) QVERIFY2(w->accessibleName() != w->objectName(), qPrintable(w->objectName()));
  }

  // Tab reaches every control of the window, on either page.
  void tabReachesEveryControl() {
    zv::MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto chain = [&] {
      QStringList names;
      QWidget* w = &window.View();
      for (int i = 0; i < 200; ++i, w = w->nextInFocusChain()) {
        // A widget with a focus proxy is one stop with it (the pages and their tab bar).
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled() && w->window() == &window &&
            !w->focusProxy())
          names << (w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName());
        if (names.size() > 1 && w->nextInFocusChain() == &window.View()) break;
      }
      return names;
    };
    QCOMPARE(chain(), (QStringList{"DisplayMaps", "qt_tabwidget_tabbar", "VstNavigator", "TbtOpen", "TbtAdd"}));
    // The calibration page with a map's points: its enabled commands too.
    window.OpenFiles({DataFile("export/merc-wgs84.map")}, false);
    window.PageControl().setCurrentIndex(1);
    QCOMPARE(chain(), (QStringList{"DisplayMaps", "qt_tabwidget_tabbar", "nbInsert", "nbDelete", "nbEdit",
                                   "TbtPickOnMap", "DgrCalibrationPoints", "TbtOpen", "TbtAdd"}));
  }

  void menusAsTheyStandAtStart() {
    zv::MainWindow window;
    QStringList captions;
    for (QAction* menu : window.menuBar()->actions()) {
      captions << menu->text().remove('&');
      for (QAction* item : menu->menu()->actions())
        captions << (item->isSeparator() ? QStringLiteral("-")
                                         : "  " + item->text().remove('&') + "|" + item->shortcut().toString());
    }
    const QStringList expected = {"File",
                                  "  Open...|Ctrl+O",
                                  "  Add...|",
                                  "  Close all|",
                                  "-",
                                  "  Export to Ambulo...|",
                                  "  Export to map apps...|",
                                  "-",
                                  "  Exit|Alt+X",
                                  "Edit",
                                  "  Undo|Ctrl+Z",
                                  "  Redo|Ctrl+Shift+Z",
                                  "Layout",
                                  "  New|",
                                  "  Close Layout|",
                                  "Map",
                                  "  Close Map|",
                                  "-",
                                  "  Pick calibration point|Ctrl+K",
                                  "  Save calibration|Ctrl+S",
                                  "  Save calibration as...|Ctrl+Shift+S",
                                  "  Projection...|",
                                  "  Calibrate by sheet corners...|",
                                  "View",
                                  "  Show calibration points|Alt+C",
                                  "  Show border of image|Alt+B",
                                  "  Show grid|Ctrl+G",
                                  "-",
                                  "  Zoom in|Ctrl++",
                                  "  Zoom out|Ctrl+-",
                                  "  Actual size|Ctrl+0",
                                  "  Fit to window|Ctrl+9",
                                  "Help",
                                  "  About..."
                                  "|"};
    QCOMPARE(captions, expected);
    // Mnemonics on the titles (Alt+F opens File); the tool bar runs the menu's own commands.
    QStringList titles;
    for (QAction* menu : window.menuBar()->actions()) titles << menu->text();
    QCOMPARE(titles, (QStringList{"&File", "&Edit", "&Layout", "&Map", "&View", "&Help"}));
    // Every item has a mnemonic of its own within its menu.
    for (QAction* menu : window.menuBar()->actions()) {
      QSet<QChar> keys;
      for (QAction* item : menu->menu()->actions()) {
        if (item->isSeparator()) continue;
        const qsizetype amp = item->text().indexOf('&');
        QVERIFY2(amp >= 0 && amp + 1 < item->text().size(), qPrintable(item->text()));
        const QChar key = item->text().at(amp + 1).toLower();
        QVERIFY2(!keys.contains(key), qPrintable(item->text()));
        keys.insert(key);
      }
    }
    auto* tools = window.findChild<QToolBar*>("TbrMain");
    QVERIFY(tools);
    QCOMPARE(tools->actions().mid(0, 2), (QList<QAction*>{Item(window, "mmFileOpen"), Item(window, "mmFileAdd")}));
    QCOMPARE(tools->widgetForAction(Item(window, "mmFileOpen"))->objectName(), QStringLiteral("TbtOpen"));
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

  // A file named on the command line or dropped that is not there is
  // reported as File > Add... reports a failing file, and opens nothing.
  void missingNamedFileIsReported() {
    QTemporaryDir dir;
    zv::MainWindow window;
    window.show();
    window.AddFiles({dir.filePath("nosuch.map"), dir.path()});
    QCOMPARE(prompter_.Messages, (QStringList{"Loading error (nosuch.map) !",
                                              "Loading error (" + QFileInfo(dir.path()).fileName() + ") !"}));
    QCOMPARE(prompter_.Types.value(0), zv::TMsgType::Error);
    QVERIFY(prompter_.Details.value(0).contains(dir.filePath("nosuch.map")));
    QCOMPARE(window.View().Layouts->Count(), 0);
  }

  // A path typed into File > Add...'s dialog: the dialog opens in that
  // file's folder the next time.
  void openDialogOpensWhereTheLastFileWas() {
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("maps")));
    const QString map = dir.filePath("maps/a.map");
    QVERIFY(QFile::copy(DataFile("export/merc-wgs84.map"), map));
    QVERIFY(QFile::copy(DataFile("export/merc-wgs84.jpg"), dir.filePath("maps/merc-wgs84.jpg")));
    zv::MainWindow window;
    window.show();
    auto* dialog = window.findChild<QFileDialog*>("OpdOpenFile");
    QVERIFY(dialog);
    dialog->setDirectory(dir.path());
    QString shownIn;
    QTimer::singleShot(0, dialog, [&] {
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      QVERIFY(name);
      name->setText(map);
      QTest::keyClick(name, Qt::Key_Return);
    });
    Item(window, "mmFileAdd")->trigger();
    QCOMPARE(window.View().Layouts->Count(), 1);
    QTimer::singleShot(0, dialog, [&] {
      shownIn = dialog->directory().absolutePath();
      dialog->reject();
    });
    Item(window, "mmFileAdd")->trigger();
    QCOMPARE(shownIn, QFileInfo(map).absolutePath());
  }

  // Outside an export the first signal closes the window as its close box
  // does, after a box that waits for an answer.
  void signalClosesTheWindow() {
    zv::MainWindow window;
    zv::TStopSignals stopSignals;
    connect(&stopSignals, &zv::TStopSignals::Received, &window, &zv::MainWindow::StopSignalReceived);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QDialog box(&window);
    box.setModal(true);
    box.show();
    ::raise(SIGTERM);
    QTRY_VERIFY(window.isHidden());
    QVERIFY(box.isHidden());
  }

  // A close the signal asked for and the user refused leaves the program as
  // it was: the next signal asks again instead of ending it.
  void refusedSignalCloseRearms() {
    zv::MainWindow window;
    zv::TStopSignals stopSignals;
    connect(&stopSignals, &zv::TStopSignals::Received, &window, &zv::MainWindow::StopSignalReceived);
    window.OpenFiles({DataFile("export/merc-wgs84.map")}, false);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.Calibration().PickPoint(1, 1);
    prompter_.Answers = {zv::TAnswer::Cancel};
    ::raise(SIGTERM);
    QTRY_COMPARE(prompter_.ThreeWay, QStringList{ChangedQuestion("merc-wgs84")});
    QVERIFY(window.isVisible());
    QVERIFY(!zv::TStopSignals::Signalled());
    prompter_.Answers = {zv::TAnswer::No};
    ::raise(SIGTERM); // ends the program if the first one left the default action
    QTRY_VERIFY(window.isHidden());
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

  // The zoom commands, their keys and the factor beside the readout; a file
  // opened afterwards shows at 100 %, while showing another map keeps the zoom.
  void zoomCommandsAndTheFactorInTheStatusBar() {
    zv::MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.OpenFiles({DataFile("export/merc-wgs84.map")}, false);
    zv::TDisplayMaps& view = window.View();
    auto* factor = window.findChild<QLabel*>("LblZoom");
    QVERIFY(factor);
    QCOMPARE(factor->text(), QStringLiteral("100 %"));
    QCOMPARE(Item(window, "mmViewZoomIn")->shortcuts(),
             (QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)}));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Equal, Qt::ControlModifier);
    QCOMPARE(view.Zoom(), 1);
    QCOMPARE(factor->text(), QStringLiteral("200 %"));
    QTest::keyClick(&view, Qt::Key_0, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Minus, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Minus, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(factor->text(), QStringLiteral("12.5 %"));
    Item(window, "mmViewActualSize")->trigger();
    QCOMPARE(view.Zoom(), 0);
    Item(window, "mmViewFitToWindow")->trigger();
    QVERIFY(view.ZoomFactor() == view.FitZoom());
    Item(window, "mmViewZoomOut")->trigger();
    QVERIFY(view.Zoom() < 0);
    zv::TMapArea* first = view.ActiveMapArea();
    window.OpenFiles({DataFile("export/merc-wgs84.map")}, false);
    QCOMPARE(view.Zoom(), 0);
    QCOMPARE(factor->text(), QStringLiteral("100 %"));
    Item(window, "mmViewZoomOut")->trigger();
    view.ShowMapArea(first);
    QCOMPARE(view.Zoom(), -1);
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

  // Map > Save calibration as... suggests the map's own file, writes the
  // chosen one, and asks before replacing a file; No leaves it as it was.
  void saveCalibrationAsAsksBeforeReplacing() {
    QTemporaryDir dir;
    const QString map = CopyMap(dir);
    const QByteArray original = Contents(map);
    zv::MainWindow window;
    window.OpenFiles({map}, false);
    zv::TMapArea* area = window.View().ActiveMapArea();
    QStringList suggested;
    QString answer = dir.filePath("saved.map");
    window.ChooseCalibrationFileName = [&](const QString& name) {
      suggested << name;
      return answer;
    };
    QAction* save = Item(window, "mmMapSaveCalibration");
    QVERIFY(save->isEnabled());
    window.Calibration().PickPoint(3, 4);
    save->trigger();
    QCOMPARE(suggested, QStringList{map});
    QVERIFY(prompter_.Questions.isEmpty());
    const QByteArray saved = Contents(dir.filePath("saved.map"));
    // A pick on a placed row adds a point after the last.
    QVERIFY(saved.contains("Point10,xy,    3,    4,in, deg,"));
    QCOMPARE(Contents(map), original);
    QCOMPARE(QString::fromStdString(area->FileName), dir.filePath("saved.map"));
    QCOMPARE(area->Lines.size(), std::size_t(saved.count("\r\n")));

    window.Calibration().PickPoint(5, 6);
    save->trigger();
    QCOMPARE(suggested.value(1), dir.filePath("saved.map"));
    QCOMPARE(prompter_.Questions,
             QStringList{dir.filePath("saved.map") + " already exists. Do you want to replace it?"});
    QCOMPARE(Contents(dir.filePath("saved.map")), saved);
    prompter_.Answer = true;
    save->trigger();
    QVERIFY(Contents(dir.filePath("saved.map")).contains("Point11,xy,    5,    6,in, deg,"));

    // A save that cannot be written says why and changes nothing.
    window.Calibration().PickPoint(7, 8);
    answer = dir.filePath("no/such/folder/x.map");
    save->trigger();
    QCOMPARE(prompter_.Messages.size(), 1);
    QVERIFY(prompter_.Messages[0].contains(answer));
    QCOMPARE(QString::fromStdString(area->FileName), dir.filePath("saved.map"));
  }

  // Before changed areas go, one question each: Yes saves (a .map to its own
  // file, an image through the dialog), No drops, Cancel stops the command.
  void closingAsksAboutChangedPoints() {
    QTemporaryDir dir;
    const QString map = CopyMap(dir);
    zv::MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.OpenFiles({map, dir.filePath("merc-wgs84.jpg")}, false);
    zv::TMapLayouts& layouts = *window.View().Layouts;
    QCOMPARE((*layouts[0]).Areas->Count(), 2);
    // Nothing changed: nothing asked.
    Item(window, "mmMapClose")->trigger();
    QVERIFY(prompter_.ThreeWay.isEmpty());
    QCOMPARE((*layouts[0]).Areas->Count(), 1);
    // The image comes back in a layout of its own (none was active).
    window.OpenFiles({dir.filePath("merc-wgs84.jpg")}, false);
    QCOMPARE(layouts.Count(), 2);
    zv::TMapArea* image = window.View().ActiveMapArea();
    window.Calibration().PickPoint(9, 9);
    window.View().ShowMapArea((*(*layouts[0]).Areas)[0]);
    window.Calibration().PickPoint(3, 4);

    prompter_.Answers = {zv::TAnswer::Cancel};
    Item(window, "mmFileCloseAll")->trigger();
    QCOMPARE(prompter_.ThreeWay, QStringList{ChangedQuestion("a")});
    QCOMPARE(layouts.Count(), 2);

    // Exit: No for the map, Cancel for the image: the window stays.
    prompter_.ThreeWay.clear();
    prompter_.Answers = {zv::TAnswer::No, zv::TAnswer::Cancel};
    QVERIFY(!window.close());
    QCOMPARE(prompter_.ThreeWay, QStringList({ChangedQuestion("a"), ChangedQuestion("merc-wgs84")}));
    QVERIFY(window.isVisible());

    // Yes on the image goes through the dialog; cancelling it stops the command.
    QStringList suggested;
    window.ChooseCalibrationFileName = [&](const QString& name) {
      suggested << name;
      return QString();
    };
    window.View().ShowMapArea(image);
    prompter_.Answers = {zv::TAnswer::Yes};
    Item(window, "mmLayoutClose")->trigger();
    QCOMPARE(suggested, QStringList{dir.filePath("merc-wgs84.map")});
    QCOMPARE(layouts.Count(), 2);

    // Yes on the map saves it to its own file, without a dialog; No drops
    // the image's change; Open goes on.
    prompter_.ThreeWay.clear();
    prompter_.Answers = {zv::TAnswer::Yes, zv::TAnswer::No};
    window.OpenFiles({map}, true);
    QCOMPARE(prompter_.ThreeWay.size(), 2);
    QCOMPARE(suggested.size(), 1);
    QVERIFY(Contents(map).contains("Point10,xy,    3,    4,in, deg,"));
    QCOMPARE(layouts.Count(), 1);
    QCOMPARE((*layouts[0]).Areas->Count(), 1);
    QCOMPARE(window.View().ActiveMapArea()->Points[9].X, 3);
    prompter_.ThreeWay.clear();
    QVERIFY(window.close());
    QVERIFY(prompter_.ThreeWay.isEmpty());
  }

  // The navigator's Close asks too, and Cancel keeps the area.
  void navigatorCloseAsksAboutChangedPoints() {
    zv::MainWindow window;
    window.OpenFiles({DataFile("export/merc-wgs84.map")}, false);
    window.Calibration().PickPoint(1, 1);
    zv::TNavigatorTree& tree = window.Navigator();
    tree.setCurrentIndex(tree.model()->index(0, 0, tree.model()->index(0, 0)));
    prompter_.Answers = {zv::TAnswer::Cancel};
    tree.CloseFocusedArea();
    QCOMPARE(prompter_.ThreeWay, QStringList{ChangedQuestion("merc-wgs84")});
    QCOMPARE((*window.View().Layouts)[0]->Areas->Count(), 1);
    tree.setCurrentIndex(tree.model()->index(0, 0));
    tree.CloseFocusedLayout(); // answered No
    QCOMPARE(window.View().Layouts->Count(), 0);
  }

  // Picking follows the active map: off without one, the Calibration page
  // shown and the view in pick mode with it.
  void pickActionFollowsTheActiveMap() {
    zv::MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QAction* pick = Item(window, "mmMapPickPoint");
    QVERIFY(!pick->isEnabled());
    auto* button = window.findChild<QToolButton*>("TbtPickOnMap");
    QVERIFY(button);
    QCOMPARE(button->accessibleName(), QStringLiteral("Pick on map"));
    QCOMPARE(button->defaultAction(), pick);
    window.OpenFiles({DataFile("export/merc-wgs84.map")}, false);
    QVERIFY(pick->isEnabled());
    pick->trigger();
    QVERIFY(window.View().PickMode());
    QCOMPARE(window.PageControl().currentIndex(), 1);
    QVERIFY(window.findChild<QLabel*>("LblFit")->text().startsWith("Fit of 9 points, RMS"));
    zv::TDisplayMaps& view = window.View();
    auto* readout = window.findChild<QLabel*>("LblPointer");
    QTest::mouseMove(&view, QPoint(58 - view.OffsetX(), 40 - view.OffsetY()));
    QTRY_VERIFY(readout->text().startsWith("Click sets point 10:  x 58  y 40   "));
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(58 - view.OffsetX(), 40 - view.OffsetY()));
    QCOMPARE(view.ActiveMapArea()->Points[9].X, 58);
    QCOMPARE(view.ActiveMapArea()->Points[9].Y, 40);
    // The readout under the pointer that has not moved names the new fit.
    const QString fit = window.findChild<QLabel*>("LblFit")->text();
    QVERIFY2(readout->text().endsWith(fit.mid(1)), qPrintable(readout->text() + " / " + fit));
    Item(window, "mmMapClose")->trigger(); // No: the change is dropped
    QVERIFY(!pick->isEnabled());
    QVERIFY(!pick->isChecked());
    QVERIFY(!view.PickMode());
  }

  // Save writes a .map in place without a question; the title's star and
  // the undo history follow the changes, and undoing back to what was saved
  // leaves the map unchanged.
  void saveInPlaceTitleAndUndo() {
    QTemporaryDir dir;
    const QString map = CopyMap(dir);
    zv::MainWindow window;
    window.OpenFiles({map}, false);
    window.ChooseCalibrationFileName = [](const QString&) {
      qFatal("Save asked for a name");
      return QString();
    };
    const QString program = QStringLiteral(" \u2014 Zovevod - ") + QStringLiteral(ZOVEVOD_VERSION);
    QCOMPARE(window.windowTitle(), "a" + program);
    QAction* undo = Item(window, "mmEditUndo");
    QVERIFY(!undo->isEnabled());
    window.Calibration().PickPoint(3, 4);
    QCOMPARE(window.windowTitle(), "a*" + program);
    QVERIFY(undo->isEnabled());
    Item(window, "mmMapSave")->trigger();
    QVERIFY(prompter_.Questions.isEmpty());
    QVERIFY(Contents(map).contains("Point10,xy,    3,    4,in, deg,"));
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Saved a.map"));
    QCOMPARE(window.windowTitle(), "a" + program);
    window.Calibration().PickPoint(5, 6);
    QCOMPARE(window.windowTitle(), "a*" + program);
    undo->trigger();
    QCOMPARE(window.windowTitle(), "a" + program);
    QCOMPARE(window.View().ActiveMapArea()->Points.size(), std::size_t(10));
    Item(window, "mmEditRedo")->trigger();
    QCOMPARE(window.View().ActiveMapArea()->Points.size(), std::size_t(11));
    undo->trigger();
    undo->trigger();
    QCOMPARE(window.windowTitle(), "a*" + program);
    QCOMPARE(window.View().ActiveMapArea()->Points.size(), std::size_t(9));
    QVERIFY(!undo->isEnabled());
    // Back where it was saved: closing asks nothing.
    Item(window, "mmEditRedo")->trigger();
    prompter_.ThreeWay.clear();
    QVERIFY(window.close());
    QVERIFY(prompter_.ThreeWay.isEmpty());
  }

  // Map > Projection...: Cancel leaves the map alone; OK writes the plane,
  // which the fit follows, the title marks and the save keeps.
  void projectionChangesTheMapsPlane() {
    QTemporaryDir dir;
    const QString map = CopyMap(dir);
    zv::MainWindow window;
    window.OpenFiles({map}, false);
    const QString program = QStringLiteral(" \u2014 Zovevod - ") + QStringLiteral(ZOVEVOD_VERSION);
    QAction* projection = Item(window, "mmMapProjection");
    QVERIFY(projection->isEnabled());
    for (const bool ok : {false, true}) {
      QTimer::singleShot(0, [ok] {
        auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(form);
        form->findChild<QComboBox*>(QStringLiteral("cbxProjection"))->setCurrentText(
            QStringLiteral("(UTM) Universal Transverse Mercator"));
        ok ? form->accept() : form->reject();
      });
      projection->trigger();
      QCOMPARE(window.windowTitle(), (ok ? "a*" : "a") + program);
      const std::string& plane = window.View().ActiveMapArea()->Fit()->RequestedProjection()->Definition();
      QCOMPARE(plane.find("+proj=utm") != std::string::npos, ok);
    }
    // The change is one step to undo: back in the plane read, the map is unchanged.
    for (const char* step : {"mmEditUndo", "mmEditRedo"}) {
      Item(window, step)->trigger();
      const bool utm = std::string(step) == "mmEditRedo";
      QCOMPARE(window.windowTitle(), (utm ? "a*" : "a") + program);
      const std::string plane = window.View().ActiveMapArea()->Fit()->RequestedProjection()->Definition();
      QCOMPARE(plane.find("+proj=utm") != std::string::npos, utm);
    }
    Item(window, "mmMapSave")->trigger();
    QCOMPARE(window.windowTitle(), "a" + program);
    QVERIFY(Contents(map).contains("Map Projection,(UTM) Universal Transverse Mercator,"));
  }

  // Open offers pictures and every file, and reads out the zoom with its value.
  void openFiltersAndZoomName() {
    zv::MainWindow window;
    auto* dialog = window.findChild<QFileDialog*>("OpdOpenFile");
    QVERIFY(dialog);
    const QStringList filters = dialog->nameFilters();
    QCOMPARE(filters.mid(filters.size() - 2),
             (QStringList{"Pictures (*.png *.jpg *.jpeg *.bmp)", "All files (*)"}));
    auto* zoom = window.findChild<QLabel*>("LblZoom");
    QCOMPARE(zoom->accessibleName(), QStringLiteral("Zoom 100 %"));
    window.View().SetZoom(-3, 0, 0);
    QCOMPARE(zoom->accessibleName(), QStringLiteral("Zoom 12.5 %"));
  }

private:
  RecordingPrompter prompter_;
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
