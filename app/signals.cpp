#include "signals.h"

#include <signal.h>

namespace vorn {
namespace {

std::atomic<std::atomic<int>*> g_flag{nullptr};
std::atomic<int> g_signal{0};

static_assert(std::atomic<std::atomic<int>*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnInterrupt(int sig) {
  int expected = 0;
  if (!g_signal.compare_exchange_strong(expected, sig)) {
    // Second signal: give up waiting and die by the signal's default action.
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  if (std::atomic<int>* flag = g_flag.load()) flag->store(1);
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void WatchAbortFlag(std::atomic<int>* flag) {
  g_flag.store(flag);
  if (flag != nullptr && g_signal.load() != 0) flag->store(1);
}

int InterruptSignal() {
  return g_signal.load();
}

}  // namespace vorn
