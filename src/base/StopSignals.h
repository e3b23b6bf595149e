#pragma once

namespace zv {

// SIGINT and SIGTERM (Ctrl-C, logout) ask a long run to stop: the first one
// sets a flag that an export polls between tiles and, when a wake descriptor
// was given, writes a byte to it so an event loop notices; a second one takes
// the default action and ends the process at once. Interrupted system calls
// resume, so the stop takes effect between tiles.
void InstallStopSignals(int wakeFd = -1);
// Puts the default actions back; the flag stays as it is.
void RestoreDefaultStopSignals();
// True once the first signal came. Safe to call from any thread.
bool StopSignalled();

} // namespace zv
