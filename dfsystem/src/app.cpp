#include "dfsystem/app.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace df {
namespace {
std::atomic<App*> gCurrent{nullptr};
}

App::App() : processorCount(std::max(1, int(std::thread::hardware_concurrency()))) {
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
