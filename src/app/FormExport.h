#pragma once

#include <QDialog>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace zv {

class TDisplayMapsCore;

// "Export map or atlas to Ambulo...": exports the view's whole atlas or its
// active map through the export core, and remembers the tile size in the
// settings file. Created once, hidden, and shown modally with exec() as often
// as the user asks.
class TFormExport : public QDialog {
  Q_OBJECT

public:
  TFormExport(TDisplayMapsCore& view, QWidget* parent = nullptr);
  ~TFormExport() override;

  // For program end: writes the settings when the dialog was shown and has
  // not written them since. Safe to call more than once.
  void FormDestroy();

  // The settings file; set at creation, tests point it elsewhere.
  QString SettingsFileName() const { return settingsFileName_; }
  void SetSettingsFileName(const QString& fileName) { settingsFileName_ = fileName; }

  bool Running() const { return running_; }

  // Where the dialog stands: only Start, Running or Done shows at a time.
  enum class TState { Ready, Running, Finished };

public slots:
  void done(int result) override;
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void CreateControls();
  void CreateLayout();
  void CreateTabOrder();
  void ConnectControls();
  void FormCreate();
  void FormShow();
  bool FormKeyDown(int key);
  void RbtExportTypeAtlasClick();
  void CmbTileFormatChange();
  void SbtDirectoryBrowseClick();
  void BtnStartClick();

  void ReadSettings();
  void WriteSettings();
  void ShowState(TState state);
  void RunExport();
  void SetProgressMaximum(std::int64_t maximum);
  void SetProgressPosition(std::int64_t position);
  void AskStop();

  TDisplayMapsCore& view_;
  QString settingsFileName_;
  bool settingsPending_ = false; // shown and not written since
  bool running_ = false;
  bool closeRequested_ = false;
  bool stopRequested_ = false; // asked by the user
  std::int64_t progressDivisor_ = 1;

  QGroupBox* GrbExportType = nullptr;
  QRadioButton* RbtExportTypeAtlas = nullptr;
  QRadioButton* RbtExportTypeSingleMap = nullptr;
  QCheckBox* ChbTAR = nullptr;
  QLabel* LblTargetDirectory = nullptr;
  QLineEdit* EdtTargetDirectory = nullptr;
  QToolButton* SbtDirectoryBrowse = nullptr;
  QLabel* LblAtlasName = nullptr;
  QLineEdit* EdtAtlasName = nullptr;
  QLabel* LblTileWidth = nullptr;
  QLineEdit* EdtTileWidth = nullptr;
  QLabel* LblTileHeight = nullptr;
  QLineEdit* EdtTileHeight = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* CmbTileFormat = nullptr;
  QLabel* LblTileDepth = nullptr;
  QComboBox* CmbTileDepth = nullptr;
  QLabel* LblTileQuality = nullptr;
  QLineEdit* EdtTileQuality = nullptr;
  QLabel* LblTileQuality2 = nullptr;
  QLabel* LblZoomOutLayers = nullptr;
  QComboBox* CmbZoomOutLayers = nullptr;
  QProgressBar* PrbMain = nullptr;
  QPushButton* BtnStart = nullptr;
  QPushButton* BtnRunning = nullptr;
  QPushButton* BtnClose = nullptr;
};

} // namespace zv
