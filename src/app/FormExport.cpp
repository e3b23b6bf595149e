#include "app/FormExport.h"

#include "app/DirDlg.h"
#include "app/Prompter.h"
#include "base/Errors.h"
#include "base/Messages.h"
#include "export/ExportToAmbulo.h"
#include "export/FormStorage.h"
#include "model/DisplayMapsCore.h"

#include <QApplication>
#include <QCheckBox>
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
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <exception>
#include <iterator>

namespace zv {
namespace {

// The design's size, for its 8-point font; a larger font makes the dialog
// larger, never smaller.
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

// Room for a few digits in the field's own font, and no more: the lists on
// the right need the width for their longest label.
void FitNumberField(QLineEdit* edit) {
  QStyleOptionFrame option;
  option.initFrom(edit);
  const QSize text(edit->fontMetrics().horizontalAdvance(QStringLiteral("00000")), edit->fontMetrics().height());
  edit->setMaximumWidth(edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, edit).width());
}

std::string LocalName(const QString& text) { return QFile::encodeName(text).toStdString(); }

QString DefaultSettingsFileName() {
  const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  return QFile::decodeName(
      SettingsFileName(LocalName(QCoreApplication::applicationDirPath()), LocalName(config)).c_str());
}

} // namespace

TFormExport::TFormExport(TDisplayMapsCore& view, QWidget* parent) : TRunDialog(parent), view_(view) {
  setObjectName(QStringLiteral("FormExport"));
  setWindowTitle(QStringLiteral("Export map or atlas to Ambulo..."));
  CreateControls();
  CreateLayout();
  CreateTabOrder();
  ConnectControls();
  ShowState(TState::Ready);
  FormCreate();
}

TFormExport::~TFormExport() {
  FormDestroy();
}

