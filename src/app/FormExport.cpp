#include "app/FormExport.h"

#include "app/DirDlg.h"
#include "app/Prompter.h"
#include "base/Errors.h"
#include "export/ExportToAmbulo.h"
#include "export/FormStorage.h"
#include "model/DisplayMapsCore.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <exception>

namespace zv {
namespace {

// Wider than its design size: this desktop's font is larger, and the depth
// list's longest label must show whole.
constexpr int kClientWidth = 440;
constexpr int kClientHeight = 303;
constexpr int kBorder = 8;
constexpr int kGroupHeight = 250;

template <class W> W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLabel* BuddyLabel(const QString& text, const char* name, QWidget* buddy) {
  auto* label = Named(new QLabel(text), name);
  label->setBuddy(buddy);
  return label;
}

QFrame* Separator() {
  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

// Widgets that come and go keep their place, so the others do not move.
void KeepPlaceWhenHidden(QWidget* widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
}

std::string LocalName(const QString& text) { return QFile::encodeName(text).toStdString(); }

QString DefaultSettingsFileName() {
  const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  return QFile::decodeName(
      SettingsFileName(LocalName(QCoreApplication::applicationDirPath()), LocalName(config)).c_str());
}

} // namespace

TFormExport::TFormExport(TDisplayMapsCore& view, QWidget* parent) : QDialog(parent), view_(view) {
  setObjectName(QStringLiteral("FormExport"));
  setWindowTitle(QStringLiteral("Export map or atlas to Ambulo..."));

  GrbExportType = Named(new QGroupBox(QStringLiteral(" Export options")), "GrbExportType");
  RbtExportTypeAtlas = Named(new QRadioButton(QStringLiteral("Whole atlas (several maps and several layers)")),
                             "RbtExportTypeAtlas");
  RbtExportTypeSingleMap = Named(new QRadioButton(QStringLiteral("Single map")), "RbtExportTypeSingleMap");
  ChbTAR = Named(new QCheckBox(QStringLiteral("TAR-ed")), "ChbTAR");
  ChbTAR->setLayoutDirection(Qt::RightToLeft); // the caption on the box's left
  EdtTargetDirectory = Named(new QLineEdit, "EdtTargetDirectory");
  LblTargetDirectory = BuddyLabel(QStringLiteral("Target directory"), "LblTargetDirectory", EdtTargetDirectory);
  SbtDirectoryBrowse = Named(new QToolButton, "SbtDirectoryBrowse");
  SbtDirectoryBrowse->setAutoRaise(true);
  SbtDirectoryBrowse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  SbtDirectoryBrowse->setFocusPolicy(Qt::NoFocus); // a flat button, outside the tab order
  SbtDirectoryBrowse->setAccessibleName(QStringLiteral("SbtDirectoryBrowse"));
  SbtDirectoryBrowse->setAccessibleDescription(QStringLiteral("Select target directory"));
  SbtDirectoryBrowse->setToolTip(QStringLiteral("Select target directory"));
  EdtAtlasName = Named(new QLineEdit(QStringLiteral("myatlas")), "EdtAtlasName");
  LblAtlasName = BuddyLabel(QStringLiteral("Atlas name"), "LblAtlasName", EdtAtlasName);
  EdtTileWidth = Named(new QLineEdit(QStringLiteral("400")), "EdtTileWidth");
  LblTileWidth = BuddyLabel(QStringLiteral("Tile width"), "LblTileWidth", EdtTileWidth);
  EdtTileHeight = Named(new QLineEdit(QStringLiteral("400")), "EdtTileHeight");
  LblTileHeight = BuddyLabel(QStringLiteral("Tile height"), "LblTileHeight", EdtTileHeight);
  CmbTileFormat = Named(new QComboBox, "CmbTileFormat");
  CmbTileFormat->addItems({QStringLiteral("Jpeg files"), QStringLiteral("PNG files")});
  Label1 = BuddyLabel(QStringLiteral("Tile file format"), "Label1", CmbTileFormat);
  CmbTileDepth = Named(new QComboBox, "CmbTileDepth");
  LblTileDepth = BuddyLabel(QStringLiteral("Color depth"), "LblTileDepth", CmbTileDepth);
  CmbTileDepth->view()->setMinimumWidth(180); // the open list shows whole labels
  EdtTileQuality = Named(new QLineEdit(QStringLiteral("85")), "EdtTileQuality");
  LblTileQuality = BuddyLabel(QStringLiteral("JPEG Quality"), "LblTileQuality", EdtTileQuality);
  LblTileQuality2 = Named(new QLabel(QStringLiteral("%")), "LblTileQuality2");
  PrbMain = Named(new QProgressBar, "PrbMain");
  PrbMain->setRange(0, 100);
  PrbMain->setValue(0);
  PrbMain->setTextVisible(false);
  PrbMain->setAccessibleName(QStringLiteral("PrbMain"));
  BtnStart = Named(new QPushButton(QStringLiteral("&Start")), "BtnStart");
  BtnStart->setDefault(true);
  BtnRunning = Named(new QPushButton(QStringLiteral("Running")), "BtnRunning");
  BtnRunning->setEnabled(false);
  BtnRunning->setAutoDefault(false);
  BtnClose = Named(new QPushButton(QStringLiteral("Done")), "BtnClose");
  BtnClose->setDefault(true);
  for (QWidget* w : std::initializer_list<QWidget*>{LblAtlasName, EdtAtlasName, LblTileDepth, CmbTileDepth,
                                                    LblTileQuality, EdtTileQuality, LblTileQuality2, PrbMain})
    KeepPlaceWhenHidden(w);

  // The group box: export type, target, atlas name, then the tile options
  // in two columns.
  auto* group = new QVBoxLayout(GrbExportType);
  group->addWidget(RbtExportTypeAtlas);
  group->addWidget(RbtExportTypeSingleMap);
  group->addWidget(Separator());
  auto* targetCaption = new QHBoxLayout;
  targetCaption->addWidget(LblTargetDirectory);
  targetCaption->addStretch(1);
  targetCaption->addWidget(ChbTAR);
  group->addLayout(targetCaption);
  auto* target = new QHBoxLayout;
  target->setSpacing(0);
  target->addWidget(EdtTargetDirectory, 1);
  target->addWidget(SbtDirectoryBrowse);
  group->addLayout(target);
  auto* atlas = new QHBoxLayout;
  atlas->addWidget(LblAtlasName);
  atlas->addWidget(EdtAtlasName, 1);
  group->addLayout(atlas);
  group->addWidget(Separator());
  auto* tiles = new QGridLayout;
  tiles->addWidget(LblTileWidth, 0, 0);
  tiles->addWidget(EdtTileWidth, 0, 1);
  tiles->addWidget(LblTileHeight, 1, 0);
  tiles->addWidget(EdtTileHeight, 1, 1);
  tiles->setColumnMinimumWidth(2, 4);
  tiles->addWidget(Label1, 0, 3);
  tiles->addWidget(CmbTileFormat, 0, 4, 1, 2);
  // The depth list and the quality field share the place below the format.
  tiles->addWidget(LblTileDepth, 1, 3);
  tiles->addWidget(CmbTileDepth, 1, 4, 1, 2);
  tiles->addWidget(LblTileQuality, 2, 3);
  tiles->addWidget(EdtTileQuality, 2, 4);
  tiles->addWidget(LblTileQuality2, 2, 5);
  // Short numbers on the left leave the lists room for their longest label.
  for (QLineEdit* edit : {EdtTileWidth, EdtTileHeight, EdtTileQuality}) edit->setMaximumWidth(56);
  tiles->setColumnStretch(4, 1);
  group->addLayout(tiles);
  group->addStretch(1);
  GrbExportType->setFixedHeight(kGroupHeight);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(PrbMain, 1);
  bottom->addWidget(BtnStart);
  bottom->addWidget(BtnRunning);
  bottom->addWidget(BtnClose);
  auto* form = new QVBoxLayout(this);
  form->setContentsMargins(kBorder, kBorder, kBorder, kBorder);
  form->addWidget(GrbExportType);
  form->addStretch(1);
  form->addLayout(bottom);
  setFixedSize(kClientWidth, kClientHeight);

  setTabOrder(RbtExportTypeAtlas, RbtExportTypeSingleMap);
  setTabOrder(RbtExportTypeSingleMap, ChbTAR);
  setTabOrder(ChbTAR, EdtTargetDirectory);
  setTabOrder(EdtTargetDirectory, EdtAtlasName);
  setTabOrder(EdtAtlasName, EdtTileWidth);
  setTabOrder(EdtTileWidth, EdtTileHeight);
  setTabOrder(EdtTileHeight, CmbTileDepth);
  setTabOrder(CmbTileDepth, CmbTileFormat);
  setTabOrder(CmbTileFormat, EdtTileQuality);
  setTabOrder(EdtTileQuality, BtnStart);
  setTabOrder(BtnStart, BtnRunning);
  setTabOrder(BtnRunning, BtnClose);

  RbtExportTypeAtlas->setChecked(true);
  connect(RbtExportTypeAtlas, &QRadioButton::toggled, this, [this] { RbtExportTypeAtlasClick(); });
  connect(CmbTileFormat, &QComboBox::currentIndexChanged, this, [this] { CmbTileFormatChange(); });
  connect(SbtDirectoryBrowse, &QToolButton::clicked, this, [this] { SbtDirectoryBrowseClick(); });
  connect(BtnStart, &QPushButton::clicked, this, [this] { BtnStartClick(); });
  connect(BtnClose, &QPushButton::clicked, this, &QDialog::accept);

  // The dialog sees every key press before its controls.
  installEventFilter(this);
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);

