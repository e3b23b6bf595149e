#include "app/MainWindow.h"
#include "app/Prompter.h"
#include "app/SheetCornersDialog.h"
#include "model/CalibrationFit.h"
#include "model/MapModel.h"
#include "model/SheetCornerPick.h"
#include "view/DisplayMaps.h"

#include <QAction>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class SilentPrompter : public zv::TPrompter {
public:
  void Message(QWidget*, zv::TMsgType, const QString&, const QString&) override {}
  bool Ask(QWidget*, zv::TMsgType, const QString&) override { return false; }
  zv::TAnswer AskYesNoCancel(QWidget*, zv::TMsgType, const QString&) override { return zv::TAnswer::No; }
};

// The frame's corners on the scan written by WriteScan.
const QPoint kFrame[4] = {{60, 50}, {540, 50}, {540, 410}, {60, 410}};

// A white scan with a thin black frame and a thick outer one, and a .map of
// WGS 84 on Mercator with two points, beside it in dir.
QString WriteScan(const QTemporaryDir& dir, const QString& name = QStringLiteral("scan")) {
  QImage scan(600, 460, QImage::Format_RGB32);
  scan.fill(Qt::white);
  QPainter painter(&scan);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawRect(QRect(kFrame[0], kFrame[2]));
  painter.setPen(QPen(Qt::black, 5));
  painter.drawRect(QRect(kFrame[0] - QPoint(12, 12), kFrame[2] + QPoint(12, 12)));
  painter.end();
  scan.save(dir.filePath(name + ".png"));
  QFile map(dir.filePath(name + ".map"));
  map.open(QIODevice::WriteOnly);
  map.write(("OziExplorer Map Data File Version 2.2\n" + name + "\n" + name + ".png\n").toUtf8());
  map.write("1 ,Map Code,\nWGS 84,WGS 84,   0.0000,   "
            "0.0000,WGS 84\nReserved 1\nReserved 2\nMagnetic Variation,,,E\n"
            "Map Projection,Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No\n"
            "Point01,xy,   10,   10,in, deg,  51, 0.0,N,  18, 0.0,E, grid,   ,           ,           ,N\n"
            "Point02,xy,  500,  400,in, deg,  50,40.0,N,  18,30.0,E, grid,   ,           ,           ,N\n"
            "Projection Setup,,,,,,,,,,\nMOP,Map Open Position,0,0\nIWH,Map Image Width/Height,600,460\n");
  return map.fileName();
}

class SheetCornersTest : public QObject {
  Q_OBJECT

  SilentPrompter prompter_;

  // Opens the scan and starts the flow for sheet M-34-37 (50°40'..51°N,
  // 18°..18°30'E, Gauss-Krüger zone 4), finding the frame first when asked.
  void Start(zv::MainWindow& window, const QTemporaryDir& dir, bool find, bool useFound) {
    window.OpenFiles({WriteScan(dir)}, false);
    QVERIFY(window.View().ActiveMapArea());
    StartFlow(window, find, useFound);
  }

  static void StartFlow(zv::MainWindow& window, bool find, bool useFound) {
    window.RunSheetCornersDialog = [find, useFound](zv::TSheetCornersDialog& dialog) {
      dialog.SheetEdit()->setText(QStringLiteral("M-34-037"));
      if (find) {
        // The search runs on a worker; its result comes back as a signal.
        QSignalSpy searched(&dialog, &zv::TSheetCornersDialog::FrameSearched);
        dialog.FindButton()->click();
        if (!searched.wait(10000)) return false;
      }
      (useFound ? dialog.UseFoundButton() : dialog.ClickButton())->click();
      return dialog.result() == QDialog::Accepted;
    };
    window.findChild<QAction*>("mmMapCalibrateSheet")->trigger();
  }

  static void Click(zv::MainWindow& window, QPoint picture, Qt::KeyboardModifiers keys = {}) {
    zv::TDisplayMaps& view = window.View();
    const QPoint at(int(view.PictureToViewX(picture.x())), int(view.PictureToViewY(picture.y())));
    QTest::mouseClick(&view, Qt::LeftButton, keys, at);
  }

  static QString Readout(zv::MainWindow& window) { return window.findChild<QLabel*>("LblPointer")->text(); }

private slots:
  void init() { zv::SetPrompter(&prompter_); }
  void cleanup() { zv::SetPrompter(nullptr); }

