#pragma once

#include "model/CalibrationPoint.h"
#include "model/ProjectionLines.h"

#include <QWidget>

#include <map>
#include <memory>
#include <vector>

class QAction;
class QTableView;
class QToolButton;

namespace zv {

class TCalibrationGrid;
class TCalibrationHistory;
class TCalibrationTable;
class TDisplayMapsCore;
class TMapArea;

// The buttons of the record navigator bar, in their order on the bar.
enum class TNavigateBtn { nbInsert = 0, nbDelete, nbEdit, nbPost, nbCancel };

// The "Calibration" page: the active map area's calibration points as an
// editable table. Every saved row rebuilds the area's Points from the whole
// table and repaints the view; the area's calibration Lines are never touched.
class TCalibrationPanel : public QWidget {
  Q_OBJECT

public:
  TCalibrationPanel(TDisplayMapsCore& view, QWidget* parent = nullptr);
  ~TCalibrationPanel() override;

  // Table := the active area's points; closed when no area is active.
  void RefillCalibrationTable();
  // True only while RefillCalibrationTable puts rows into the table.
  bool Filling() const { return filling_; }

  TCalibrationTable& Table() const { return *table_; } // KbmCalibrationPoints
  QTableView* Grid() const;                          // DgrCalibrationPoints
  QWidget* Navigator() const { return navigator_; }  // DnvCalibrationPoints
  QToolButton* NavigatorButton(TNavigateBtn button) const;

  // Saves the row being typed into, as Post does; false (after the error
  // box) when a cell's text is refused.
  bool PostPendingEdit();

  // What a click on the bar's button does (a disabled button does nothing).
  void BtnClick(TNavigateBtn button);

  // The checkable "Pick on map" button beside the bar shows the action the
  // main window puts into its Map menu.
  void SetPickAction(QAction* action);
  // The point number a pick would set: the current row's when it is new and
  // not placed yet, else the one after the last.
  int PickTarget() const;
  // Sets X and Y of the current row when it is new and not placed yet, or of
  // a row appended for them, saves the row and puts the cursor on its "Lat".
  void PickPoint(int x, int y);

  // Moves point (from 0) of the active area to picture pixel (x, y): the
  // dragged mark's row takes the pixel and is saved.
  void MovePoint(int point, int x, int y);

  // The active area's points and plane become these at once (one step to
  // undo), as calibrating by the sheet's corners gives them; a change of the
  // plane alone is ReplacePoints(area->Points, plane).
  void ReplacePoints(const std::vector<TCalibrationPoint>& points, const TPlaneChoice& plane);

  // The width the grid needs to show every column whole.
  int PreferredWidth() const;

  // Undo and redo of the active area's points and plane, one history per area.
  bool CanUndo() const;
  bool CanRedo() const;
  void Undo();
  void Redo();
  // The histories of areas no longer among these go.
  void KeepHistoriesOf(const std::vector<TMapArea*>& areas);

signals:
  // The active area's points were rebuilt from the table.
  void pointsWrittenBack();

private:
  void WriteBackCalibrationPoints();
  void MarkSuspectRows(const TMapArea& area);
  void ShowComputedCells(const TMapArea& area);
  void UpdateNavigator();
  void StepHistory(bool undo);
  TCalibrationHistory* History(const TMapArea* area) const;

  TDisplayMapsCore& view_;
  TCalibrationTable* table_;
  TCalibrationGrid* grid_;
  QWidget* navigator_;
  QToolButton* buttons_[5];
  QAction* actions_[5];
  QToolButton* pickButton_;
  bool filling_ = false;
  // The area the rows came from: rows are written back only into it.
  TMapArea* filledArea_ = nullptr;
  std::map<const TMapArea*, std::unique_ptr<TCalibrationHistory>> histories_;
};

} // namespace zv
