#include "app/MainWindow.h"

#include "app/CalibrationPanel.h"
#include "app/FormExport.h"
#include "app/FormMapApps.h"
#include "app/FormProjection.h"
#include "app/FormImport.h"
#include "app/Icons.h"
#include "app/Navigator.h"
#include "app/Prompter.h"
#include "app/SheetCornersDialog.h"
#include "app/StopSignals.h"
#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "base/Version.h"
#include "model/CalibrationEdit.h"
#include "model/CalibrationFit.h"
#include "model/CalibrationWriter.h"
#include "model/ProjectionLines.h"
#include "model/SheetCornerPick.h"
#include "export/FormStorage.h"
#include "view/DisplayMaps.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace zv {
namespace {

constexpr char kFilter[] = "All supported files (*.vka *.map *.gmi *.tar);;Ambulo atlas (*.vka);;"
                           "MAP files (*.map);;GMI files (*.gmi);;TARed maps and atlases (*.tar);;"
                           "Pictures (*.png *.jpg *.jpeg *.bmp);;All files (*)";

// The tool bar shows icons only, without hints.
class NoToolTips : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ToolTip) return true;
    return QObject::eventFilter(watched, event);
  }
};

QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("mainForm"));
  resize(605, 397);
  setAcceptDrops(true);

  view_ = new TDisplayMaps(this);
  CreatePages();
  CreateMenus();
  CreateToolBar();

  auto* statusBar = new QStatusBar(this);
  statusBar->setObjectName(QStringLiteral("StatusBar"));
  statusBar->setFixedHeight(19);
  statusBar->setSizeGripEnabled(false);
  setStatusBar(statusBar);
  // Where the pointer is on the shown map, and there in degrees when its
  // calibration points give a fit; the area keeps its fit and makes it again
  // when its points change, so edits show at once.
  readout_ = new QLabel(statusBar);
  readout_->setObjectName(QStringLiteral("LblPointer"));
  readout_->setAccessibleDescription(QStringLiteral("Pointer position"));
  statusBar->addWidget(readout_, 1);
  connect(view_, &TDisplayMaps::PointerOverPicture, this, &MainWindow::ShowPointer);
  connect(view_, &TDisplayMaps::PointerLeft, readout_, &QLabel::clear);
  // While the calibration is worked on, how well its points fit together.
  fitLabel_ = new QLabel(statusBar);
  fitLabel_->setObjectName(QStringLiteral("LblFit"));
  fitLabel_->setAccessibleDescription(QStringLiteral("Calibration fit"));
  statusBar->addPermanentWidget(fitLabel_);
  fitLabel_->hide();
  // The view's zoom factor, beside the readout.
  auto* zoom = new QLabel(QString::fromStdString(msg::ZoomFactor(view_->Zoom())), statusBar);
  zoom->setObjectName(QStringLiteral("LblZoom"));
  // Read with its value: the name alone would replace the text for a screen reader.
  const auto showZoom = [this, zoom] {
    const TZoomFactor factor = view_->ZoomFactor();
    zoom->setText(QString::fromStdString(factor.IsPowerOfTwo() ? msg::ZoomFactor(factor.Exponent())
                                                               : msg::ZoomPercent(factor.Value())));
    zoom->setAccessibleName(QStringLiteral("Zoom ") + zoom->text());
  };
  showZoom();
  zoom->setAccessibleDescription(QStringLiteral("Zoom factor of the map view"));
  statusBar->addPermanentWidget(zoom);
  connect(view_, &TDisplayMaps::ZoomFactorChanged, zoom, showZoom);

  AssignHooks();

  opdOpenFile_ = new QFileDialog(this, QStringLiteral("Open"), QString(), QString::fromLatin1(kFilter));
  opdOpenFile_->setObjectName(QStringLiteral("OpdOpenFile"));
  opdOpenFile_->setFileMode(QFileDialog::ExistingFiles);
  opdOpenFile_->setAcceptMode(QFileDialog::AcceptOpen);
  opdOpenFile_->setOption(QFileDialog::DontUseNativeDialog);

  svdCalibration_ =
      new QFileDialog(this, QStringLiteral("Save calibration as"), QString(), QStringLiteral("MAP files (*.map)"));
  svdCalibration_->setObjectName(QStringLiteral("SvdCalibration"));
  svdCalibration_->setAcceptMode(QFileDialog::AcceptSave);
  svdCalibration_->setFileMode(QFileDialog::AnyFile);
  svdCalibration_->setDefaultSuffix(QStringLiteral("map"));
  svdCalibration_->setOption(QFileDialog::DontUseNativeDialog);
  // Replacing is asked through the program's own question, after the dialog.
  svdCalibration_->setOption(QFileDialog::DontConfirmOverwrite);
  ChooseCalibrationFileName = [this](const QString& suggested) {
    svdCalibration_->selectFile(suggested);
    if (svdCalibration_->exec() != QDialog::Accepted || svdCalibration_->selectedFiles().isEmpty()) return QString();
    return svdCalibration_->selectedFiles().constFirst();
  };
  RunSheetCornersDialog = [](TSheetCornersDialog& dialog) { return dialog.exec() == QDialog::Accepted; };

  // Both options start off and both items unticked: one run of each command
  // switches them on.
  mmViewCalibrationPoints_->trigger();
  mmViewImageBorder_->trigger();
  UpdateMapMenu();
  UpdateLayoutMenu();

  UpdateTitle();
  setWindowIcon(ProgramIcon());

  formImport_ = new TFormImport(*view_, this);
  formExport_ = new TFormExport(*view_, this);
  formMapApps_ = new TFormMapApps(*view_, this);
  opdOpenFile_->setDirectory(LastOpenFolder());
}

