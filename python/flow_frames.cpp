#include "flow_frames.h"

#include "array_images.h"

namespace vorn::py {

FlowFrames::FlowFrames(Flow& flow, const std::string& node, int first, int last,
                       std::optional<std::pair<int, int>> size, bool linear, int workers)
    : copy_(flow.Copy(node, first, last)),
      size_(size),
      linear_(linear),
      workers_(workers),
      thread_(std::make_unique<RenderThread>()) {
  for (long long f = first; f <= last; ++f) frames_.push_back(int(f));
}

FlowFrames::~FlowFrames() = default;

size_t FlowFrames::Remaining() const {
  return Locked(nextMutex_, [&] { return finished_ ? 0 : frames_.size() - nextFrame_; });
}

pyb::object FlowFrames::Next() {
  // One frame at a time, whichever threads call (waiting without the GIL).
  std::unique_lock lock(nextMutex_, std::defer_lock);
  {
    pyb::gil_scoped_release release;
    lock.lock();
  }
  if (finished_ || nextFrame_ >= frames_.size()) {
    finished_ = true;
    throw pyb::stop_iteration();
  }
  const int want = frames_[nextFrame_];
  std::string error;
  bool prepareFailed = false, rendered = false;
  bool interrupted = false;
  {
    pyb::gil_scoped_release release;
    interrupted = RunWatched(
        *thread_,
        [&] {
          df::SetThreadRenderWorkers(workers_);
          if (!prepared_) {
            // A Read's files are checked for the frames it renders: every
            // step when it feeds a sequential node, else the frames asked for.
            const auto check = [&](size_t node) -> const std::vector<int>& {
              return copy_.plan.stepped[node] ? copy_.steps : frames_;
            };
            // The renderer keeps the sink for the frames to come.
            const auto warn = [this](const std::string& text) {
              std::lock_guard lock(warningsMutex_);
              warnings_.push_back(text);
            };
            if (!renderer_.Prepare(copy_.flow, size_, check, warn, &error)) {
              prepareFailed = true;
              return;
            }
            // Each frame is rendered once, in order: nothing to keep.
            renderer_.SetCacheBytes(0);
            TheHost().PrepareFrameMemory(renderer_.Width(), renderer_.Height());
            prepared_ = true;
          }
          while (nextStep_ < copy_.steps.size() && !cancelled_.load()) {
            const int frame = copy_.steps[nextStep_++];
            const bool asked = frame == want;
            if (!renderer_.Render(frame, asked ? copy_.plan.needed : copy_.plan.stepped, &error))
              return;
            if (asked) {
              rendered = true;
              return;
            }
          }
        },
        [&] {
          cancelled_.store(true);
          for (flow::Node& node : copy_.flow.nodes)
            if (node.op) node.op->abortFlag.store(1);
        });
  }
  if (interrupted) {
    finished_ = true;
    throw pyb::error_already_set();
  }
  std::vector<std::string> warnings;
  {
    std::lock_guard lock(warningsMutex_);
    warnings.swap(warnings_);
  }
  Warn(warnings);
  if (!rendered) {
    finished_ = true;
    if (prepareFailed) throw pyb::value_error(error);
    throw std::runtime_error(error.empty() ? "frame " + std::to_string(want) + " was not rendered"
                                           : error);
  }
  ++nextFrame_;
  const df::Image* image = renderer_.ImageOf(copy_.target);
  if (!image || image->width < 1 || image->height < 1) {
    finished_ = true;
    throw std::runtime_error("frame " + std::to_string(want) + ": node \"" +
                             copy_.flow.nodes[copy_.target].name + "\" gave no image");
  }
  return ArrayFromImage(*image, linear_);
}

}  // namespace vorn::py