  // Four clicks near the frame's corners; the third is held as clicked by
  // Shift, the others move onto the corners found.
  void fourClicksCalibrateTheSheet() {
    QTemporaryDir dir;
    zv::MainWindow window;
    window.resize(900, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Start(window, dir, false, false);
    QVERIFY(window.SheetCornerPick());
    QCOMPARE(Readout(window), QStringLiteral("Click the north-west corner of the sheet's frame"));
    // Found on a worker meanwhile, the frame is what the clicks snap to.
    QTRY_VERIFY(!window.SheetFrameSearching());
    Click(window, kFrame[0] + QPoint(4, 3));
    QVERIFY(Readout(window).startsWith("The north-west corner moved onto the frame corner found there. "
                                       "Click the north-east corner of the sheet's frame"));
    Click(window, kFrame[1] + QPoint(-5, 2));
    QVERIFY(Readout(window).contains("Click the south-east corner"));
    Click(window, kFrame[2] + QPoint(3, 3), Qt::ShiftModifier);
    QVERIFY(Readout(window).startsWith("The south-east corner taken as clicked. "));
    Click(window, kFrame[3] + QPoint(2, -2));
    QVERIFY(!window.SheetCornerPick());
    QVERIFY(!window.View().PickMode());
    const zv::TMapArea& area = *window.View().ActiveMapArea();
    QCOMPARE(area.Points.size(), std::size_t(4));
    const QPoint want[4] = {kFrame[0], kFrame[1], kFrame[2] + QPoint(3, 3), kFrame[3]};
    const double lat[4] = {51, 51, 50 + 40.0 / 60, 50 + 40.0 / 60}, lon[4] = {18, 18.5, 18.5, 18};
    for (int i = 0; i < 4; ++i) {
      QVERIFY2(qAbs(area.Points[i].X - want[i].x()) <= 1 && qAbs(area.Points[i].Y - want[i].y()) <= 1,
               qPrintable(QString::number(i)));
      QCOMPARE(double(area.Points[i].Lat), lat[i]);
      QCOMPARE(double(area.Points[i].Lon), lon[i]);
    }
    QCOMPARE(area.Lines[4].substr(0, 16), std::string("Pulkovo 1942 (1)"));
    QVERIFY(area.Lines[8].find("Transverse Mercator") != std::string::npos);
    QVERIFY(area.Lines[11].find("21.0") != std::string::npos);
    QVERIFY(area.Fit() && area.Fit()->Valid());
    QVERIFY(window.windowTitle().startsWith("scan*"));
    QVERIFY(Readout(window).contains("Calibrated as sheet M-34-37"));
  }

  // Esc after two clicks: the map is as it was.
  void escapeChangesNothing() {
    QTemporaryDir dir;
    zv::MainWindow window;
    window.resize(900, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Start(window, dir, false, false);
    const zv::TMapArea& area = *window.View().ActiveMapArea();
    const auto lines = area.Lines;
    const auto points = area.Points;
    Click(window, kFrame[0]);
    Click(window, kFrame[1]);
    QTest::keyClick(&window.View(), Qt::Key_Escape);
    QVERIFY(!window.SheetCornerPick());
    QVERIFY(area.Lines == lines);
    QCOMPARE(area.Points.size(), points.size());
    QCOMPARE(area.Points[1].X, points[1].X);
    QCOMPARE(Readout(window), QStringLiteral("Calibration by the sheet's corners cancelled; nothing changed"));
    QVERIFY(!window.windowTitle().contains("*"));
  }

  // Another map shown, the map closed or files opened during the clicks:
  // the clicks end with no map changed, whatever click comes after.
  void leavingTheMapCancels_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("another map shown") << "switch";
    QTest::newRow("the map closed") << "close";
    QTest::newRow("a file opened") << "open";
  }
  void leavingTheMapCancels() {
    QFETCH(QString, how);
    QTemporaryDir dir;
    zv::MainWindow window;
    window.resize(900, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.OpenFiles({WriteScan(dir, "other")}, false);
    zv::TMapArea* other = window.View().ActiveMapArea();
    QVERIFY(other);
    const auto otherLines = other->Lines;
    window.OpenFiles({WriteScan(dir)}, false);
    QVERIFY(window.View().ActiveMapArea() != other);
    StartFlow(window, false, false);
    Click(window, kFrame[0]);
    QVERIFY(window.SheetCornerPick());
    if (how == "switch")
      window.View().SetActiveMapArea(other);
    else if (how == "close")
      window.findChild<QAction*>("mmMapClose")->trigger();
    else
      window.OpenFiles({WriteScan(dir, "third")}, false);
    QVERIFY(!window.SheetCornerPick());
    QVERIFY(!window.SheetFrameSearching());
    QVERIFY(!window.View().PickMode());
    Click(window, kFrame[1]);
    Click(window, kFrame[2]);
    for (zv::TMapArea* area : window.View().Layouts->AllAreas()) {
      QCOMPARE(area->Points.size(), std::size_t(2));
      if (area == other) QVERIFY(area->Lines == otherLines);
    }
    QVERIFY(!window.windowTitle().contains("*"));
  }

  // "Find corners" then "Use found corners": no clicks at all.
  void foundCornersNeedNoClicks() {
    QTemporaryDir dir;
    zv::MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Start(window, dir, true, true);
    QVERIFY(!window.SheetCornerPick());
    const zv::TMapArea& area = *window.View().ActiveMapArea();
    QCOMPARE(area.Points.size(), std::size_t(4));
    for (int i = 0; i < 4; ++i)
      QVERIFY(qAbs(area.Points[i].X - kFrame[i].x()) <= 1 && qAbs(area.Points[i].Y - kFrame[i].y()) <= 1);
  }
};

} // namespace

QTEST_MAIN(SheetCornersTest)
#include "test_sheetcorners.moc"
