#pragma once

#include <QObject>

class QSocketNotifier;

namespace zv {

// SIGINT and SIGTERM (Ctrl-C in the terminal, logout) for the desktop program,
// as the converter takes them: the first one sets a flag that a running
// export polls between tiles and before every archive entry, and wakes the
// event loop with Received; a second one ends the program at once.
class TStopSignals : public QObject {
  Q_OBJECT

public:
  // Installs the handlers; one object per program.
  explicit TStopSignals(QObject* parent = nullptr);
  ~TStopSignals() override;

  // True once the first signal came. Safe to call from any thread.
  static bool Signalled();
  // Takes the signals as at the start again, after the user kept the program
  // running (a close the first signal asked for was refused).
  static void Rearm();

signals:
  void Received();

private:
  void Drain();

  QSocketNotifier* notifier_ = nullptr;
};

} // namespace zv
