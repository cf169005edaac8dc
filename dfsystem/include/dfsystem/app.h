// The application object: one per host process, reached by the tools for the
// default worker count and by the runtime for the size of its thread pool.
#pragma once

namespace df {

// Upper bound on the chunks a pass is cut into (the tools' worker count):
// far beyond any machine, small enough that a typo in the environment or on
// a command line cannot ask for millions of chunks.
inline constexpr int kMaxWorkers = 4096;

class App {
 public:
  // Becomes the current application object; threadCount and processorCount
  // start as the processors this process may use (AvailableProcessors:
  // affinity mask, cgroup quota, SLURM_CPUS_PER_TASK), at least 1.
  App();
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Asks the tools for `chunks` chunks per pool thread: processorCount (the
  // chunk count a tool reads when "NUM_PROC_VORN" is not set) becomes
  // threadCount × chunks, at most kMaxWorkers.
  void SetChunksPerThread(int chunks);

  // The chunk count the tools read by default.
  int processorCount;
  // The pool threads that run a pass's chunks, claiming them as they come
  // free; at least 1.
  int threadCount;
  // The threads the chunk count was chosen for, 0 for threadCount: a host
  // may choose it for another machine, to model that machine's passes. A
  // tool that cuts its chunks to equal work makes them a whole number per
  // thread of these.
  int chunkThreads = 0;
};

// The current application object, or null when the host made none.
App* GetApp();

// A worker count for the renders the calling thread runs, 0 for none: a
// host rendering several operators at once, each with a count of its own,
// sets it around Process. The tools then cut each pass into that many chunks
// (in place of "NUM_PROC_VORN" and processorCount), and a pass runs on at
// most that many pool threads.
void SetThreadRenderWorkers(int workers);
int ThreadRenderWorkers();

}  // namespace df