void TFormExport::CreateControls() {
  GrbExportType = Named(new QGroupBox(QStringLiteral(" Export options")), "GrbExportType");
  RbtExportTypeAtlas = Named(new QRadioButton(QStringLiteral("Whole atlas (several maps and several layers)")),
                             "RbtExportTypeAtlas");
  RbtExportTypeSingleMap = Named(new QRadioButton(QStringLiteral("Single map")), "RbtExportTypeSingleMap");
  RbtExportTypeAtlas->setChecked(true);
  ChbTAR = Named(new QCheckBox(QStringLiteral("TAR-ed")), "ChbTAR");
  ChbTAR->setLayoutDirection(Qt::RightToLeft); // the caption on the box's left
  EdtTargetDirectory = Named(new QLineEdit, "EdtTargetDirectory");
  LblTargetDirectory = BuddyLabel(QStringLiteral("Target &directory"), "LblTargetDirectory", EdtTargetDirectory);
  // A picture only: the screen reader and the tool tip say what it does.
  SbtDirectoryBrowse = Named(new QToolButton, "SbtDirectoryBrowse");
  SbtDirectoryBrowse->setAutoRaise(true);
  SbtDirectoryBrowse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  SbtDirectoryBrowse->setFocusPolicy(Qt::TabFocus);
  SbtDirectoryBrowse->setAccessibleName(QStringLiteral("Choose target directory"));
  SbtDirectoryBrowse->setToolTip(QStringLiteral("Select target directory"));
  EdtAtlasName = Named(new QLineEdit(QStringLiteral("myatlas")), "EdtAtlasName");
  LblAtlasName = BuddyLabel(QStringLiteral("Atlas &name"), "LblAtlasName", EdtAtlasName);
  EdtTileWidth = Named(new QLineEdit(QStringLiteral("400")), "EdtTileWidth");
  LblTileWidth = BuddyLabel(QStringLiteral("Tile &width"), "LblTileWidth", EdtTileWidth);
  EdtTileHeight = Named(new QLineEdit(QStringLiteral("400")), "EdtTileHeight");
  LblTileHeight = BuddyLabel(QStringLiteral("Tile &height"), "LblTileHeight", EdtTileHeight);
  CmbTileFormat = Named(new QComboBox, "CmbTileFormat");
  CmbTileFormat->addItems({QStringLiteral("Jpeg files"), QStringLiteral("PNG files")});
  Label1 = BuddyLabel(QStringLiteral("Tile file &format"), "Label1", CmbTileFormat);
  CmbTileDepth = Named(new QComboBox, "CmbTileDepth");
  LblTileDepth = BuddyLabel(QStringLiteral("Color de&pth"), "LblTileDepth", CmbTileDepth);
  // The list is empty until PNG is chosen; it is sized for its longest label
  // from the start, so choosing PNG moves nothing.
  int longest = 0;
  for (const TColorDepthRow& row : ColorDepthRows)
    longest = std::max(longest, static_cast<int>(std::strlen(row.Label)));
  CmbTileDepth->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  CmbTileDepth->setMinimumContentsLength(longest);
  EdtTileQuality = Named(new QLineEdit(QStringLiteral("85")), "EdtTileQuality");
  LblTileQuality = BuddyLabel(QStringLiteral("JPEG &Quality"), "LblTileQuality", EdtTileQuality);
  LblTileQuality2 = Named(new QLabel(QStringLiteral("%")), "LblTileQuality2");
  for (QLineEdit* edit : {EdtTileWidth, EdtTileHeight, EdtTileQuality}) FitNumberField(edit);
  // Row n makes n layers of every layout, reduced by 2, 4, ... 2^n. Not
  // remembered: every start of the program begins with none.
  CmbZoomOutLayers = Named(new QComboBox, "CmbZoomOutLayers");
  CmbZoomOutLayers->addItems({QStringLiteral("None"), QStringLiteral("1 (50 %)"), QStringLiteral("2 (50 %, 25 %)"),
                              QStringLiteral("3 (50 %, 25 %, 12.5 %)"), QStringLiteral("4 (50 % to 6.25 %)")});
  LblZoomOutLayers = BuddyLabel(QStringLiteral("&Zoom-out layers"), "LblZoomOutLayers", CmbZoomOutLayers);
  for (QWidget* w : std::initializer_list<QWidget*>{LblAtlasName, EdtAtlasName, LblTileDepth, CmbTileDepth,
                                                    LblTileQuality, EdtTileQuality, LblTileQuality2, LblZoomOutLayers,
                                                    CmbZoomOutLayers, PrbMain})
    KeepPlaceWhenHidden(w);
}

// The group box holds export type, target, atlas name, then the tile options
// in two columns; below it the progress bar and the one button showing.
void TFormExport::CreateLayout() {
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
  // Below the tile format controls: a whole atlas's zoom-out layers.
  tiles->addWidget(LblZoomOutLayers, 3, 3);
  tiles->addWidget(CmbZoomOutLayers, 3, 4, 1, 2);
  tiles->setColumnStretch(4, 1);
  group->addLayout(tiles);
  group->addStretch(1);
  GrbExportType->setMinimumHeight(kGroupHeight);

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
  // Every control at least as large as its text needs in this font.
  setFixedSize(sizeHint().expandedTo(QSize(kClientWidth, kClientHeight)));
}

void TFormExport::CreateTabOrder() {
  QWidget* const order[] = {RbtExportTypeAtlas, RbtExportTypeSingleMap, ChbTAR,       EdtTargetDirectory,
                            SbtDirectoryBrowse, EdtAtlasName,           EdtTileWidth, EdtTileHeight,
                            CmbTileDepth,       CmbTileFormat,          EdtTileQuality, CmbZoomOutLayers,
                            BtnStart,           BtnRunning,             BtnClose};
  for (std::size_t i = 1; i < std::size(order); ++i)
    setTabOrder(order[i - 1], order[i]);
}

