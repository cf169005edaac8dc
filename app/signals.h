// Signals during a run. SIGINT, SIGTERM and SIGHUP end a run cleanly: while a
// render is in progress the first one stores 1 into the watched operator's
// abortFlag (the frame in progress is discarded, finished frames are still
// written) and is remembered for the exit status; when nothing is rendering
// (reading inputs, writing a composition) or at a second signal, the
// temporary files in flight are removed and the process ends by the signal at
// once. SIGPIPE is ignored, so a closed pipe on stderr or stdout is a failed
// write and not the end of a render; SIGXFSZ likewise, so a file-size limit
// is reported as a failed write.
#pragma once

#include <atomic>

namespace vorn {

void InstallInterruptHandlers();
// The abort flag the handler sets; null to watch nothing.
void WatchAbortFlag(std::atomic<int>* flag);
// The signal received (SIGINT, SIGTERM, SIGHUP), or 0.
int InterruptSignal();
// "SIGINT", "SIGTERM", "SIGHUP".
const char* SignalName(int signal);
// Exit status for an interrupted run: 128 + the signal number (130 for
// Ctrl-C, 143 for SIGTERM, 129 for SIGHUP).
inline int InterruptExitCode(int signal) {
  return 128 + signal;
}

// Temporary files and folders the handler removes before the process ends by
// a signal. Register returns a slot (or -1 when all are taken: the path is
// then not cleaned up by a signal, only by its owner); Release frees it once
// the path was renamed or removed. `folder` entries are removed with rmdir.
int RegisterTemporary(const char* path, bool folder);
void ReleaseTemporary(int slot);
// Removes every registered path now (async-signal-safe).
void RemoveRegisteredTemporaries();

}  // namespace vorn
