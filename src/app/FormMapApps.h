#pragma once

#include "app/RunDialog.h"

#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace zv {

class TDisplayMapsCore;

// "Export to map apps": the active layout or all layouts as one MBTiles,
// SQLiteDB or KMZ file, through the same core the converter calls. Shown
// modally; Esc during a run asks whether to stop.
class TFormMapApps : public TRunDialog {
  Q_OBJECT

public:
  explicit TFormMapApps(TDisplayMapsCore& view, QWidget* parent = nullptr);

public slots:
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void CreateControls();
  void CreateLayout();
  void ConnectControls();
  void EnableOptions(bool enabled) override;
  void MapsChanged();
  void FormatChanged();
  void BrowseClick();
  void StartClick();
  bool ConfirmTarget(bool& replace);
  void RunExport(bool replace);

  TDisplayMapsCore& view_;

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
};

} // namespace zv