QString MainWindow::LastOpenFolder() const {
  const std::string kept = ReadLastOpenFolder(QFile::encodeName(formExport_->SettingsFileName()).toStdString());
  const QString folder = QFile::decodeName(kept.c_str());
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

MainWindow::~MainWindow() {
  // The model goes first, while the pages its removal hooks reach still
  // exist; the view itself then goes with its parent.
  EndSheetCornersFor(AllAreas());
  view_->CloseAll();
  view_->Hooks = {};
}

void MainWindow::CreatePages() {
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* pnlInfo = new QWidget(central);
  pnlInfo->setObjectName(QStringLiteral("PnlInfo"));
  pnlInfo->setFixedHeight(25);
  pnlInfo->setAutoFillBackground(true);
  QPalette tip = pnlInfo->palette();
  tip.setColor(QPalette::Window, tip.color(QPalette::ToolTipBase));
  tip.setColor(QPalette::WindowText, tip.color(QPalette::ToolTipText));
  pnlInfo->setPalette(tip);
  auto* info = new QLabel(QStringLiteral("WGS84"), pnlInfo);
  info->setObjectName(QStringLiteral("MlbInfoWGS84"));
  info->move(8, 6);
  info->adjustSize();
  column->addWidget(pnlInfo);

  auto* splitter = new QSplitter(Qt::Horizontal, central);
  splitter_ = splitter;
  splitter->setObjectName(QStringLiteral("SplMain"));
  splitter->setHandleWidth(2);
  splitter->setChildrenCollapsible(false);

  pgcMain_ = new QTabWidget(splitter);
  pgcMain_->setObjectName(QStringLiteral("PgcMain"));
  pgcMain_->setAccessibleName(QStringLiteral("Pages"));
  auto* tpgNavigator = new QWidget;
  tpgNavigator->setObjectName(QStringLiteral("TpgNavigator"));
  tpgCalibration_ = new QWidget;
  tpgCalibration_->setObjectName(QStringLiteral("TpgCalibration"));
  auto* navigatorLayout = new QVBoxLayout(tpgNavigator);
  navigatorLayout->setContentsMargins(0, 0, 0, 0);
  navigator_ = new TNavigatorTree(*view_, tpgNavigator);
  navigatorLayout->addWidget(navigator_);
  pgcMain_->addTab(tpgNavigator, QStringLiteral("Navigator"));
  auto* calibrationLayout = new QVBoxLayout(tpgCalibration_);
  calibrationLayout->setContentsMargins(0, 0, 0, 0);
  calibration_ = new TCalibrationPanel(*view_, tpgCalibration_);
  calibrationLayout->addWidget(calibration_);
  pgcMain_->addTab(tpgCalibration_, QStringLiteral("Calibration"));
  pgcMain_->setCurrentIndex(0);
  connect(pgcMain_, &QTabWidget::currentChanged, this, &MainWindow::PageChanged);

  view_->setParent(splitter);
  splitter->addWidget(pgcMain_);
  splitter->addWidget(view_);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({200, 405});
  column->addWidget(splitter, 1);
  setCentralWidget(central);
}

void MainWindow::CreateMapMenu() {
  mmMap_ = menuBar()->addMenu(QStringLiteral("&Map"));
  mmMap_->setObjectName(QStringLiteral("mmMap"));
  QAction* closeMap = mmMap_->addAction(QStringLiteral("&Close Map"), this, &MainWindow::CloseMap);
  closeMap->setObjectName(QStringLiteral("mmMapClose"));
  mmMap_->addSeparator();
  mmMapPickPoint_ = mmMap_->addAction(QStringLiteral("&Pick calibration point"));
  mmMapPickPoint_->setObjectName(QStringLiteral("mmMapPickPoint"));
  mmMapPickPoint_->setIconText(QStringLiteral("Pick on map"));
  mmMapPickPoint_->setCheckable(true);
  mmMapPickPoint_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
  connect(mmMapPickPoint_, &QAction::toggled, this, &MainWindow::PickModeToggled);
  calibration_->SetPickAction(mmMapPickPoint_);
  mmMapSave_ = mmMap_->addAction(QStringLiteral("&Save calibration"), this, [this] {
    if (TMapArea* area = view_->ActiveMapArea()) SaveCalibration(area);
  });
  mmMapSave_->setObjectName(QStringLiteral("mmMapSave"));
  mmMapSave_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  mmMapSaveCalibration_ = mmMap_->addAction(QStringLiteral("Save calibration &as..."), this, [this] {
    if (TMapArea* area = view_->ActiveMapArea()) SaveCalibrationAs(area);
  });
  mmMapSaveCalibration_->setObjectName(QStringLiteral("mmMapSaveCalibration"));
  mmMapSaveCalibration_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  mmMapProjection_ = mmMap_->addAction(QStringLiteral("P&rojection..."), this, &MainWindow::ChooseProjection);
  mmMapProjection_->setObjectName(QStringLiteral("mmMapProjection"));
  mmMapCalibrateSheet_ = mmMap_->addAction(QStringLiteral("Calibrate &by sheet corners..."), this,
                                           &MainWindow::CalibrateBySheetCorners);
  mmMapCalibrateSheet_->setObjectName(QStringLiteral("mmMapCalibrateSheet"));
}

void MainWindow::CreateMenus() {
  // Menu titles carry mnemonics (Alt+F opens File); the items keep their texts.
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("mmFile"));
  mmFileOpen_ = file->addAction(QStringLiteral("&Open..."), this, [this] { OpenCommand(true); });
  mmFileOpen_->setObjectName(QStringLiteral("mmFileOpen"));
  mmFileOpen_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  mmFileOpen_->setIcon(MainIcon(miOpen));
  mmFileAdd_ = file->addAction(QStringLiteral("&Add..."), this, [this] { OpenCommand(false); });
  mmFileAdd_->setObjectName(QStringLiteral("mmFileAdd"));
  mmFileAdd_->setIcon(MainIcon(miAdd));
  QAction* closeAll = file->addAction(QStringLiteral("&Close all"), this, &MainWindow::CloseAll);
  closeAll->setObjectName(QStringLiteral("mmFileCloseAll"));
  file->addSeparator();
  QAction* exportAction = file->addAction(QStringLiteral("&Export to Ambulo..."), this, [this] {
    formExport_->exec();
    // A signal during the run stopped it; now the program ends, unless the
    // user keeps it running.
    if (TStopSignals::Signalled() && !close()) TStopSignals::Rearm();
  });
  exportAction->setObjectName(QStringLiteral("mmFileExport"));
  QAction* mapApps = file->addAction(QStringLiteral("Export to &map apps..."), this, [this] {
    formMapApps_->exec();
    if (TStopSignals::Signalled() && !close()) TStopSignals::Rearm();
  });
  mapApps->setObjectName(QStringLiteral("mmFileExportMapApps"));
  file->addSeparator();
  QAction* exitAction = file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);
  exitAction->setObjectName(QStringLiteral("mmFileExit"));
  exitAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));

  // Undo and redo of the active map's calibration; a line editor keeps the
  // keys for its own text while it has the focus.
  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->setObjectName(QStringLiteral("mmEdit"));
  mmEditUndo_ = edit->addAction(QStringLiteral("&Undo"), this, [this] { calibration_->Undo(); });
  mmEditUndo_->setObjectName(QStringLiteral("mmEditUndo"));
  mmEditUndo_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  mmEditRedo_ = edit->addAction(QStringLiteral("&Redo"), this, [this] { calibration_->Redo(); });
  mmEditRedo_->setObjectName(QStringLiteral("mmEditRedo"));
  mmEditRedo_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));

  QMenu* layout = menuBar()->addMenu(QStringLiteral("&Layout"));
  layout->setObjectName(QStringLiteral("mmLayout"));
  QAction* newLayout = layout->addAction(QStringLiteral("&New"), this, &MainWindow::NewLayout);
  newLayout->setObjectName(QStringLiteral("mmLayoutNew"));
  mmLayoutClose_ = layout->addAction(QStringLiteral("&Close Layout"), this, &MainWindow::CloseLayout);
  mmLayoutClose_->setObjectName(QStringLiteral("mmLayoutClose"));

  CreateMapMenu();

  QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
  viewMenu->setObjectName(QStringLiteral("mmView"));
  mmViewCalibrationPoints_ =
      AddOptionItem(viewMenu, "mmViewCalibrationPoints", QStringLiteral("Show &calibration points"),
                    QKeySequence(Qt::ALT | Qt::Key_C), mpoShowCalibrationPoints);
  mmViewImageBorder_ = AddOptionItem(viewMenu, "mmViewImageBorder", QStringLiteral("Show &border of image"),
                                     QKeySequence(Qt::ALT | Qt::Key_B), mpoShowImageBorder);

  mmViewGrid_ = viewMenu->addAction(QStringLiteral("Show &grid"));
  mmViewGrid_->setObjectName(QStringLiteral("mmViewGrid"));
  mmViewGrid_->setCheckable(true);
  mmViewGrid_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
  connect(mmViewGrid_, &QAction::toggled, this, [this](bool on) {
    view_->SetShowGrid(on);
    ShowGridProblem();
  });

  // Zoom commands: each keeps the picture point at the view's centre.
  viewMenu->addSeparator();
  auto addZoom = [this, viewMenu](const char* caption, const char* name, QList<QKeySequence> keys, auto command) {
    QAction* action = viewMenu->addAction(QString::fromLatin1(caption), view_, command);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcuts(keys);
    return action;
  };
  addZoom("Zoom &in", "mmViewZoomIn", {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
          [this] { view_->ZoomIn(); });
  addZoom("Zoom &out", "mmViewZoomOut", {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { view_->ZoomOut(); });
  addZoom("&Actual size", "mmViewActualSize", {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { view_->ActualSize(); });
  addZoom("&Fit to window", "mmViewFitToWindow", {QKeySequence(Qt::CTRL | Qt::Key_9)}, [this] { view_->FitToWindow(); });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("mmHelp"));
  QAction* about = help->addAction(QStringLiteral("&About..."), this, &MainWindow::About);
  about->setObjectName(QStringLiteral("mmHelpAbout"));
}

QAction* MainWindow::AddOptionItem(QMenu* menu, const char* name, const QString& text, const QKeySequence& shortcut,
                                   TDisplayMapsOption option) {
  QAction* item = menu->addAction(text);
  item->setObjectName(QString::fromLatin1(name));
  item->setCheckable(true);
  item->setShortcut(shortcut);
  connect(item, &QAction::triggered, this, [this, item, option] { ToggleOption(item, option); });
  return item;
}

void MainWindow::CreateToolBar() {
  tbrMain_ = addToolBar(QStringLiteral("Tool bar"));
  tbrMain_->setObjectName(QStringLiteral("TbrMain"));
  tbrMain_->setAccessibleName(QStringLiteral("Tool bar"));
  tbrMain_->setMovable(false);
  tbrMain_->setFloatable(false);
  tbrMain_->setIconSize(QSize(20, 20));
  tbrMain_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  tbrMain_->setFixedHeight(29);
  tbrMain_->setContextMenuPolicy(Qt::PreventContextMenu);
  auto* noTips = new NoToolTips(tbrMain_);
  // The menu's own commands, so menu and tool bar cannot drift apart.
  const struct {
    const char* name;
    QAction* command;
  } buttons[] = {{"TbtOpen", mmFileOpen_}, {"TbtAdd", mmFileAdd_}};
  for (const auto& b : buttons) {
    tbrMain_->addAction(b.command);
    QWidget* button = tbrMain_->widgetForAction(b.command);
    button->setObjectName(QString::fromLatin1(b.name));
    button->setFixedSize(27, 26);
    button->setFocusPolicy(Qt::TabFocus); // the tool bar's own buttons take no focus
    button->installEventFilter(noTips);
  }
  tbrMain_->addSeparator();
}

void MainWindow::AssignHooks() {
  TMapHooks& hooks = view_->Hooks;
  hooks.OnLayoutsChange = [this](TMapLayout* layout, TListChange change) {
    navigator_->OnLayoutsChange(layout, change);
    if (change == lcRemoved) calibration_->KeepHistoriesOf(AllAreas());
  };
  hooks.OnMapAreasChange = [this](TMapArea* area, TListChange change) {
    navigator_->OnMapAreasChange(area, change);
    if (change == lcRemoved) calibration_->KeepHistoriesOf(AllAreas());
  };
  hooks.OnActiveMapAreaChange = [this](TDisplayMapsCore*) {
    UpdateMapMenu();
    navigator_->ActiveChanged();
    view_->Invalidate();
    ShowGridProblem();
    SheetMapChanged();
  };
  hooks.OnActiveLayoutChange = [this](TDisplayMapsCore*) {
    UpdateLayoutMenu();
    navigator_->ActiveChanged();
    view_->Invalidate();
  };
  view_->Question = [this](const std::string& text) {
    return Prompter().Ask(this, TMsgType::Information, QString::fromUtf8(text.c_str()));
  };
  view_->ShowError = [this](const std::string& text) {
    Prompter().Message(this, TMsgType::Error, QString::fromUtf8(text.c_str()));
  };
  navigator_->ConfirmClose = [this](const std::vector<TMapArea*>& areas) { return ConfirmCalibrationChanges(areas); };
  connect(view_, &TDisplayMaps::PickModeChanged, mmMapPickPoint_, &QAction::setChecked);
  connect(view_, &TDisplayMaps::PicturePicked, this, &MainWindow::PicturePicked);
  connect(view_, &TDisplayMaps::PickModeChanged, this, &MainWindow::SheetPickModeChanged);
  connect(view_, &TDisplayMaps::PointMoved, calibration_, &TCalibrationPanel::MovePoint);
  connect(calibration_, &TCalibrationPanel::pointsWrittenBack, this, &MainWindow::CalibrationPointsWritten);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (firstShow_) {
    firstShow_ = false;
    // The arrow keys scroll the map at once.
    if (view_->focusPolicy() != Qt::NoFocus) view_->setFocus();
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!ConfirmCalibrationChanges(AllAreas())) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
  // The export dialog's tile size is kept when it was shown and not saved since.
  if (event->isAccepted()) formExport_->FormDestroy();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList files = LocalFiles(event->mimeData());
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  // Loading runs after the drop has been answered, so the file manager is not kept waiting.
  QMetaObject::invokeMethod(
      this, [this, files] { AddFiles(files); }, Qt::QueuedConnection);
}

void MainWindow::OpenCommand(bool closeFirst) {
  if (opdOpenFile_->exec() != QDialog::Accepted) return;
  const QStringList files = opdOpenFile_->selectedFiles();
  // Next time the dialog opens where this selection was made, also when the
  // names were typed as paths into another folder.
  if (!files.isEmpty()) {
    const QString folder = QFileInfo(files.last()).absolutePath();
    opdOpenFile_->setDirectory(folder);
    try {
      WriteLastOpenFolder(QFile::encodeName(formExport_->SettingsFileName()).toStdString(),
                          QFile::encodeName(folder).toStdString());
    } catch (const Error&) {
      // The folder is a convenience; failing to remember it stops nothing.
    }
  }
  OpenFiles(files, closeFirst);
}

void MainWindow::AddFiles(const QStringList& fileNames) { OpenFiles(fileNames, false); }

void MainWindow::OpenFiles(const QStringList& fileNames, bool closeFirst) {
  if (fileNames.isEmpty()) return;
  // A map read again replaces the one the sheet's frame may be searched on.
  EndSheetCornersFor(AllAreas());
  if (closeFirst) {
    if (!ConfirmCalibrationChanges(AllAreas())) return;
    view_->CloseAll();
  }
  formImport_->Run(fileNames);
  navigator_->expandAll();
  RefillCalibrationTable();
}

void MainWindow::StopSignalReceived() {
  // The run polls the signal itself, between tiles and archive entries; a
  // question it waits on (Esc's "Stop the export?") goes first.
  for (int guard = 0; guard < 16; ++guard) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == this || (modal == formExport_ && formExport_->Running()) ||
        (modal == formMapApps_ && formMapApps_->Running()))
      break;
    if (!modal->close()) break; // the open-files dialog finishes its files first
  }
  // Refused (changed points the user keeps): the next signal stops again.
  if (!formExport_->Running() && !formMapApps_->Running() && !close()) TStopSignals::Rearm();
}

