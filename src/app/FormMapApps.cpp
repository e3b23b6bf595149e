#include "app/FormMapApps.h"

#include "app/Prompter.h"
#include "base/Errors.h"
#include "base/Messages.h"
#include "export/ExportToMapApps.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QShowEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace zv {
namespace {

template <class W> W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QSpinBox* SpinBox(const char* name, int min, int max, int value) {
  auto* box = Named(new QSpinBox, name);
  box->setRange(min, max);
  box->setValue(value);
  return box;
}

std::string LocalName(const QString& text) { return QFile::encodeName(text).toStdString(); }

// The format rows of the "Format" list, in its order.
constexpr TMapAppFormat kFormats[] = {TMapAppFormat::Mbtiles, TMapAppFormat::SqliteDb, TMapAppFormat::Kmz};

} // namespace

TFormMapApps::TFormMapApps(TDisplayMapsCore& view, QWidget* parent) : TRunDialog(parent), view_(view) {
  setObjectName(QStringLiteral("FormMapApps"));
  setWindowTitle(QStringLiteral("Export to map apps"));
  CreateControls();
  CreateLayout();
  ConnectControls();
  ShowState(TState::Ready);
  FormatChanged();
}

void TFormMapApps::CreateControls() {
  CmbFormat = Named(new QComboBox, "CmbFormat");
  CmbFormat->addItems({QStringLiteral("MBTiles"), QStringLiteral("SQLiteDB for OsmAnd and Locus"),
                       QStringLiteral("KMZ for Garmin")});
  EdtFile = Named(new QLineEdit, "EdtFile");
  // A picture only: the screen reader and the tool tip say what it does.
  SbtFileBrowse = Named(new QToolButton, "SbtFileBrowse");
  SbtFileBrowse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  SbtFileBrowse->setAccessibleName(QStringLiteral("Choose file"));
  SbtFileBrowse->setToolTip(QStringLiteral("Choose file"));
  RbtActiveLayout = Named(new QRadioButton(QStringLiteral("Active layout")), "RbtActiveLayout");
  RbtAllLayouts = Named(new QRadioButton(QStringLiteral("All layouts")), "RbtAllLayouts");
  RbtActiveLayout->setChecked(true);
  SpbMinZoom = SpinBox("SpbMinZoom", 0, kMaxMapAppZoom, 0);
  SpbMaxZoom = SpinBox("SpbMaxZoom", 0, kMaxMapAppZoom, 0);
  LblSuggestedZoom = Named(new QLabel, "LblSuggestedZoom");
  SpbKmzTiles = SpinBox("SpbKmzTiles", 1, kMaxKmzTiles, kDefaultKmzTiles);
  CmbTileFormat = Named(new QComboBox, "CmbTileFormat");
  CmbTileFormat->addItems({QStringLiteral("JPEG"), QStringLiteral("PNG")});
  SpbQuality = SpinBox("SpbQuality", 1, 100, 85);
  ChbCrop = Named(new QCheckBox(QStringLiteral("Crop to the map's border")), "ChbCrop");
}

// One form: each field with its label as buddy, then the progress bar and
// the one button showing.
void TFormMapApps::CreateLayout() {
  auto* form = new QFormLayout;
  const auto row = [form](const QString& text, QWidget* field, QLayout* line = nullptr) {
    auto* label = new QLabel(text);
    label->setBuddy(field);
    if (line)
      form->addRow(label, line);
    else
      form->addRow(label, field);
  };
  row(QStringLiteral("&Format"), CmbFormat);
  auto* file = new QHBoxLayout;
  file->addWidget(EdtFile, 1);
  file->addWidget(SbtFileBrowse);
  row(QStringLiteral("F&ile"), EdtFile, file);
  auto* maps = new QHBoxLayout;
  maps->addWidget(RbtActiveLayout);
  maps->addWidget(RbtAllLayouts);
  maps->addStretch(1);
  form->addRow(QStringLiteral("Maps"), maps);
  row(QStringLiteral("&Lowest zoom"), SpbMinZoom);
  auto* highest = new QHBoxLayout;
  highest->addWidget(SpbMaxZoom);
  highest->addWidget(LblSuggestedZoom, 1);
  row(QStringLiteral("&Highest zoom"), SpbMaxZoom, highest);
  row(QStringLiteral("&KMZ tiles at most"), SpbKmzTiles);
  row(QStringLiteral("&Tile format"), CmbTileFormat);
  row(QStringLiteral("&Quality"), SpbQuality);
  form->addRow(ChbCrop);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(PrbMain, 1);
  bottom->addWidget(BtnStart);
  bottom->addWidget(BtnRunning);
  bottom->addWidget(BtnClose);
  auto* all = new QVBoxLayout(this);
  all->addLayout(form);
  all->addStretch(1);
  all->addLayout(bottom);
  setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 60);
}

