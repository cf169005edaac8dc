#include "dfsystem/app.h"

#include <algorithm>
#include <atomic>

#include "dfsystem/processors.h"

namespace df {
namespace {
std::atomic<App*> gCurrent{nullptr};
thread_local int tRenderWorkers = 0;
}  // namespace

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

void SetThreadRenderWorkers(int workers) {
  tRenderWorkers = std::clamp(workers, 0, kMaxWorkers);
}

int ThreadRenderWorkers() {
  return tRenderWorkers;
}

}  // namespace df