  ShowState(true, false, false);
  PrbMain->hide();
  FormCreate();
}

TFormExport::~TFormExport() {
  FormDestroy();
}

void TFormExport::FormCreate() {
  settingsFileName_ = DefaultSettingsFileName();
  CmbTileFormat->setCurrentIndex(0);
  CmbTileFormatChange();
  RbtExportTypeAtlasClick();
}

void TFormExport::FormShow() {
  ShowState(true, false, false);
  PrbMain->hide();
}

void TFormExport::FormDestroy() {
  if (settingsPending_) WriteSettings();
}

void TFormExport::ShowState(bool start, bool running, bool done) {
  BtnStart->setVisible(start);
  BtnRunning->setVisible(running);
  BtnClose->setVisible(done);
  // Both are default buttons; a dialog marks one at a time, the visible one.
  if (start) BtnStart->setDefault(true);
  if (done) BtnClose->setDefault(true);
}

void TFormExport::RbtExportTypeAtlasClick() {
  const bool atlas = RbtExportTypeAtlas->isChecked();
  LblAtlasName->setVisible(atlas);
  EdtAtlasName->setVisible(atlas);
}

void TFormExport::CmbTileFormatChange() {
  const bool jpeg = CmbTileFormat->currentIndex() == 0;
  const bool png = CmbTileFormat->currentIndex() == 1;
  LblTileQuality->setVisible(jpeg);
  EdtTileQuality->setVisible(jpeg);
  LblTileQuality2->setVisible(jpeg);
  LblTileDepth->setVisible(png);
  CmbTileDepth->setVisible(png);
  if (png) {
    // An earlier choice of depth is not kept.
    const QSignalBlocker blocker(CmbTileDepth);
    CmbTileDepth->clear();
    for (const TColorDepthRow& row : ColorDepthRows) CmbTileDepth->addItem(QString::fromLatin1(row.Label));
    CmbTileDepth->setCurrentIndex(6);
  }
}

void TFormExport::SbtDirectoryBrowseClick() {
  QString start = EdtTargetDirectory->text();
  if (start.isEmpty()) start = QCoreApplication::applicationDirPath() + QLatin1Char('/');
  QString chosen;
  if (BrowseForFolder(this, QStringLiteral("Select target directory"), start, chosen))
    EdtTargetDirectory->setText(chosen);
}

void TFormExport::SetProgressMaximum(std::int64_t maximum) {
  // The bar counts in int; larger maps count in steps of progressDivisor_.
  progressDivisor_ = std::max<std::int64_t>(1, maximum / INT_MAX + 1);
  PrbMain->setRange(0, static_cast<int>(std::max<std::int64_t>(1, maximum / progressDivisor_)));
}

void TFormExport::SetProgressPosition(std::int64_t position) {
  // Positions past the end (the last tile of a row counts its full width)
  // stop at the end, as the bar's own range would.
  const std::int64_t value = std::clamp<std::int64_t>(position / progressDivisor_, 0, PrbMain->maximum());
  PrbMain->setValue(static_cast<int>(value));
}

void TFormExport::BtnStartClick() {
  if (running_) return;
  if (EdtTargetDirectory->text().isEmpty()) {
    Prompter().Message(this, TMsgType::Error, QStringLiteral("Please enter target directory"));
    return;
  }
  running_ = true;
  closeRequested_ = false;
  stopRequested_ = false;
  ShowState(false, true, false);
  BtnRunning->setEnabled(false);
  PrbMain->show();
  GrbExportType->setEnabled(false);

  TExportOptions options;
  options.TileWidthText = EdtTileWidth->text().toStdString();
  options.TileHeightText = EdtTileHeight->text().toStdString();
  options.FormatRow = CmbTileFormat->currentIndex();
  options.DepthRow = CmbTileDepth->currentIndex() < 0 ? 6 : CmbTileDepth->currentIndex();
  options.QualityText = EdtTileQuality->text().toStdString();
  options.Tared = ChbTAR->isChecked();
  TExportProgress progress;
  progress.SetPosition = [this](std::int64_t v) { SetProgressPosition(v); };
  progress.SetMaximum = [this](std::int64_t v) { SetProgressMaximum(v); };
  progress.ProcessMessages = [] { QCoreApplication::processEvents(); };
  progress.StopRequested = [this] { return stopRequested_; };

  const std::string target = LocalName(EdtTargetDirectory->text());
  QString failure;
  try {
    if (RbtExportTypeAtlas->isChecked())
      ExportAtlas(target, LocalName(EdtAtlasName->text()), *view_.Layouts, options, progress);
    else
      ExportSingleMap(target, view_.ActiveMapArea(), options, progress);
  } catch (const std::exception& e) {
    failure = QString::fromUtf8(e.what());
    if (failure.isEmpty()) failure = QStringLiteral("Export failed.");
  }
  running_ = false;
  GrbExportType->setEnabled(true);
  if (failure.isEmpty()) {
    ShowState(false, false, true);
  } else {
    // After an error (or a stop) the dialog is ready for another try; what
    // the run wrote stays.
    ShowState(true, false, false);
    PrbMain->hide();
    Prompter().Message(this, TMsgType::Error, failure);
  }
  if (closeRequested_) done(QDialog::Rejected);
}

void TFormExport::AskStop() {
  if (stopRequested_) return; // already on its way out
  if (Prompter().Ask(this, TMsgType::Confirmation, QStringLiteral("Stop the export?"))) stopRequested_ = true;
}

bool TFormExport::FormKeyDown(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    // Start and Done are default buttons; otherwise Enter closes.
    if (!BtnStart->isHidden())
      BtnStart->click();
    else if (!BtnClose->isHidden())
      BtnClose->click();
    else
      close();
    return true;
  }
  if (key == Qt::Key_Escape) {
    if (running_)
      AskStop();
    else
      reject();
    return true;
  }
  return false;
}

