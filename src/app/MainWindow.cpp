#include "app/MainWindow.h"

#include "app/CalibrationPanel.h"
#include "app/FormExport.h"
#include "app/FormImport.h"
#include "app/Icons.h"
#include "app/Navigator.h"
#include "app/Prompter.h"
#include "app/StopSignals.h"
#include "base/Messages.h"
#include "base/Version.h"
#include "model/CalibrationFit.h"
#include "view/DisplayMaps.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
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

namespace zv {
namespace {

constexpr char kFilter[] = "All supported files (*.vka *.map *.gmi *.tar);;Ambulo atlas (*.vka);;"
                           "MAP files (*.map);;GMI files (*.gmi);;TARed maps and atlases (*.tar)";

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
  auto* readout = new QLabel(statusBar);
  readout->setObjectName(QStringLiteral("LblPointer"));
  readout->setAccessibleDescription(QStringLiteral("Pointer position"));
  statusBar->addWidget(readout, 1);
  connect(view_, &TDisplayMaps::PointerOverPicture, readout, [this, readout](int x, int y) {
    if (const TMapArea* area = view_->ActiveMapArea())
      readout->setText(QString::fromUtf8(PointerReadout(*area, x, y).c_str()));
  });
  connect(view_, &TDisplayMaps::PointerLeft, readout, &QLabel::clear);
  // The view's zoom factor, beside the readout.
  auto* zoom = new QLabel(QString::fromStdString(msg::ZoomFactor(view_->Zoom())), statusBar);
  zoom->setObjectName(QStringLiteral("LblZoom"));
  zoom->setAccessibleName(QStringLiteral("Zoom"));
  zoom->setAccessibleDescription(QStringLiteral("Zoom factor of the map view"));
  statusBar->addPermanentWidget(zoom);
  connect(view_, &TDisplayMaps::ZoomFactorChanged, zoom,
          [zoom](int factor) { zoom->setText(QString::fromStdString(msg::ZoomFactor(factor))); });

  AssignHooks();

  opdOpenFile_ = new QFileDialog(this, QStringLiteral("Open"), QCoreApplication::applicationDirPath(),
                                 QString::fromLatin1(kFilter));
  opdOpenFile_->setObjectName(QStringLiteral("OpdOpenFile"));
  opdOpenFile_->setFileMode(QFileDialog::ExistingFiles);
  opdOpenFile_->setAcceptMode(QFileDialog::AcceptOpen);
  opdOpenFile_->setOption(QFileDialog::DontUseNativeDialog);

  // Both options start off and both items unticked: one run of each command
  // switches them on.
  mmViewCalibrationPoints_->trigger();
  mmViewImageBorder_->trigger();
  UpdateMapMenu();
  UpdateLayoutMenu();

  setWindowTitle(QStringLiteral("Zovevod - ") + QStringLiteral(ZOVEVOD_VERSION));
  setWindowIcon(ProgramIcon());

