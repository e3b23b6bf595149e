#include "app/RunDialog.h"

#include "app/Prompter.h"
#include "app/StopSignals.h"
#include "base/Messages.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <climits>
#include <exception>

namespace zv {

namespace {

template <class W> W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

} // namespace

TRunDialog::TRunDialog(QWidget* parent) : QDialog(parent) {
  PrbMain = Named(new QProgressBar, "PrbMain");
  PrbMain->setRange(0, 100);
  PrbMain->setValue(0);
  PrbMain->setTextVisible(false);
  PrbMain->setAccessibleName(QStringLiteral("Export progress"));
  QSizePolicy keepPlace = PrbMain->sizePolicy();
  keepPlace.setRetainSizeWhenHidden(true);
  PrbMain->setSizePolicy(keepPlace);
  BtnStart = Named(new QPushButton(QStringLiteral("&Start")), "BtnStart");
  BtnStart->setDefault(true);
  BtnRunning = Named(new QPushButton(QStringLiteral("Running")), "BtnRunning");
  BtnRunning->setEnabled(false);
  BtnRunning->setAutoDefault(false);
  BtnClose = Named(new QPushButton(QStringLiteral("Done")), "BtnClose");
  BtnClose->setDefault(true);
}

void TRunDialog::ShowState(TState state) {
  BtnStart->setVisible(state == TState::Ready);
  BtnRunning->setVisible(state == TState::Running);
  BtnClose->setVisible(state == TState::Finished);
  PrbMain->setVisible(state != TState::Ready);
  EnableOptions(state != TState::Running);
  // Both are default buttons; a dialog marks one at a time, the visible one.
  if (state == TState::Ready) BtnStart->setDefault(true);
  if (state == TState::Finished) BtnClose->setDefault(true);
}

void TRunDialog::Run(const std::function<void()>& work) {
  running_ = true;
  closeRequested_ = false;
  stopRequested_ = false;
  // The bar starts empty, not where the last run left it.
  PrbMain->setRange(0, 100);
  PrbMain->setValue(0);
  ShowState(TState::Running);

  QString failure;
  bool stopped = false;
  try {
    work();
  } catch (const EExportStopped&) {
    stopped = true;
  } catch (const std::exception& e) {
    failure = QString::fromUtf8(e.what());
    if (failure.isEmpty()) failure = QStringLiteral("Export failed.");
  }
  running_ = false;
  // After an error or a stop the dialog is ready for another try; what the
  // run wrote stays.
  ShowState(stopped || !failure.isEmpty() ? TState::Ready : TState::Finished);
  // A signal ends the program: no box waits for an answer then.
  const bool signalled = TStopSignals::Signalled();
  if (stopped && !signalled)
    Prompter().Message(this, TMsgType::Information, QString::fromUtf8(msg::ExportStopped));
  else if (!failure.isEmpty())
    Prompter().Message(this, TMsgType::Error, failure);
  if (closeRequested_ || signalled) done(QDialog::Rejected);
}

TExportProgress TRunDialog::Progress() {
  TExportProgress progress;
  progress.SetPosition = [this](std::int64_t v) { SetProgressPosition(v); };
  progress.SetMaximum = [this](std::int64_t v) { SetProgressMaximum(v); };
  progress.ProcessMessages = [] { QCoreApplication::processEvents(); };
  // The signal's flag is read directly: archive entries are written without
  // running the event loop in between.
  progress.StopRequested = [this] { return stopRequested_ || TStopSignals::Signalled(); };
  return progress;
}

void TRunDialog::SetProgressMaximum(std::int64_t maximum) {
  // The bar counts in int; larger maps count in steps of progressDivisor_.
  progressDivisor_ = std::max<std::int64_t>(1, maximum / INT_MAX + 1);
  PrbMain->setRange(0, static_cast<int>(std::max<std::int64_t>(1, maximum / progressDivisor_)));
}

void TRunDialog::SetProgressPosition(std::int64_t position) {
  // Positions past the end (the last tile of a row counts its full width)
  // stop at the end, as the bar's own range would.
  const std::int64_t value = std::clamp<std::int64_t>(position / progressDivisor_, 0, PrbMain->maximum());
  PrbMain->setValue(static_cast<int>(value));
}

void TRunDialog::AskStop() {
  if (stopRequested_) return; // already on its way out
  if (Prompter().Ask(this, TMsgType::Confirmation, QStringLiteral("Stop the export?"))) stopRequested_ = true;
}

void TRunDialog::done(int result) {
  if (running_) {
    closeRequested_ = true;
    return;
  }
  QDialog::done(result);
}

void TRunDialog::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The window's close box during a run asks as Esc does; after a yes the
    // dialog closes once the run has stopped.
    event->ignore();
    AskStop();
    if (stopRequested_) closeRequested_ = true;
    return;
  }
  QDialog::closeEvent(event);
}

} // namespace zv
