// The application object: one per host process, reached by the tools for the
// default worker count.
#pragma once

namespace df {

class App {
 public:
  // Becomes the current application object; processorCount starts as the
  // processors this process may use (AvailableProcessors: affinity mask,
  // cgroup quota, SLURM_CPUS_PER_TASK), at least 1.
  App();
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  int processorCount;
};

// The current application object, or null when the host made none.
App* GetApp();

}  // namespace df