void MainWindow::ToggleOption(QAction* item, TDisplayMapsOption option) {
  const TDisplayMapssOptions bit = OptionBit(option);
  if (item->isChecked())
    view_->SetOptions(view_->Options() | bit);
  else
    view_->SetOptions(view_->Options() & static_cast<TDisplayMapssOptions>(~bit));
}

void MainWindow::UpdateMapMenu() {
  const bool active = view_->ActiveMapArea() != nullptr;
  mmMap_->menuAction()->setEnabled(active);
  // Their shortcuts work outside the menu, so they follow it themselves.
  mmMapSaveCalibration_->setEnabled(active);
  mmMapSave_->setEnabled(active);
  mmMapProjection_->setEnabled(active);
  UpdateUndo();
  UpdateTitle();
  if (!active) mmMapPickPoint_->setChecked(false);
  mmMapPickPoint_->setEnabled(active);
  UpdateFitLabel();
}

void MainWindow::ShowGridProblem() {
  const std::string problem = view_->GridProblem();
  if (!problem.empty()) readout_->setText(QString::fromStdString(problem));
}

void MainWindow::UpdateLayoutMenu() { mmLayoutClose_->setEnabled(view_->ActiveLayout() != nullptr); }

void MainWindow::CloseLayout() {
  TMapLayout* layout = view_->ActiveLayout();
  if (!layout) return;
  if (ConfirmCalibrationChanges(layout->Areas->All())) view_->Layouts->Remove(layout);
}

