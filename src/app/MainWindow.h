#pragma once

#include <QMainWindow>
#include <QPoint>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QKeySequence;
class QFileDialog;
class QLabel;
class QMenu;
class QSplitter;
class QTabWidget;
class QToolBar;

namespace zv {

enum TDisplayMapsOption : std::uint8_t;
class TCalibrationPanel;
class TNavigatorTree;
class TDisplayMaps;
class TMapArea;
class TFormExport;
class TFormMapApps;
class TFormImport;
class TSheetCornersDialog;
class TFrameSearchJob;
struct TFrameSearch;
class TMapImage;
class TSheetCornerPick;
struct TPixelCorner;
struct TSheet;

// The program's one main window: menus and tool bar, the navigator and
// calibration pages on the left, the map view filling the rest.
class MainWindow : public QMainWindow {
  Q_OBJECT

public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  TDisplayMaps& View() const { return *view_; }
  QTabWidget& PageControl() const { return *pgcMain_; }
  TCalibrationPanel& Calibration() const { return *calibration_; }
  TNavigatorTree& Navigator() const { return *navigator_; }
  TFormExport& FormExport() const { return *formExport_; }
  TFormMapApps& FormMapApps() const { return *formMapApps_; }

  // Loads files as File > Add... does, through the progress dialog.
  void AddFiles(const QStringList& fileNames);
  // The open flow after the file dialog: closing everything first for Open.
  void OpenFiles(const QStringList& fileNames, bool closeFirst);
  // SIGINT or SIGTERM came (TStopSignals): a running export stops after the
  // tile in hand and the window closes after it; otherwise the window closes
  // as its close box closes it, after any dialog waiting for an answer.
  void StopSignalReceived();

  // Map > Save calibration: into the map's own .map without a question,
  // else as Save calibration as... does. True when it was saved.
  bool SaveCalibration(TMapArea* area);
  // Map > Save calibration as...: the file dialog, the question before
  // replacing a file, the save. True when the calibration was saved.
  bool SaveCalibrationAs(TMapArea* area);
  // Shows the save dialog with a suggested name; empty when cancelled.
  // Tests put their own answer here.
  std::function<QString(const QString& suggested)> ChooseCalibrationFileName;
  // Before areas are closed: asks once per area whose points changed whether
  // to save them. False when the user cancelled (or a save failed): the
  // command stops and nothing is closed.
  bool ConfirmCalibrationChanges(const std::vector<TMapArea*>& areas);

  // Map > Calibrate by sheet corners...: the dialog, then the four corners
  // clicked in turn (or the frame found standing for them).
  void CalibrateBySheetCorners();
  // Shows the dialog; true when it was accepted. Tests fill it in here.
  std::function<bool(TSheetCornersDialog& dialog)> RunSheetCornersDialog;
  // The corner clicks still wanted; null outside the flow.
  const TSheetCornerPick* SheetCornerPick() const { return sheetPick_.get(); }
  // Whether the frame the clicks snap to is still being looked for.
  bool SheetFrameSearching() const;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  void CreateMenus();
  void CreateToolBar();
  void CreatePages();
  void AssignHooks();
  void OpenCommand(bool closeFirst);
  QAction* AddOptionItem(QMenu* menu, const char* name, const QString& text, const QKeySequence& shortcut,
                         TDisplayMapsOption option);
  void ToggleOption(QAction* item, TDisplayMapsOption option);
  // Says in the status bar why the shown map has no grid, when it is asked for.
  void ShowGridProblem();
  void UpdateMapMenu();
  void UpdateLayoutMenu();
  void CloseLayout();
  void CloseMap();
  void NewLayout();
  void About();
  void PageChanged(int index);
  void RefillCalibrationTable();
  bool SaveCalibrationTo(TMapArea* area, const QString& fileName);
  std::vector<TMapArea*> AllAreas() const;
  void CloseAll();
  void PickModeToggled(bool on);
  void ShowPointer(int x, int y);
  void UpdateFitLabel();
  void CalibrationPointsWritten();
  void UpdateTitle();
  void UpdateUndo();
  void FitPagesWidth();
  QString LastOpenFolder() const;
  // Map > Projection...: the plane of the shown map, one step to undo.
  void ChooseProjection();
  void CreateMapMenu();
  // Points or plane differing from what was read or saved.
  bool AreaChanged(const TMapArea& area) const;
  void PicturePicked(int x, int y);
  void SheetCornerPicked(int x, int y);
  void AskSheetCorner(const QString& done);
  void SheetPickModeChanged(bool on);
  void ScrollToPicture(const TPixelCorner& at);
  void ApplySheetCorners(const TSheet& sheet, const TPixelCorner* corners);
  void StartSheetFrameSearch(const TMapImage& image);
  void SheetFrameSearched(const TFrameSearch& found);
  // Another map shown: the clicks were for the one before.
  void SheetMapChanged();
  // Before maps close: the flow for any of them ends, its search stopped.
  void EndSheetCornersFor(const std::vector<TMapArea*>& closing);

  TDisplayMaps* view_ = nullptr;
  TFormImport* formImport_ = nullptr;
  TFormExport* formExport_ = nullptr;
  TFormMapApps* formMapApps_ = nullptr;
  TCalibrationPanel* calibration_ = nullptr;
  TNavigatorTree* navigator_ = nullptr;
  QFileDialog* opdOpenFile_ = nullptr;
  QTabWidget* pgcMain_ = nullptr;
  QWidget* tpgCalibration_ = nullptr;
  QToolBar* tbrMain_ = nullptr;
  QMenu* mmMap_ = nullptr;
  QAction* mmFileOpen_ = nullptr;
  QAction* mmFileAdd_ = nullptr;
  QAction* mmLayoutClose_ = nullptr;
  QAction* mmMapPickPoint_ = nullptr;
  QAction* mmMapSaveCalibration_ = nullptr;
  QAction* mmMapSave_ = nullptr;
  QAction* mmMapProjection_ = nullptr;
  QAction* mmEditUndo_ = nullptr;
  QAction* mmEditRedo_ = nullptr;
  QSplitter* splitter_ = nullptr;
  // The pages' width on the Navigator page, given back when it shows again.
  int navigatorWidth_ = -1;
  QFileDialog* svdCalibration_ = nullptr;
  QLabel* readout_ = nullptr;
  QPoint pointer_; // picture pixel of the last readout, to redo it when the points change
  QLabel* fitLabel_ = nullptr;
  QAction* mmViewCalibrationPoints_ = nullptr;
  QAction* mmViewImageBorder_ = nullptr;
  QAction* mmViewGrid_ = nullptr;
  bool firstShow_ = true;
  QAction* mmMapCalibrateSheet_ = nullptr;
  std::unique_ptr<TSheetCornerPick> sheetPick_;
  // The frame corners found on the picture, which clicks near them snap to.
  std::vector<TPixelCorner> sheetFrame_;
  QString sheetStatus_;
  // The map the clicks are for, and the search for its frame.
  TMapArea* sheetArea_ = nullptr;
  TFrameSearchJob* sheetSearch_ = nullptr;
  double sheetPictureX_ = 0, sheetPictureY_ = 0; // the picture's place on the map
};

} // namespace zv
