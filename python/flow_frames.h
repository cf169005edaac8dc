// Frames first..last of one node of a flow as arrays, rendered on a copy of
// the flow (see Flow::Copy) through the flow host's renderer, stepping
// sequential nodes as `vorn render --comp FLOW --frames first-last` does.
// The steps run on a thread of the run's own with the GIL released;
// Ctrl+C stops the frame being rendered.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "flow.h"
#include "flow/flow_render.h"
#include "render_watch.h"

namespace vorn::py {

class FlowFrames {
 public:
  // Raises ValueError for an unknown node or frames the shot cannot give.
  FlowFrames(Flow& flow, const std::string& node, int first, int last,
             std::optional<std::pair<int, int>> size, bool linear, int workers);
  ~FlowFrames();

  // The next frame's array; raises StopIteration after the last.
  pyb::object Next();
  size_t Remaining() const;

 private:
  FlowCopy copy_;
  std::vector<int> frames_;  // asked for, ascending
  std::optional<std::pair<int, int>> size_;
  bool linear_ = false;
  int workers_ = 0;
  bool prepared_ = false, finished_ = false;
  size_t nextStep_ = 0, nextFrame_ = 0;
  mutable std::mutex nextMutex_;  // held by Next
  std::atomic<bool> cancelled_{false};
  std::mutex warningsMutex_;
  std::vector<std::string> warnings_;     // met while rendering, raised after
  flow::FlowRenderer renderer_;           // after the copy it renders: goes first
  std::unique_ptr<RenderThread> thread_;  // last: ends before the rest goes
};

}  // namespace vorn::py