void MainWindow::CloseMap() {
  TMapArea* area = view_->ActiveMapArea();
  if (area && ConfirmCalibrationChanges({area})) area->Layout->Areas->Remove(area, true);
}

void MainWindow::CloseAll() {
  if (ConfirmCalibrationChanges(AllAreas())) view_->CloseAll();
}

std::vector<TMapArea*> MainWindow::AllAreas() const { return view_->Layouts->AllAreas(); }

bool MainWindow::ConfirmCalibrationChanges(const std::vector<TMapArea*>& areas) {
  // A row typed but not yet saved is an edit too.
  if (!calibration_->PostPendingEdit()) return false;
  for (TMapArea* area : areas) {
    if (!AreaChanged(*area)) continue;
    switch (Prompter().AskYesNoCancel(this, TMsgType::Confirmation,
                                      QString::fromStdString(msg::CalibrationChangedQuestion(area->Name)))) {
    case TAnswer::Yes: {
      const std::string own = OwnCalibrationFile(*area);
      const bool saved = !own.empty() ? SaveCalibrationTo(area, QString::fromStdString(own)) : SaveCalibrationAs(area);
      if (!saved) return false;
      break;
    }
    case TAnswer::No: break;
    case TAnswer::Cancel: return false;
    }
  }
  EndSheetCornersFor(areas);
  return true;
}

