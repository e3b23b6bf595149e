#include "app/MainWindow.h"

#include "base/Version.h"

namespace zv {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Zovevod - ") + QStringLiteral(ZOVEVOD_VERSION));
  resize(1000, 700);
}

} // namespace zv
