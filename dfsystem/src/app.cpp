#include "dfsystem/app.h"

#include <atomic>

#include "dfsystem/processors.h"

namespace df {
namespace {
std::atomic<App*> gCurrent{nullptr};
}

App::App() : processorCount(AvailableProcessors()) {
  gCurrent.store(this);
}

App::~App() {
  App* self = this;
  gCurrent.compare_exchange_strong(self, nullptr);
}

App* GetApp() {
  return gCurrent.load();
}

}  // namespace df