bool MainWindow::SaveCalibration(TMapArea* area) {
  if (!area || !calibration_->PostPendingEdit()) return false;
  const std::string own = OwnCalibrationFile(*area);
  return own.empty() ? SaveCalibrationAs(area) : SaveCalibrationTo(area, QString::fromStdString(own));
}

bool MainWindow::SaveCalibrationAs(TMapArea* area) {
  if (!area || !calibration_->PostPendingEdit()) return false;
  const QString fileName = ChooseCalibrationFileName(QString::fromStdString(SuggestedCalibrationFile(*area)));
  if (fileName.isEmpty()) return false;
  if (QFileInfo::exists(fileName) &&
      !Prompter().Ask(this, TMsgType::Confirmation,
                      QString::fromStdString(msg::ReplaceFileQuestion(fileName.toStdString()))))
    return false;
  return SaveCalibrationTo(area, fileName);
}

bool MainWindow::SaveCalibrationTo(TMapArea* area, const QString& fileName) {
  try {
    const bool saved = zv::SaveCalibration(*area, fileName.toStdString(), [this](const std::string& question) {
      return Prompter().Ask(this, TMsgType::Confirmation, QString::fromStdString(question));
    });
    if (!saved) return false;
  } catch (const Error& e) {
    Prompter().Message(this, TMsgType::Error, QString::fromStdString(e.what()));
    return false;
  }
  statusBar()->showMessage(QString::fromStdString(msg::CalibrationSaved(QFileInfo(fileName).fileName().toStdString())));
  UpdateTitle();
  return true;
}

