#include "app/MainWindow.h"
#include "model/MapModel.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  // Calibration numbers use the user's decimal separator, read once.
  zv::InitDecimalSeparatorFromLocale();
  zv::MainWindow window;
  window.show();
  return app.exec();
}
