#include "app/SheetCornersDialog.h"

#include "base/Errors.h"
#include "base/Messages.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zv {

TSheetCornersDialog::TSheetCornersDialog(const Bitmap* picture, int offsetX, int offsetY, QWidget* parent)
    : QDialog(parent), picture_(picture), search_(new TFrameSearchJob(this)), offsetX_(offsetX), offsetY_(offsetY) {
  setObjectName(QStringLiteral("FormSheetCorners"));
  setWindowTitle(QStringLiteral("Calibrate by sheet corners"));
  auto* column = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  edtSheet_ = new QLineEdit(this);
  edtSheet_->setObjectName(QStringLiteral("edtSheet"));
  edtSheet_->setPlaceholderText(QStringLiteral("M-34-37-\u0411-\u0432, or south, north, west, east"));
  auto* label = new QLabel(QStringLiteral("&Sheet name or bounds:"), this);
  label->setBuddy(edtSheet_);
  form->addRow(label, edtSheet_);
  column->addLayout(form);
  lblSummary_ = new QLabel(this);
  lblSummary_->setObjectName(QStringLiteral("lblSheetSummary"));
  lblSummary_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  lblSummary_->setAccessibleDescription(QStringLiteral("Sheet corners and projection"));
  column->addWidget(lblSummary_);
  btnFind_ = new QPushButton(QStringLiteral("&Find corners"), this);
  btnFind_->setObjectName(QStringLiteral("btnFindCorners"));
  btnFind_->setEnabled(picture_ != nullptr);
  btnFind_->setAutoDefault(false);
  column->addWidget(btnFind_, 0, Qt::AlignLeft);
  lblFrame_ = new QLabel(picture_ ? QString() : QString::fromUtf8(msg::SheetFrameNeedsOnePicture), this);
  lblFrame_->setObjectName(QStringLiteral("lblFrame"));
  lblFrame_->setAccessibleDescription(QStringLiteral("Frame corners found"));
  column->addWidget(lblFrame_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  btnClick_ = buttons->addButton(QStringLiteral("&Click corners"), QDialogButtonBox::AcceptRole);
  btnClick_->setObjectName(QStringLiteral("btnClickCorners"));
  btnUseFound_ = buttons->addButton(QStringLiteral("&Use found corners"), QDialogButtonBox::AcceptRole);
  btnUseFound_->setObjectName(QStringLiteral("btnUseFoundCorners"));
  column->addWidget(buttons);
  connect(edtSheet_, &QLineEdit::textChanged, this, &TSheetCornersDialog::SheetChanged);
  connect(btnFind_, &QPushButton::clicked, this, &TSheetCornersDialog::FindCorners);
  connect(search_, &TFrameSearchJob::Finished, this, &TSheetCornersDialog::FrameFound);
  // Closed while looking: the search ends before the picture can go.
  connect(this, &QDialog::finished, search_, &TFrameSearchJob::Stop);
  connect(btnClick_, &QPushButton::clicked, this, [this] { useFound_ = false; });
  connect(btnUseFound_, &QPushButton::clicked, this, [this] { useFound_ = true; });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  SheetChanged();
}

void TSheetCornersDialog::SheetChanged() {
  const std::string text = edtSheet_->text().trimmed().toStdString();
  sheet_.reset();
  QString summary;
  if (!text.empty()) {
    try {
      sheet_ = LooksLikeBounds(text) ? SheetFromBounds(text) : SheetFromName(text);
    } catch (const Error& e) {
      summary = QString::fromStdString(e.what());
    }
  }
  if (sheet_) {
    const auto corners = sheet_->Corners();
    QStringList lines;
    for (int i = 0; i < 4; ++i)
      lines << QString::fromStdString(msg::SheetGeoCorner(i, corners[static_cast<std::size_t>(i)].Lat,
                                                          corners[static_cast<std::size_t>(i)].Lon));
    const TPlaneSetup& plane = sheet_->Plane;
    lines << QString::fromStdString(
        msg::SheetPlaneText(plane.Datum, plane.Projection, plane.CentralMeridian, plane.FalseEasting));
    summary = lines.join(QLatin1Char('\n'));
  }
  lblSummary_->setText(summary);
  btnClick_->setEnabled(sheet_.has_value());
  btnUseFound_->setEnabled(sheet_.has_value() && frame_.Found);
}

void TSheetCornersDialog::FindCorners() {
  if (!picture_ || search_->Running()) return;
  frame_ = TFrameSearch{};
  btnFind_->setEnabled(false);
  lblFrame_->setText(QString::fromUtf8(msg::SheetFrameSearching));
  SheetChanged();
  search_->Start(*picture_);
}

void TSheetCornersDialog::FrameFound(const TFrameSearch& found) {
  frame_ = found;
  btnFind_->setEnabled(true);
  if (!frame_.Found) {
    lblFrame_->setText(QString::fromStdString(frame_.Problem));
  } else {
    QStringList lines{QString::fromStdString(msg::SheetFrameFound(frame_.Confidence))};
    for (int i = 0; i < 4; ++i) {
      TPixelCorner& c = frame_.Corners[static_cast<std::size_t>(i)];
      c.X += offsetX_;
      c.Y += offsetY_;
      lines << QString::fromStdString(msg::SheetFramePixel(i, c.X, c.Y));
    }
    lblFrame_->setText(lines.join(QLatin1Char('\n')));
  }
  SheetChanged();
  emit FrameSearched();
}

} // namespace zv