  formImport_ = new TFormImport(*view_, this);
  formExport_ = new TFormExport(*view_, this);
}

MainWindow::~MainWindow() {
  // The model goes first, while the pages its removal hooks reach still
  // exist; the view itself then goes with its parent.
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

void MainWindow::CreateMenus() {
  // Menu titles carry mnemonics (Alt+F opens File); the items keep their texts.
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("mmFile"));
  mmFileOpen_ = file->addAction(QStringLiteral("Open..."), this, [this] { OpenCommand(true); });
  mmFileOpen_->setObjectName(QStringLiteral("mmFileOpen"));
  mmFileOpen_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  mmFileOpen_->setIcon(MainIcon(miOpen));
  mmFileAdd_ = file->addAction(QStringLiteral("Add..."), this, [this] { OpenCommand(false); });
  mmFileAdd_->setObjectName(QStringLiteral("mmFileAdd"));
  mmFileAdd_->setIcon(MainIcon(miAdd));
  QAction* closeAll = file->addAction(QStringLiteral("Close all"), this, [this] { view_->CloseAll(); });
  closeAll->setObjectName(QStringLiteral("mmFileCloseAll"));
  file->addSeparator();
  QAction* exportAction = file->addAction(QStringLiteral("Export to Ambulo..."), this, [this] {
    formExport_->exec();
    // A signal during the run stopped it; now the program ends.
    if (TStopSignals::Signalled()) close();
  });
  exportAction->setObjectName(QStringLiteral("mmFileExport"));
  file->addSeparator();
  QAction* exitAction = file->addAction(QStringLiteral("Exit"), this, &QWidget::close);
  exitAction->setObjectName(QStringLiteral("mmFileExit"));
  exitAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));

  QMenu* layout = menuBar()->addMenu(QStringLiteral("&Layout"));
  layout->setObjectName(QStringLiteral("mmLayout"));
  QAction* newLayout = layout->addAction(QStringLiteral("New"), this, &MainWindow::NewLayout);
  newLayout->setObjectName(QStringLiteral("mmLayoutNew"));
  mmLayoutClose_ = layout->addAction(QStringLiteral("Close Layout"), this, &MainWindow::CloseLayout);
  mmLayoutClose_->setObjectName(QStringLiteral("mmLayoutClose"));

  mmMap_ = menuBar()->addMenu(QStringLiteral("&Map"));
  mmMap_->setObjectName(QStringLiteral("mmMap"));
  QAction* closeMap = mmMap_->addAction(QStringLiteral("Close Map"), this, &MainWindow::CloseMap);
  closeMap->setObjectName(QStringLiteral("mmMapClose"));

  QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
  viewMenu->setObjectName(QStringLiteral("mmView"));
  mmViewCalibrationPoints_ =
      AddOptionItem(viewMenu, "mmViewCalibrationPoints", QStringLiteral("Show calibration points"),
                    QKeySequence(Qt::ALT | Qt::Key_C), mpoShowCalibrationPoints);
  mmViewImageBorder_ = AddOptionItem(viewMenu, "mmViewImageBorder", QStringLiteral("Show border of image"),
                                     QKeySequence(Qt::ALT | Qt::Key_B), mpoShowImageBorder);

  // Zoom commands: each keeps the picture point at the view's centre.
  viewMenu->addSeparator();
  auto addZoom = [this, viewMenu](const char* caption, const char* name, QList<QKeySequence> keys, auto command) {
    QAction* action = viewMenu->addAction(QString::fromLatin1(caption), view_, command);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcuts(keys);
    return action;
  };
  addZoom("Zoom in", "mmViewZoomIn", {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
          [this] { view_->ZoomIn(); });
  addZoom("Zoom out", "mmViewZoomOut", {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { view_->ZoomOut(); });
  addZoom("Actual size", "mmViewActualSize", {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { view_->ActualSize(); });
  addZoom("Fit to window", "mmViewFitToWindow", {QKeySequence(Qt::CTRL | Qt::Key_9)}, [this] { view_->FitToWindow(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("mmHelp"));
  QAction* about = help->addAction(QStringLiteral("About..."), this, &MainWindow::About);
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
  };
  hooks.OnMapAreasChange = [this](TMapArea* area, TListChange change) { navigator_->OnMapAreasChange(area, change); };
  hooks.OnActiveMapAreaChange = [this](TDisplayMapsCore*) {
    UpdateMapMenu();
    navigator_->ActiveChanged();
    view_->Invalidate();
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
  QMetaObject::invokeMethod(this, [this, files] { AddFiles(files); }, Qt::QueuedConnection);
}

void MainWindow::OpenCommand(bool closeFirst) {
  if (opdOpenFile_->exec() != QDialog::Accepted) return;
  const QStringList files = opdOpenFile_->selectedFiles();
  // Next time the dialog opens where this selection was made, also when the
  // names were typed as paths into another folder.
  if (!files.isEmpty()) opdOpenFile_->setDirectory(QFileInfo(files.last()).absolutePath());
  OpenFiles(files, closeFirst);
}

void MainWindow::AddFiles(const QStringList& fileNames) { OpenFiles(fileNames, false); }

void MainWindow::OpenFiles(const QStringList& fileNames, bool closeFirst) {
  if (fileNames.isEmpty()) return;
  if (closeFirst) view_->CloseAll();
  formImport_->Run(fileNames);
  navigator_->expandAll();
  RefillCalibrationTable();
}

void MainWindow::StopSignalReceived() {
  // The run polls the signal itself, between tiles and archive entries; a
  // question it waits on (Esc's "Stop the export?") goes first.
  for (int guard = 0; guard < 16; ++guard) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == this || (modal == formExport_ && formExport_->Running())) break;
    if (!modal->close()) break; // the open-files dialog finishes its files first
  }
  if (!formExport_->Running()) close();
}

void MainWindow::ToggleOption(QAction* item, TDisplayMapsOption option) {
  const TDisplayMapssOptions bit = OptionBit(option);
  if (item->isChecked())
    view_->SetOptions(view_->Options() | bit);
  else
    view_->SetOptions(view_->Options() & static_cast<TDisplayMapssOptions>(~bit));
}

void MainWindow::UpdateMapMenu() { mmMap_->menuAction()->setEnabled(view_->ActiveMapArea() != nullptr); }

void MainWindow::UpdateLayoutMenu() { mmLayoutClose_->setEnabled(view_->ActiveLayout() != nullptr); }

void MainWindow::CloseLayout() {
  if (TMapLayout* layout = view_->ActiveLayout()) view_->Layouts->Remove(layout);
}

void MainWindow::CloseMap() {
  if (TMapArea* area = view_->ActiveMapArea()) area->Layout->Areas->Remove(area, true);
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
}

void MainWindow::RefillCalibrationTable() { calibration_->RefillCalibrationTable(); }

} // namespace zv
