#include "app/StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace zv {
namespace {

volatile std::sig_atomic_t signalled = 0;
// The self-pipe: the handler writes a byte, the event loop reads it.
int wakeRead = -1;
int wakeWrite = -1;

void OnStopSignal(int) {
  signalled = 1;
  // A second signal takes the default action and ends the process at once.
  struct sigaction dflt {};
  dflt.sa_handler = SIG_DFL;
  sigemptyset(&dflt.sa_mask);
  ::sigaction(SIGINT, &dflt, nullptr);
  ::sigaction(SIGTERM, &dflt, nullptr);
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeWrite, &byte, 1);
  errno = saved;
}

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
  signalled = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume: the stop takes effect between tiles.
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

TStopSignals::~TStopSignals() {
  if (wakeRead < 0) return;
  struct sigaction dflt {};
  dflt.sa_handler = SIG_DFL;
  sigemptyset(&dflt.sa_mask);
  ::sigaction(SIGINT, &dflt, nullptr);
  ::sigaction(SIGTERM, &dflt, nullptr);
  notifier_->setEnabled(false); // the pipe closes before Qt deletes it
  ::close(wakeRead);
  ::close(wakeWrite);
  wakeRead = wakeWrite = -1;
}

bool TStopSignals::Signalled() { return signalled != 0; }

void TStopSignals::Drain() {
  char buffer[16];
  while (::read(wakeRead, buffer, sizeof buffer) > 0) {
  }
  emit Received();
}

} // namespace zv
