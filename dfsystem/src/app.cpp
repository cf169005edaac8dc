#include "dfsystem/app.h"

#include <algorithm>
#include <atomic>

#include "dfsystem/processors.h"

namespace df {
namespace {
std::atomic<App*> gCurrent{nullptr};
}

App::App() : processorCount(AvailableProcessors()), threadCount(processorCount) {
  gCurrent.store(this);
}

void App::SetChunksPerThread(int chunks) {
  const long long n = (long long)std::max(1, threadCount) * std::max(1, chunks);
  processorCount = int(std::min<long long>(n, kMaxWorkers));
}

App::~App() {
  App* self = this;
  gCurrent.compare_exchange_strong(self, nullptr);
}

App* GetApp() {
  return gCurrent.load();
}

}  // namespace df