void MainWindow::UpdateTitle() {
  const TMapArea* area = view_->ActiveMapArea();
  setWindowTitle(QString::fromStdString(
      msg::WindowTitle(area ? area->Name : std::string(), area && AreaChanged(*area), ZOVEVOD_VERSION)));
}

void MainWindow::UpdateUndo() {
  mmEditUndo_->setEnabled(calibration_->CanUndo());
  mmEditRedo_->setEnabled(calibration_->CanRedo());
}

void MainWindow::PickModeToggled(bool on) {
  if (on && !view_->ActiveMapArea()) {
    mmMapPickPoint_->setChecked(false);
    return;
  }
  view_->SetPickMode(on);
  if (on) {
    // The rows being picked for are in sight, and Esc reaches the view.
    pgcMain_->setCurrentWidget(tpgCalibration_);
    view_->setFocus(Qt::OtherFocusReason);
  }
  readout_->clear();
  UpdateFitLabel();
}

void MainWindow::ShowPointer(int x, int y) {
  const TMapArea* area = view_->ActiveMapArea();
  if (!area) return;
  pointer_ = QPoint(x, y);
  statusBar()->clearMessage();
  std::string text = PointerReadout(*area, x, y);
  if (sheetPick_)
    text = sheetStatus_.toStdString() + "   " + text;
  else if (view_->PickMode())
    text = msg::PickReadout(calibration_->PickTarget(), text);
  readout_->setText(QString::fromStdString(text));
}

