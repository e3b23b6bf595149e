#pragma once

#include <QMainWindow>

namespace zv {

class MainWindow : public QMainWindow {
  Q_OBJECT

public:
  explicit MainWindow(QWidget* parent = nullptr);
};

} // namespace zv
