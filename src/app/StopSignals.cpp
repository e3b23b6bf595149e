#include "app/StopSignals.h"

#include "base/StopSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace zv {
namespace {

// The self-pipe: the handler writes a byte, the event loop reads it.
int wakeRead = -1;
int wakeWrite = -1;

} // namespace

TStopSignals::TStopSignals(QObject* parent) : QObject(parent) {
  int fds[2];
  if (::pipe(fds) != 0) return; // without the pipe the signals keep their default action
  wakeRead = fds[0];
  wakeWrite = fds[1];
  for (int fd : fds) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  notifier_ = new QSocketNotifier(wakeRead, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TStopSignals::Drain);
  InstallStopSignals(wakeWrite);
}

TStopSignals::~TStopSignals() {
  if (wakeRead < 0) return;
  RestoreDefaultStopSignals();
  notifier_->setEnabled(false); // the pipe closes before Qt deletes it
  ::close(wakeRead);
  ::close(wakeWrite);
  wakeRead = wakeWrite = -1;
}

bool TStopSignals::Signalled() { return StopSignalled(); }

void TStopSignals::Rearm() {
  if (wakeWrite >= 0) InstallStopSignals(wakeWrite);
}

void TStopSignals::Drain() {
  char buffer[16];
  while (::read(wakeRead, buffer, sizeof buffer) > 0) {
  }
  emit Received();
}

} // namespace zv