// The readout under a pointer that has not moved names the fit of the points
// as they were: a pick or an edit gives it the new fit at once.
void MainWindow::CalibrationPointsWritten() {
  UpdateFitLabel();
  UpdateUndo();
  UpdateTitle();
  if (!readout_->text().isEmpty()) ShowPointer(pointer_.x(), pointer_.y());
}

void MainWindow::UpdateFitLabel() {
  const TMapArea* area = view_->ActiveMapArea();
  const bool working = area && (view_->PickMode() || pgcMain_->currentWidget() == tpgCalibration_);
  if (!working) {
    fitLabel_->hide();
    return;
  }
  fitLabel_->setText(QString::fromStdString(FitSummary(*area)));
  fitLabel_->show();
}

bool MainWindow::AreaChanged(const TMapArea& area) const {
  return PointsChanged(area) || !SamePlane(area.Plane, area.SavedPlane);
}

void MainWindow::ChooseProjection() {
  TMapArea* area = view_->ActiveMapArea();
  if (!area || !calibration_->PostPendingEdit()) return;
  FormProjection form(area->Plane, area->Points, this);
  if (form.exec() != QDialog::Accepted || view_->ActiveMapArea() != area) return;
  const TPlaneChoice plane = NormalisedPlane(form.Choice());
  if (SamePlane(plane, area->Plane)) return;
  // One step to undo; the fit follows the plane by itself.
  calibration_->ReplacePoints(area->Points, plane);
  view_->update();
}

