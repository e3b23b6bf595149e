// Map > Calibrate by sheet corners...: the main window's part of the flow.
// The rules (corner order, prediction, snapping) are TSheetCornerPick's.
#include "app/CalibrationPanel.h"
#include "app/FrameSearchJob.h"
#include "app/MainWindow.h"
#include "app/SheetCornersDialog.h"
#include "base/Messages.h"
#include "model/CalibrationEdit.h"
#include "model/MapModel.h"
#include "model/SheetCornerPick.h"
#include "view/DisplayMaps.h"

#include <QLabel>
#include <QTabWidget>

#include <algorithm>
#include <cmath>

namespace zv {

void MainWindow::CalibrateBySheetCorners() {
  TMapArea* area = view_->ActiveMapArea();
  if (!area || !calibration_->PostPendingEdit()) return;
  // The frame is looked for on a map of one picture only.
  const TMapImage* image = area->Images.size() == 1 ? area->Images.front().get() : nullptr;
  TSheetCornersDialog dialog(image ? &image->Bitmap : nullptr, image ? image->X : 0, image ? image->Y : 0, this);
  if (!RunSheetCornersDialog(dialog) || !dialog.Sheet() || view_->ActiveMapArea() != area) return;
  if (dialog.UseFound() && dialog.Frame().Found) {
    ApplySheetCorners(*dialog.Sheet(), dialog.Frame().Corners.data());
    return;
  }
  sheetFrame_.clear();
  sheetArea_ = area;
  // Found by the dialog, the corners are in map pixels already; otherwise
  // they are looked for while the first corner is being found on the view.
  if (dialog.Frame().Found)
    sheetFrame_.assign(dialog.Frame().Corners.begin(), dialog.Frame().Corners.end());
  else if (image)
    StartSheetFrameSearch(*image);
  sheetPick_ = std::make_unique<TSheetCornerPick>(*dialog.Sheet());
  view_->SetPickMode(true);
  pgcMain_->setCurrentWidget(tpgCalibration_);
  view_->setFocus(Qt::OtherFocusReason);
  AskSheetCorner(QString());
}

void MainWindow::StartSheetFrameSearch(const TMapImage& image) {
  if (!sheetSearch_) {
    sheetSearch_ = new TFrameSearchJob(this);
    connect(sheetSearch_, &TFrameSearchJob::Finished, this, &MainWindow::SheetFrameSearched);
  }
  sheetPictureX_ = image.X;
  sheetPictureY_ = image.Y;
  sheetSearch_->Start(image.Bitmap);
}

bool MainWindow::SheetFrameSearching() const { return sheetSearch_ && sheetSearch_->Running(); }

void MainWindow::SheetFrameSearched(const TFrameSearch& found) {
  if (!sheetPick_ || !found.Found) return;
  for (const TPixelCorner& c : found.Corners) sheetFrame_.push_back({c.X + sheetPictureX_, c.Y + sheetPictureY_});
}

void MainWindow::SheetMapChanged() {
  if (!sheetPick_ || view_->ActiveMapArea() == sheetArea_) return;
  EndSheetCornersFor({sheetArea_});
  readout_->setText(QString::fromUtf8(msg::SheetCornersMapLeft));
}

// The search reads the map's picture: it ends before the map can close.
void MainWindow::EndSheetCornersFor(const std::vector<TMapArea*>& closing) {
  if (std::find(closing.begin(), closing.end(), sheetArea_) == closing.end()) return;
  if (sheetSearch_) sheetSearch_->Stop();
  sheetArea_ = nullptr;
  sheetFrame_.clear();
  if (!sheetPick_) return;
  sheetPick_.reset();
  view_->SetPickMode(false);
}

void MainWindow::PicturePicked(int x, int y) {
  if (sheetPick_)
    SheetCornerPicked(x, y);
  else
    calibration_->PickPoint(x, y);
}

void MainWindow::SheetCornerPicked(int x, int y) {
  const int corner = sheetPick_->Next();
  const bool keep = view_->PickModifiers().testFlag(Qt::ShiftModifier);
  const TSnappedClick click = SnapToFrameCorner(x, y, sheetFrame_, view_->ZoomScale(), keep);
  sheetPick_->Take(click.At);
  const QString done = QString::fromStdString(click.Snapped ? msg::SheetCornerSnapped(corner)
                                                            : msg::SheetCornerAsClicked(corner));
  if (!sheetPick_->Done()) {
    AskSheetCorner(done);
    return;
  }
  const std::unique_ptr<TSheetCornerPick> pick = std::move(sheetPick_);
  if (sheetSearch_) sheetSearch_->Stop();
  sheetArea_ = nullptr;
  view_->SetPickMode(false);
  ApplySheetCorners(pick->Sheet(), pick->Corners().data());
  readout_->setText(done + QStringLiteral(". ") + readout_->text());
}

void MainWindow::AskSheetCorner(const QString& done) {
  const int corner = sheetPick_->Next();
  const QString ask = QString::fromStdString(msg::SheetCornerPrompt(corner));
  sheetStatus_ = done.isEmpty() ? ask : done + QStringLiteral(". ") + ask;
  readout_->setText(sheetStatus_);
  if (const auto predicted = sheetPick_->Predicted(corner)) ScrollToPicture(*predicted);
}

// Esc, or anything else that ends pick mode before the fourth corner,
// drops the clicks: nothing of the map has changed yet.
void MainWindow::SheetPickModeChanged(bool on) {
  if (on || !sheetPick_) return;
  if (sheetSearch_) sheetSearch_->Stop();
  sheetPick_.reset();
  sheetArea_ = nullptr;
  sheetFrame_.clear();
  readout_->setText(QString::fromUtf8(msg::SheetCornersCancelled));
}

void MainWindow::ScrollToPicture(const TPixelCorner& at) {
  const double scale = view_->ZoomScale();
  view_->SetOffsetX(static_cast<std::int32_t>(std::lround(at.X * scale - view_->Width() / 2.0)));
  view_->SetOffsetY(static_cast<std::int32_t>(std::lround(at.Y * scale - view_->Height() / 2.0)));
}

void MainWindow::ApplySheetCorners(const TSheet& sheet, const TPixelCorner* corners) {
  TMapArea* area = view_->ActiveMapArea();
  if (!area) return;
  TSheetCornerPick pick(sheet);
  for (int i = 0; i < 4; ++i) pick.Take(corners[i]);
  const std::string image = area->Lines.size() > 2 ? area->Lines[2] : area->ImageFileName;
  WriteSheetPlane(area->Lines, sheet, pick.Corners(), area->Name, image, area->Width, area->Height);
  calibration_->ReplacePoints(pick.Points(), NormalisedPlane({sheet.Plane, 0, false}));
  pgcMain_->setCurrentWidget(tpgCalibration_);
  UpdateFitLabel();
  UpdateTitle();
  readout_->setText(QString::fromStdString(msg::SheetCalibrated(sheet.Name) + "; " + FitSummary(*area)));
}

} // namespace zv