void TFormExport::ConnectControls() {
  connect(RbtExportTypeAtlas, &QRadioButton::toggled, this, [this] { RbtExportTypeAtlasClick(); });
  connect(CmbTileFormat, &QComboBox::currentIndexChanged, this, [this] { CmbTileFormatChange(); });
  connect(SbtDirectoryBrowse, &QToolButton::clicked, this, [this] { SbtDirectoryBrowseClick(); });
  connect(BtnStart, &QPushButton::clicked, this, [this] { BtnStartClick(); });
  connect(BtnClose, &QPushButton::clicked, this, &QDialog::accept);
  // The dialog sees every key press before its controls.
  installEventFilter(this);
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

void TFormExport::FormCreate() {
  settingsFileName_ = DefaultSettingsFileName();
  CmbTileFormat->setCurrentIndex(0);
  CmbTileFormatChange();
  RbtExportTypeAtlasClick();
}

void TFormExport::FormShow() { ShowState(TState::Ready); }

void TFormExport::FormDestroy() {
  if (settingsPending_) WriteSettings();
}

// Every option stays as it is while a run reads them.
void TFormExport::EnableOptions(bool enabled) { GrbExportType->setEnabled(enabled); }

void TFormExport::RbtExportTypeAtlasClick() {
  const bool atlas = RbtExportTypeAtlas->isChecked();
  LblAtlasName->setVisible(atlas);
  EdtAtlasName->setVisible(atlas);
  LblZoomOutLayers->setVisible(atlas);
  CmbZoomOutLayers->setVisible(atlas);
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
    CmbTileDepth->setCurrentIndex(DefaultColorDepthRow);
  }
}

void TFormExport::SbtDirectoryBrowseClick() {
  QString start = EdtTargetDirectory->text();
  if (start.isEmpty()) start = QCoreApplication::applicationDirPath() + QLatin1Char('/');
  QString chosen;
  if (BrowseForFolder(this, QStringLiteral("Select target directory"), start, chosen))
    EdtTargetDirectory->setText(chosen);
}

void TFormExport::BtnStartClick() {
  if (Running()) return;
  if (EdtTargetDirectory->text().isEmpty()) {
    Prompter().Message(this, TMsgType::Error, QString::fromUtf8(msg::EnterTargetDirectory));
    return;
  }
  Run([this] { RunExport(); });
}

// What the converter does with the same options: refusals first, then the
// target directory with its parents, then the export.
void TFormExport::RunExport() {
  TExportOptions options;
  options.TileWidthText = EdtTileWidth->text().toStdString();
  options.TileHeightText = EdtTileHeight->text().toStdString();
  options.Format = CmbTileFormat->currentIndex() == 1 ? TTileFormat::Png : TTileFormat::Jpeg;
  options.DepthRow = CmbTileDepth->currentIndex() < 0 ? DefaultColorDepthRow : CmbTileDepth->currentIndex();
  options.QualityText = EdtTileQuality->text().toStdString();
  options.Tared = ChbTAR->isChecked();
  // Zoom-out layers are layers of an atlas; a single map has none.
  options.ZoomOutLayers = RbtExportTypeAtlas->isChecked() ? std::max(0, CmbZoomOutLayers->currentIndex()) : 0;
  const TExportProgress progress = Progress();

  const std::string target = LocalName(EdtTargetDirectory->text());
  if (RbtExportTypeAtlas->isChecked()) {
    const std::string atlasName = LocalName(EdtAtlasName->text());
    CheckAtlasExport(atlasName, *view_.Layouts, options);
    CreateTargetDirectory(target);
    ExportAtlas(target, atlasName, *view_.Layouts, options, progress);
  } else {
    CheckSingleMapExport(view_.ActiveMapArea(), options);
    CreateTargetDirectory(target);
    ExportSingleMap(target, view_.ActiveMapArea(), options, progress);
  }
}

bool TFormExport::FormKeyDown(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    // Start and Done are default buttons; otherwise Enter closes.
    if (!BtnStart->isHidden())
      BtnStart->click();
    else if (!BtnClose->isHidden())
      BtnClose->click();
    else if (Running())
      CloseWhenDone();
    else
      close();
    return true;
  }
  if (key == Qt::Key_Escape) {
    if (Running())
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

void TFormExport::reject() {
  if (Running()) {
    CloseWhenDone();
    return;
  }
  QDialog::reject();
}

void TFormExport::done(int result) {
  if (!Running()) WriteSettings();
  TRunDialog::done(result);
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
