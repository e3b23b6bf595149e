#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;

namespace zv {

class TDisplayMapsCore;

// "Opening files...": loads the chosen files one by one through the view,
// reports each that fails, and closes itself after the last one.
class TFormImport : public QDialog {
  Q_OBJECT

public:
  TFormImport(TDisplayMapsCore& view, QWidget* parent = nullptr);

  // Shows the dialog modally; loading starts once it is on screen.
  void Run(const QStringList& fileNames);

protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

public slots:
  void reject() override;

private:
  void LoadFiles();

  TDisplayMapsCore& view_;
  QLabel* lblCurrentFileName_;
  QStringList fileNames_;
  bool pending_ = false;
  bool loading_ = false;
};

} // namespace zv
