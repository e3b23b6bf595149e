#pragma once

#include "app/RunDialog.h"

#include <cstdint>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QToolButton;

namespace zv {

class TDisplayMapsCore;

// "Export map or atlas to Ambulo...": exports the view's whole atlas or its
// active map through the export core, and remembers the tile size in the
// settings file. Created once, hidden, and shown modally with exec() as often
// as the user asks.
class TFormExport : public TRunDialog {
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

public slots:
  void done(int result) override;
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;
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
  void EnableOptions(bool enabled) override;
  void RunExport();

  TDisplayMapsCore& view_;
  QString settingsFileName_;
  bool settingsPending_ = false; // shown and not written since

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
};

} // namespace zv
