#pragma once

#include "export/ExportToAmbulo.h"

#include <QDialog>

#include <cstdint>
#include <functional>

class QProgressBar;
class QPushButton;

namespace zv {

// A dialog that runs one export at a time: Start, then the progress bar and
// a disabled Running button while the run lasts, then Done. Esc or the
// close box during a run asks whether to stop, and a close asked for then
// happens once the run has ended. The export dialogs build their options
// around the bar and the three buttons, which this class makes.
class TRunDialog : public QDialog {
  Q_OBJECT

public:
  explicit TRunDialog(QWidget* parent = nullptr);

  bool Running() const { return running_; }

  // Where the dialog stands: only Start, Running or Done shows at a time.
  enum class TState { Ready, Running, Finished };

public slots:
  void done(int result) override;

protected:
  void closeEvent(QCloseEvent* event) override;

  // Runs work with the bar from empty and the options locked. A stop or a
  // failure (said in a message box) leaves the dialog ready for another
  // try; success shows Done. Interrupting signals close it afterwards.
  void Run(const std::function<void()>& work);
  // The run's progress: the bar, the event loop, and the stop asked for.
  TExportProgress Progress();
  void ShowState(TState state);
  // Options are enabled except while a run reads them.
  virtual void EnableOptions(bool enabled) = 0;
  void AskStop();
  // The dialog closes when the run ends.
  void CloseWhenDone() { closeRequested_ = true; }

  QProgressBar* PrbMain = nullptr;
  QPushButton* BtnStart = nullptr;
  QPushButton* BtnRunning = nullptr;
  QPushButton* BtnClose = nullptr;

private:
  void SetProgressMaximum(std::int64_t maximum);
  void SetProgressPosition(std::int64_t position);

  bool running_ = false;
  bool closeRequested_ = false;
  bool stopRequested_ = false; // asked by the user
  std::int64_t progressDivisor_ = 1;
};

} // namespace zv