bool TFormExport::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* widget = qobject_cast<QWidget*>(watched);
    // Popups of the lists are windows of their own and keep their keys.
    if (widget && widget->window() == this) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (FormKeyDown(key->key())) return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TFormExport::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    ReadSettings();
    FormShow();
    settingsPending_ = true;
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
}

void TFormExport::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The window's close button during a run closes when the run ends.
    closeRequested_ = true;
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TFormExport::reject() {
  if (running_) {
    closeRequested_ = true;
    return;
  }
  QDialog::reject();
}

void TFormExport::done(int result) {
  if (running_) {
    closeRequested_ = true;
    return;
  }
  WriteSettings();
  QDialog::done(result);
}

void TFormExport::ReadSettings() {
  TFormExportTexts texts{EdtTileHeight->text().toStdString(), EdtTileWidth->text().toStdString()};
  ReadFormExportSettings(LocalName(settingsFileName_), texts);
  EdtTileHeight->setText(QString::fromStdString(texts.TileHeight));
  EdtTileWidth->setText(QString::fromStdString(texts.TileWidth));
}

void TFormExport::WriteSettings() {
  settingsPending_ = false;
  try {
    const QString dir = QFileInfo(settingsFileName_).absolutePath();
    if (!QFileInfo::exists(dir)) QDir().mkpath(dir);
    WriteFormExportSettings(LocalName(settingsFileName_),
                            TFormExportTexts{EdtTileHeight->text().toStdString(), EdtTileWidth->text().toStdString()});
  } catch (const Error&) {
    // The tile size is a convenience; failing to remember it stops nothing.
  }
}

} // namespace zv
