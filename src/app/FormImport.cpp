#include "app/FormImport.h"

#include "app/Prompter.h"
#include "base/Messages.h"
#include "model/DisplayMapsCore.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>

#include <exception>

namespace zv {

TFormImport::TFormImport(TDisplayMapsCore& view, QWidget* parent) : QDialog(parent), view_(view) {
  setObjectName(QStringLiteral("FormImport"));
  setWindowTitle(QStringLiteral("Opening files..."));
  setFixedSize(313, 89);
  setModal(true);

  auto* caption = new QLabel(QStringLiteral("Current file"), this);
  QFont bold = caption->font();
  bold.setBold(true);
  caption->setFont(bold);
  caption->move(8, 8);
  caption->adjustSize();

  lblCurrentFileName_ = new QLabel(QStringLiteral("..."), this);
  lblCurrentFileName_->setObjectName(QStringLiteral("LblCurrentFileName"));
  lblCurrentFileName_->setGeometry(16, 26, 287, 39);
  lblCurrentFileName_->setWordWrap(true);
  lblCurrentFileName_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  caption->setBuddy(lblCurrentFileName_);
}

void TFormImport::Run(const QStringList& fileNames) {
  fileNames_ = fileNames;
  exec();
}

void TFormImport::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  pending_ = true;
}

void TFormImport::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  if (!pending_) return;
  pending_ = false;
  // Loading runs just after this paint, outside it, so the dialog is on screen
  // before the first file is read and its own repaints can run meanwhile.
  QTimer::singleShot(0, this, &TFormImport::LoadFiles);
}

// There is no way to cancel the loading: a close asked for meanwhile (the
// close box, Esc) waits for the last file.
void TFormImport::closeEvent(QCloseEvent* event) {
  if (loading_) event->ignore();
  else QDialog::closeEvent(event);
}

void TFormImport::reject() {
  if (!loading_) QDialog::reject();
}

void TFormImport::LoadFiles() {
  loading_ = true;
  for (const QString& fileName : fileNames_) {
    QCoreApplication::processEvents();
    lblCurrentFileName_->setText(fileName);
    QCoreApplication::processEvents();
    const QString title =
        QString::fromUtf8(msg::LoadingErrorTitle(QFile::encodeName(QFileInfo(fileName).fileName()).toStdString()));
    try {
      view_.OpenNamedFile(QFile::encodeName(fileName).toStdString());
    } catch (const std::exception& e) {
      Prompter().Message(this, TMsgType::Error, title, QString::fromUtf8(e.what()));
    } catch (...) {
      Prompter().Message(this, TMsgType::Error, title);
    }
    QCoreApplication::processEvents();
  }
  loading_ = false;
  accept();
}

} // namespace zv
