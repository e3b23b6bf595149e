#pragma once

#include <QWidget>

class QTableView;
class QToolButton;

namespace zv {

class TCalibrationGrid;
class TCalibrationTable;
class TDisplayMapsCore;
class TMapArea;
struct TCalibrationPoint;

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

  // What a click on the bar's button does (a disabled button does nothing).
  void BtnClick(TNavigateBtn button);

private:
  void WriteBackCalibrationPoints();
  void MarkSuspectRows(const TMapArea& area);
  static bool HasLatLon(const TMapArea& area, TCalibrationPoint& point);
  void UpdateNavigator();

  TDisplayMapsCore& view_;
  TCalibrationTable* table_;
  TCalibrationGrid* grid_;
  QWidget* navigator_;
  QToolButton* buttons_[5];
  bool filling_ = false;
  // The area the rows came from: rows are written back only into it.
  TMapArea* filledArea_ = nullptr;
};

} // namespace zv
