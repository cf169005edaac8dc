// Ctrl-C and termination during a render: the first SIGINT or SIGTERM stores 1
// into the watched operator's abortFlag (the tool then delivers no image for
// the frame in progress) and is remembered for the exit status; a second one
// ends the process at once with the default action.
#pragma once

#include <atomic>

namespace vorn {

void InstallInterruptHandlers();
// The abort flag the handler sets; null to watch nothing.
void WatchAbortFlag(std::atomic<int>* flag);
// The signal received (SIGINT, SIGTERM), or 0.
int InterruptSignal();
// Exit status for an interrupted run: 128 + the signal number (130 for Ctrl-C).
inline int InterruptExitCode(int signal) {
  return 128 + signal;
}

}  // namespace vorn
