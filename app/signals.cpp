#include "signals.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace vorn {
namespace {

std::atomic<std::atomic<int>*> g_flag{nullptr};
std::atomic<int> g_signal{0};

static_assert(std::atomic<std::atomic<int>*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// A slot is free (0), being filled (1), or holds a path to remove (2 for a
// file, 3 for a folder). Fixed storage: the handler may not allocate.
constexpr int kSlots = 128;
struct Slot {
  std::atomic<int> state{0};
  char path[PATH_MAX];
};
Slot g_slots[kSlots];

constexpr int kCaught[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnInterrupt(int sig) {
  int expected = 0;
  if (g_signal.compare_exchange_strong(expected, sig)) {
    // A render winds down by itself and reports what was written.
    if (std::atomic<int>* flag = g_flag.load()) {
      flag->store(1);
      return;
    }
  }
  // Nothing to wind down, or asked twice: leave no temporary file behind and
  // end by the signal's default action.
  RemoveRegisteredTemporaries();
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int sig : kCaught) sigaddset(&action.sa_mask, sig);
  action.sa_flags = SA_RESTART;
  for (int sig : kCaught) sigaction(sig, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

void WatchAbortFlag(std::atomic<int>* flag) {
  g_flag.store(flag);
  if (flag != nullptr && g_signal.load() != 0) flag->store(1);
}

int InterruptSignal() {
  return g_signal.load();
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

int RegisterTemporary(const char* path, bool folder) {
  const size_t length = std::strlen(path);
  if (length >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(g_slots[i].path, path, length + 1);
    g_slots[i].state.store(folder ? 3 : 2);
    return i;
  }
  return -1;
}

void ReleaseTemporary(int slot) {
  if (slot >= 0 && slot < kSlots) g_slots[slot].state.store(0);
}

void RemoveRegisteredTemporaries() {
  // Files first, then the folders that held them.
  for (int pass = 2; pass <= 3; ++pass)
    for (Slot& s : g_slots) {
      if (s.state.load() != pass) continue;
      if (pass == 2)
        unlink(s.path);
      else
        rmdir(s.path);
    }
}

}  // namespace vorn
