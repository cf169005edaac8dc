// What the worker threads did during a render: the chunks done of the pass in
// progress (always counted, for progress displays) and, when a host asks for
// it, when each chunk ran and on which thread.
#pragma once

#include <cstdint>
#include <thread>
#include <vector>

namespace df {

// One chunk of a threaded pass. Times are nanoseconds on the steady clock
// (TraceNow); thread is the pool thread's index, 0 up to the pool's size,
// or −1 for the thread that started the pass (it runs chunks too).
struct ChunkTiming {
  int pass = 0;  // 0-based, counted since the trace was last taken
  long chunk = 0;
  int64_t start = 0, end = 0;
  int64_t cpu = 0;  // processor time the chunk's thread spent in it, ns (reading cost left out)
  int thread = 0;
};

// One threaded pass: from the call of DoMultiProcess until it returned.
struct PassTiming {
  int pass = 0;
  long chunks = 0;
  int64_t start = 0, end = 0;
  // The calling thread's processor time over the same span (waking the
  // workers, waiting for them, any chunks it ran itself), ns, and that
  // thread: a host timing its own thread's serial work leaves this out.
  // Like a chunk's, it leaves out one ThreadCpuReadCost.
  int64_t callerCpu = 0;
  std::thread::id caller;
};

struct ChunkTrace {
  std::vector<PassTiming> passes;
  std::vector<ChunkTiming> chunks;  // per pass in chunk order
};

// Turns the recording of chunk times on or off (off by default: a pass then
// costs two relaxed counter updates per chunk and nothing else).
void EnableChunkTrace(bool on);
bool ChunkTraceEnabled();
// What was recorded since the last call, which starts a new recording (pass
// numbers start again at 0). A host takes it after every frame.
ChunkTrace TakeChunkTrace();
// Nanoseconds on the clock the trace uses.
int64_t TraceNow();
// Processor time of the calling thread, ns: unlike the clock, it does not run
// while the thread waits for a processor on a loaded machine.
int64_t ThreadCpuNow();
// What one ThreadCpuNow costs the thread, ns: the least of a few readings
// taken back to back (measured once). A span between two readings holds
// one reading's cost besides its work (the end of the first and the start
// of the second), which the recorded times leave out: on a virtual machine
// a reading is a system call of a microsecond or two, as long as a small
// chunk.
int64_t ThreadCpuReadCost();

// The pass in progress: passes started since ResetChunkProgress, and the
// chunks done and asked for in the latest one.
struct ChunkProgress {
  int passes = 0;
  long done = 0;
  long total = 0;
};
ChunkProgress CurrentChunkProgress();
void ResetChunkProgress();

// Kept by DoMultiProcess around one pass: counts it and, when recording,
// times its chunks.
class PassRecorder {
 public:
  // `counted`: the pass shows in the progress counters (the runtime's own
  // work, clearing a new image, does not).
  explicit PassRecorder(long chunks, bool counted = true);
  ~PassRecorder();
  PassRecorder(const PassRecorder&) = delete;
  PassRecorder& operator=(const PassRecorder&) = delete;

  struct Stamp {
    int64_t wall = 0, cpu = 0;
  };
  // The start to hand to ChunkDone (zero when not recording).
  Stamp ChunkStart() const { return tracing_ ? Stamp{TraceNow(), ThreadCpuNow()} : Stamp{}; }
  // Called on the pool thread that ran chunk k.
  void ChunkDone(long k, Stamp start);

 private:
  bool tracing_;
  bool counted_;
  int64_t callerStart_ = 0;
  PassTiming pass_;
  std::vector<ChunkTiming> chunks_;
};

}  // namespace df