void MainWindow::NewLayout() {
  view_->Layouts->AddLayout("New layout");
  navigator_->EditLastAddedLayout();
}

void MainWindow::About() {
  Prompter().Message(this, TMsgType::Information,
                     QStringLiteral("Zovevod ") + QStringLiteral(ZOVEVOD_VERSION) +
                         QStringLiteral("\n\n"
                                        "Free software for carrying raster maps into the field.\n"
                                        "It comes with no warranty; maps remain their authors' property."));
}

void MainWindow::PageChanged(int index) {
  if (pgcMain_->widget(index) == tpgCalibration_) RefillCalibrationTable();
  FitPagesWidth();
  UpdateFitLabel();
}

// The Calibration page is as wide as its table, so every column shows; the
// Navigator page gets its own width back.
void MainWindow::FitPagesWidth() {
  QList<int> sizes = splitter_->sizes();
  if (sizes.size() != 2) return;
  const int total = sizes[0] + sizes[1];
  if (pgcMain_->currentWidget() == tpgCalibration_) {
    navigatorWidth_ = sizes[0];
    const int wanted = calibration_->PreferredWidth() + (pgcMain_->width() - calibration_->width());
    if (wanted <= sizes[0]) return;
    sizes[0] = std::min(wanted, total - std::max(view_->minimumSizeHint().width(), 120));
  } else {
    if (navigatorWidth_ < 0) return;
    sizes[0] = navigatorWidth_;
    navigatorWidth_ = -1;
  }
  sizes[1] = total - sizes[0];
  splitter_->setSizes(sizes);
}

void MainWindow::RefillCalibrationTable() { calibration_->RefillCalibrationTable(); }

} // namespace zv
