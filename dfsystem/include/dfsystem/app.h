// The application object: one per host process, reached by the tools for the
// default worker count.
#pragma once

namespace df {

class App {
 public:
  // Becomes the current application object; processorCount starts as the
  // machine's hardware threads (at least 1).
  App();
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  int processorCount;
};

// The current application object, or null when the host made none.
App* GetApp();

}  // namespace df
