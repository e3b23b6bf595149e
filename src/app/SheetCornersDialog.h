#pragma once

#include "app/FrameSearchJob.h"
#include "model/FrameFinder.h"
#include "model/SheetIndex.h"

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zv {

class Bitmap;

// Map > Calibrate by sheet corners...: the sheet's name or bounds, the
// corners and plane they give, and the frame looked for on the picture.
// Accepted with "Click corners" the view asks for the corners; with "Use
// found corners" the frame found stands for them.
class TSheetCornersDialog : public QDialog {
  Q_OBJECT

public:
  // picture: the shown map's one picture, at (offsetX, offsetY) of the map;
  // null when the frame cannot be looked for.
  TSheetCornersDialog(const Bitmap* picture, int offsetX, int offsetY, QWidget* parent = nullptr);

  QLineEdit* SheetEdit() const { return edtSheet_; }
  QPushButton* FindButton() const { return btnFind_; }
  QPushButton* ClickButton() const { return btnClick_; }
  QPushButton* UseFoundButton() const { return btnUseFound_; }
  QLabel* Summary() const { return lblSummary_; }

  // The sheet typed, when it reads as one.
  const std::optional<TSheet>& Sheet() const { return sheet_; }
  // The frame found by "Find corners", in map pixels (Found false before).
  const TFrameSearch& Frame() const { return frame_; }
  bool UseFound() const { return useFound_; }

  // Starts the frame search on a worker; FrameSearched follows.
  void FindCorners();

signals:
  void FrameSearched();

private:
  void FrameFound(const TFrameSearch& found);
  void SheetChanged();
  void ShowSummary();

  const Bitmap* picture_;
  TFrameSearchJob* search_;
  int offsetX_, offsetY_;
  QLineEdit* edtSheet_;
  QLabel* lblSummary_;
  QLabel* lblFrame_;
  QPushButton* btnFind_;
  QPushButton* btnClick_;
  QPushButton* btnUseFound_;
  std::optional<TSheet> sheet_;
  TFrameSearch frame_;
  bool useFound_ = false;
};

} // namespace zv