void TFormMapApps::ConnectControls() {
  connect(CmbFormat, &QComboBox::currentIndexChanged, this, [this] { FormatChanged(); });
  connect(CmbTileFormat, &QComboBox::currentIndexChanged, this, [this] { FormatChanged(); });
  connect(RbtAllLayouts, &QRadioButton::toggled, this, [this] { MapsChanged(); });
  connect(ChbCrop, &QCheckBox::toggled, this, [this] { MapsChanged(); });
  connect(SbtFileBrowse, &QToolButton::clicked, this, [this] { BrowseClick(); });
  connect(BtnStart, &QPushButton::clicked, this, [this] { StartClick(); });
  connect(BtnClose, &QPushButton::clicked, this, &QDialog::accept);
}

void TFormMapApps::EnableOptions(bool enabled) {
  for (QWidget* w : findChildren<QWidget*>())
    if (w != PrbMain && w != BtnRunning && w != BtnClose && w != BtnStart) w->setEnabled(enabled);
  if (enabled) FormatChanged();
}

// The suggested levels follow the maps chosen and the cropping.
void TFormMapApps::MapsChanged() {
  const auto areas = MapAppAreas(*view_.Layouts, view_.ActiveLayout(), RbtAllLayouts->isChecked());
  const int suggested = SuggestedMaxZoom(areas, ChbCrop->isChecked());
  LblSuggestedZoom->setText(QString::fromStdString(msg::SuggestedHighestZoom(suggested)));
  if (suggested >= 0) {
    SpbMaxZoom->setValue(suggested);
    SpbMinZoom->setValue(std::max(0, suggested - 5));
  }
}

void TFormMapApps::FormatChanged() {
  const bool kmz = kFormats[std::max(0, CmbFormat->currentIndex())] == TMapAppFormat::Kmz;
  // A KMZ is one level of JPEG overlays.
  for (QWidget* w : {static_cast<QWidget*>(SpbMinZoom), static_cast<QWidget*>(SpbMaxZoom),
                     static_cast<QWidget*>(CmbTileFormat)})
    w->setEnabled(!kmz && !Running());
  SpbKmzTiles->setEnabled(kmz && !Running());
  SpbQuality->setEnabled((kmz || CmbTileFormat->currentIndex() == 0) && !Running());
}

void TFormMapApps::BrowseClick() {
  const TMapAppFormat format = kFormats[std::max(0, CmbFormat->currentIndex())];
  const QString extension = QString::fromLatin1(MapAppExtension(format));
  // Replacing is asked on Start, once, whichever way the name came.
  const QString chosen =
      QFileDialog::getSaveFileName(this, QStringLiteral("Choose file"), EdtFile->text(),
                                   CmbFormat->currentText() + QStringLiteral(" (*") + extension + QLatin1Char(')'),
                                   nullptr, QFileDialog::DontConfirmOverwrite);
  if (!chosen.isEmpty())
    EdtFile->setText(chosen.endsWith(extension, Qt::CaseInsensitive) ? chosen : chosen + extension);
}

void TFormMapApps::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    ShowState(TState::Ready);
    const auto areas = MapAppAreas(*view_.Layouts, view_.ActiveLayout(), RbtAllLayouts->isChecked());
    const QSignalBlocker blocker(ChbCrop);
    ChbCrop->setChecked(AnyMapBorder(areas));
    MapsChanged();
  }
  QDialog::showEvent(event);
}

bool TFormMapApps::ConfirmTarget(bool& replace) {
  replace = false;
  if (EdtFile->text().isEmpty()) {
    Prompter().Message(this, TMsgType::Error, QString::fromUtf8(msg::MapAppEnterFile));
    return false;
  }
  if (!QFileInfo::exists(EdtFile->text())) return true;
  replace = Prompter().Ask(this, TMsgType::Confirmation,
                           QString::fromStdString(msg::MapAppReplaceQuestion(EdtFile->text().toStdString())));
  return replace;
}

void TFormMapApps::StartClick() {
  bool replace = false;
  if (Running() || !ConfirmTarget(replace)) return;
  Run([this, replace] { RunExport(replace); });
}

void TFormMapApps::RunExport(bool replace) {
  TMapAppOptions o;
  o.Format = kFormats[std::max(0, CmbFormat->currentIndex())];
  o.Target = LocalName(EdtFile->text());
  o.Replace = replace;
  o.MinZoom = SpbMinZoom->value();
  o.MaxZoom = SpbMaxZoom->value();
  o.Encoding.Format = CmbTileFormat->currentIndex() == 1 ? TTileFormat::Png : TTileFormat::Jpeg;
  o.Encoding.Quality = SpbQuality->value();
  o.Crop = ChbCrop->isChecked();
  o.KmzTiles = SpbKmzTiles->value();
  const TExportProgress progress = Progress();
  const auto areas = MapAppAreas(*view_.Layouts, view_.ActiveLayout(), RbtAllLayouts->isChecked());
  const std::string note = ExportToMapApps(areas, o, progress);
  if (!note.empty()) Prompter().Message(this, TMsgType::Information, QString::fromStdString(note));
}

void TFormMapApps::reject() {
  // Esc during a run asks whether to stop; the dialog stays until it has.
  if (Running()) {
    AskStop();
    return;
  }
  QDialog::reject();
}

} // namespace zv
