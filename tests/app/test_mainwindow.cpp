#include "app/MainWindow.h"
#include "base/Version.h"

#include <QtTest>

class MainWindowTest : public QObject {
  Q_OBJECT

private slots:
  void titleCarriesTheVersion() {
    zv::MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Zovevod - ") + QStringLiteral(ZOVEVOD_VERSION));
    // Four numbers, as the program's version resource had.
    QCOMPARE(QString::fromLatin1(ZOVEVOD_VERSION).split('.').size(), 4);
  }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
