#include "app/MainWindow.h"
#include "app/StopSignals.h"
#include "model/CalibrationText.h"
#include "model/MapModel.h"

#include <QApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QScreen>
#include <QStringList>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Zovevod"));
  // Calibration numbers use the user's decimal separator, read once.
  zv::InitDecimalSeparatorFromLocale();
  zv::MainWindow window;
  // Ctrl-C and logout stop an export as they stop the converter's.
  zv::TStopSignals stopSignals;
  QObject::connect(&stopSignals, &zv::TStopSignals::Received, &window, &zv::MainWindow::StopSignalReceived);
  // Without a window manager to maximise it, the window takes the screen's
  // free area itself.
  if (QScreen* screen = window.screen()) window.setGeometry(screen->availableGeometry());
  window.showMaximized();

  // Files named on the command line open as File > Add... opens them, once
  // the window is up.
  QStringList files;
  for (const QString& arg : QApplication::arguments().mid(1)) files << QFileInfo(arg).absoluteFilePath();
  if (!files.isEmpty())
    QMetaObject::invokeMethod(&window, [&window, files] { window.AddFiles(files); }, Qt::QueuedConnection);
  return app.exec();
}
