#pragma once

#include <QDialog>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace zv {

class TDisplayMapsCore;

// "Export to map apps": the active layout or all layouts as one MBTiles,
// SQLiteDB or KMZ file, through the same core the converter calls. Shown
// modally; Esc during a run asks whether to stop.
class TFormMapApps : public QDialog {
  Q_OBJECT

public:
  explicit TFormMapApps(TDisplayMapsCore& view, QWidget* parent = nullptr);

  bool Running() const { return running_; }
  enum class TState { Ready, Running, Finished };

public slots:
  void done(int result) override;
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void CreateControls();
  void CreateLayout();
  void ConnectControls();
  void ShowState(TState state);
  void MapsChanged();
  void FormatChanged();
  void BrowseClick();
  void StartClick();
  bool ConfirmTarget(bool& replace);
  void RunExport(bool replace);
  void AskStop();

  TDisplayMapsCore& view_;
  bool running_ = false;
  bool closeRequested_ = false;
  bool stopRequested_ = false;
  std::int64_t progressDivisor_ = 1;

  QComboBox* CmbFormat = nullptr;
  QLineEdit* EdtFile = nullptr;
  QToolButton* SbtFileBrowse = nullptr;
  QRadioButton* RbtActiveLayout = nullptr;
  QRadioButton* RbtAllLayouts = nullptr;
  QSpinBox* SpbMinZoom = nullptr;
  QSpinBox* SpbMaxZoom = nullptr;
  QLabel* LblSuggestedZoom = nullptr;
  QSpinBox* SpbKmzTiles = nullptr;
  QComboBox* CmbTileFormat = nullptr;
  QSpinBox* SpbQuality = nullptr;
  QCheckBox* ChbCrop = nullptr;
  QProgressBar* PrbMain = nullptr;
  QPushButton* BtnStart = nullptr;
  QPushButton* BtnRunning = nullptr;
  QPushButton* BtnClose = nullptr;
};

} // namespace zv
