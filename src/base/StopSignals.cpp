#include "base/StopSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#include <signal.h>
#include <unistd.h>

namespace zv {
namespace {

// Lock-free atomics: safe in a signal handler and between the export's
// threads, which poll the flag.
std::atomic<int> signalled{0};
std::atomic<int> wakeDescriptor{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void SetStopAction(void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

void OnStopSignal(int) {
  signalled = 1;
  SetStopAction(SIG_DFL, 0);
  const int wake = wakeDescriptor;
  if (wake >= 0) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake, &byte, 1);
    errno = saved;
  }
}

} // namespace

void InstallStopSignals(int wakeFd) {
  signalled = 0;
  wakeDescriptor = wakeFd;
  SetStopAction(OnStopSignal, SA_RESTART);
}

void RestoreDefaultStopSignals() {
  SetStopAction(SIG_DFL, 0);
  wakeDescriptor = -1;
}

bool StopSignalled() { return signalled != 0; }

} // namespace zv
