// The render thread of a session. It renders the frame the viewer asks for
// with the newest values; a change or a new time cancels the render in
// progress through the operator's abortFlag. A tool whose frames depend on
// the frames before is simulated from the shot's first frame, on this one
// thread, as `vorn render` does, and then stepped forward frame by frame
// while the viewer plays (button presses acting at their
// frames). Copies of its simulation taken every few frames
// let a change, or a step back, simulate again only from the latest copy
// before the first frame the change reaches.
#include <algorithm>
#include <chrono>
#include <utility>

#include "serve/session.h"

namespace vorn::serve {

namespace {

// The runtime's BGRA rows as the RGBA bytes a canvas takes.
std::shared_ptr<std::vector<uint8_t>> ToRgba(const df::Image& image) {
  auto out = std::make_shared<std::vector<uint8_t>>(image.ByteCount());
  uint8_t* d = out->data();
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* s = image.rows[y];
    for (int x = 0; x < image.width; ++x, s += 4, d += 4) {
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
      d[3] = s[3];
    }
  }
  return out;
}

}  // namespace

void Session::Interrupt() {
  std::lock_guard lock(runMutex_);
  if (running_) running_->abortFlag = 1;
}

std::shared_ptr<const Frame> Session::WaitFrame(int time, uint64_t minVersion,
                                                std::chrono::milliseconds timeout) {
  std::unique_lock lock(frameMutex_);
  if (wantTime_ != time) {
    // A render for another time is of no use to the viewer any more; a
    // stepped tool going forward passes through the new time anyway.
    if (wantTime_ && (!stepped_ || time < *wantTime_)) Interrupt();
    wantTime_ = time;
    wake_.notify_all();
  }
  const auto ready = [&] {
    return stop_ || (frame_ && frame_->time == time && frame_->version >= minVersion);
  };
  if (!delivered_.wait_for(lock, timeout, ready) || stop_) return nullptr;
  return frame_;
}

bool Session::RunProcess(df::Operator* op, int time, ImageRef* image, double* ms,
                         std::string* error) {
  RenderedFrame r = driver_.Render(*op, time, PrintWarning, [&] {
    std::lock_guard lock(runMutex_);
    if (writers_.load() > 0) return false;  // a change is waiting: let it in first
    op->abortFlag = 0;
    running_ = op;
    return true;
  });
  if (r.status == RenderedFrame::Status::InputFailed) {
    *error = "\"" + r.input + "\" frame " + std::to_string(time) + ": " + r.error;
    return true;
  }
  if (r.status == RenderedFrame::Status::NotStarted) return false;
  bool aborted;
  {
    std::lock_guard lock(runMutex_);
    running_ = nullptr;
    aborted = op->abortFlag.load() != 0;
  }
  *ms = std::chrono::duration<double, std::milli>(r.took).count();
  if (aborted) return false;
  if (r.status == RenderedFrame::Status::NoImage)
    *error = "\"" + registry_->Name() + "\" delivered no image for frame " + std::to_string(time);
  else
    *image = std::move(r.image);
  return true;
}

std::shared_ptr<Frame> Session::MakeFrame(int time, uint64_t version, const df::Image* image,
                                          double ms, const std::string& error) {
  auto frame = std::make_shared<Frame>();
  frame->time = time;
  frame->version = version;
  frame->renderMs = ms;
  frame->error = error;
  if (image && error.empty()) {
    frame->width = image->width;
    frame->height = image->height;
    frame->rgba = ToRgba(*image);
  }
  return frame;
}

std::shared_ptr<Frame> Session::RenderDirect(int time) {
  ImageRef image;
  double ms = 0.0;
  std::string error;
  uint64_t version;
  {
    std::lock_guard lock(mutex_);
    if (writers_.load() > 0) return nullptr;
    version = version_.load();
    if (!RunProcess(op_.get(), time, &image, &ms, &error)) return nullptr;
  }
  // Converted for the viewer without holding back the next change.
  return MakeFrame(time, version, image.get(), ms, error);
}

bool Session::TakeNewValues(uint64_t version) {
  std::lock_guard lock(mutex_);
  if (version_.load() != version || writers_.load() > 0) return false;
  if (simOp_) {
    // What was simulated before the first frame the new values change stays;
    // nothing was simulated past simReach_.
    const int last = std::max(simReach_, simFrame_);
    const int from = FirstDifferentFrame(*simOp_, *op_, settings_.firstFrame, last);
    checkpoints_.DropFrom(from);
    if (simFrame_ >= from) simValid_ = false;
    if (simReach_ >= from) simReach_ = from - 1;
    CopyControlValues(*op_, *simOp_);
  } else {
    checkpoints_.Clear();
  }
  simVersion_ = version;
  return true;
}

bool Session::PositionSimulation(int time, std::string* error) {
  auto [copyFrame, copy] = checkpoints_.Before(time);
  if (simOp_ && simValid_ && simFrame_ < time && simFrame_ >= copyFrame) return true;
  if (simOp_ && copy && simOp_->RestoreSimulation(*copy)) {
    simFrame_ = copyFrame;
    simValid_ = true;
    return true;
  }
  // From the shot's start, on a fresh operator with the values. The
  // simulation held stays until the fresh one has them.
  auto doc = std::make_unique<df::CPipelineDoc>();
  df::OperatorPtr fresh = doc->CreateOperator(registry_, error);
  if (!fresh) return false;
  {
    std::lock_guard lock(mutex_);
    if (version_.load() != simVersion_ || writers_.load() > 0) return false;
    CopyControlValues(*op_, *fresh);
  }
  simOp_.reset();
  simDoc_ = std::move(doc);
  simOp_ = std::move(fresh);
  simFrame_ = settings_.firstFrame - 1;
  simValid_ = true;
  return true;
}

std::shared_ptr<Frame> Session::RenderStepped(int time) {
  const uint64_t version = version_.load();
  if (version != simVersion_ && !TakeNewValues(version)) return nullptr;
  std::string error;
  if (!PositionSimulation(time, &error)) {
    if (error.empty()) return nullptr;  // a change came in
    return MakeFrame(time, version, nullptr, 0.0, error);
  }
  simFrom_ = simFrame_;
  simTarget_ = time;
  simAt_ = simFrame_;
  simBusy_ = true;
  struct Idle {
    std::atomic<bool>& busy;
    ~Idle() { busy = false; }
  } idle{simBusy_};
  ImageRef image;
  double ms = 0.0;
  while (simFrame_ < time) {
    if (version_.load() != simVersion_) return nullptr;
    {
      std::lock_guard lock(frameMutex_);
      if (stop_ || wantTime_ != time) return nullptr;
    }
    const int step = simFrame_ + 1;
    image.reset();
    if (!RunProcess(simOp_.get(), step, &image, &ms, &error)) {
      simValid_ = false;  // cut off in the middle of a step: its state is of no use
      return nullptr;
    }
    simFrame_ = step;
    simAt_ = step;
    simReach_ = std::max(simReach_, step);
    if (!error.empty()) {
      simValid_ = false;
      return MakeFrame(step, simVersion_, nullptr, ms, error);
    }
    if (checkpoints_.Due(step)) {
      checkpoints_.Keep(step, simOp_->SaveSimulation());
      checkpointCount_ = checkpoints_.Count();
      checkpointBytes_ = checkpoints_.Bytes();
    }
  }
  if (!image) return nullptr;
  return MakeFrame(time, simVersion_, image.get(), ms, "");
}

Session::FlowRender::~FlowRender() {
  renderer.reset();
  flow.nodes.clear();  // the operators before their document
}

namespace {

// A copy of a flow's simulation: one per sequential node, in node order.
struct FlowCopy : df::SimulationState {
  std::vector<std::shared_ptr<const df::SimulationState>> states;
  std::size_t Bytes() const override {
    std::size_t n = 0;
    for (const auto& s : states) n += s->Bytes();
    return n;
  }
};

// Whether a Read, Merge or Write node has the settings of another.
bool SameSettings(const flow::Node& a, const flow::Node& b) {
  const flow::ReadSettings &r = a.read, &q = b.read;
  const flow::WriteSettings &w = a.write, &v = b.write;
  return r.file == q.file && r.frameOffset == q.frameOffset && r.colourSpace == q.colourSpace &&
         r.layer == q.layer && r.missing == q.missing && a.merge.operation == b.merge.operation &&
         a.merge.mix == b.merge.mix && w.file == v.file && w.compression == v.compression &&
         w.bitDepth == v.bitDepth && w.colourSpace == v.colourSpace;
}

// Whether every tool node of `a` holds the values of its copy in `b`.
bool SameValues(const flow::Flow& a, const flow::Flow& b) {
  for (size_t i = 0; i < a.nodes.size(); ++i) {
    if (!a.nodes[i].op) continue;
    const auto& x = a.nodes[i].op->Inputs();
    const auto& y = b.nodes[i].op->Inputs();
    for (size_t k = 0; k < x.size(); ++k)
      if (!x[k]->IsImage() && !(x[k]->State() == y[k]->State())) return false;
  }
  return true;
}

// Whether a tool node's values in `a` differ from its copy's in `b` at a
// frame from `first` to `last`.
bool DifferBy(const flow::Flow& a, const flow::Flow& b, int first, int last) {
  for (size_t i = 0; i < a.nodes.size(); ++i)
    if (a.nodes[i].op && FirstDifferentFrame(*a.nodes[i].op, *b.nodes[i].op, first, last) <= last)
      return true;
  return false;
}

}  // namespace

std::shared_ptr<Frame> Session::RenderFlow(int time) {
  uint64_t version;
  int start;
  {
    std::lock_guard lock(mutex_);
    if (writers_.load() > 0) return nullptr;
    version = version_.load();
    start = flow_.shot.simulationStart;
    const flow::Node* viewed = ViewedLocked();
    if (!viewed) return MakeFrame(time, version, nullptr, 0.0, "the flow has no nodes: add one");
    FlowRender* r = flowRender_.get();
    const bool sameGraph = r && r->graph == graphVersion_;
    const bool sameValues = sameGraph && SameValues(flow_, r->flow);
    // Nothing the render reads changed (a node selected): the frame held.
    if (sameValues && r->renderer && r->frame == time && r->whole) {
      const df::Image* image = r->renderer->ImageOf(r->node);
      if (image) return MakeFrame(time, version, image, 0.0, "");
    }
    // A sequential node simulates from the shot's start: values that differ
    // at a frame simulated already, or a frame not after the last, start it
    // again; values that differ only later go on from the last frame.
    // The copies of the simulation stay valid before the first frame at which
    // a node it reads (a sequential node or one feeding it) has other
    // values; another graph drops them.
    const auto dropChanged = [&] {
      int from = flow_.shot.last + 1;
      for (size_t i = 0; i < flow_.nodes.size(); ++i)
        if (r->stepWanted[i] && flow_.nodes[i].op)
          from = std::min(from, FirstDifferentFrame(*r->flow.nodes[i].op, *flow_.nodes[i].op, start,
                                                    std::max(r->frame, flow_.shot.last)));
      checkpoints_.DropFrom(from);
    };
    // A settings change of a node the simulation does not read leaves them.
    bool keepCopies = r && r->stepped && r->structure == structureVersion_;
    for (size_t i = 0; keepCopies && i < flow_.nodes.size(); ++i)
      keepCopies = !r->stepWanted[i] || SameSettings(flow_.nodes[i], r->flow.nodes[i]);
    if (!keepCopies)
      checkpoints_ = SimulationCheckpoints(start);
    else if (!SameValues(flow_, r->flow))
      dropChanged();
    if (!sameGraph ||
        (r->stepped &&
         (time <= r->frame || (!sameValues && DifferBy(flow_, r->flow, start, r->frame))))) {
      flowRender_.reset();
      auto fresh = std::make_unique<FlowRender>();
      fresh->doc = std::make_unique<df::CPipelineDoc>();
      for (const flow::Node& n : flow_.nodes) {
        flow::Node copy;
        copy.name = n.name;
        copy.kind = n.kind;
        copy.read = n.read;
        copy.merge = n.merge;
        copy.write = n.write;
        if (n.op) {
          std::string error;
          copy.op = fresh->doc->CreateOperator(n.op->GetRegistry(), &error);
          if (!copy.op) return MakeFrame(time, version, nullptr, 0.0, n.name + ": " + error);
          CopyControlValues(*n.op, *copy.op);
        }
        fresh->flow.nodes.push_back(std::move(copy));
      }
      fresh->flow.connections = flow_.connections;
      fresh->flow.shot = flow_.shot;
      fresh->flow.size = flow_.size;
      fresh->graph = graphVersion_;
      fresh->structure = structureVersion_;
      fresh->node = size_t(flow_.IndexOf(viewed->name));
      fresh->wanted = flow_.Upstream({fresh->node});
      std::vector<size_t> sequential;
      for (size_t i = 0; i < flow_.nodes.size(); ++i)
        if (fresh->wanted[i] && flow_.nodes[i].Sequential()) sequential.push_back(i);
      fresh->stepped = !sequential.empty();
      fresh->sequential = sequential;
      fresh->stepWanted = flow_.Upstream(sequential);
      flowRender_ = std::move(fresh);
    } else if (!sameValues) {
      for (size_t i = 0; i < flow_.nodes.size(); ++i)
        if (flow_.nodes[i].op) CopyControlValues(*flow_.nodes[i].op, *r->flow.nodes[i].op);
    }
    flowRender_->version = version;
  }
  FlowRender& r = *flowRender_;
  std::string error;
  // The nodes' render counts before this frame, to report what it rendered.
  std::vector<long> countsBefore;
  const auto withRenders = [&](std::shared_ptr<Frame> frame) {
    for (size_t i = 0; r.renderer && i < r.flow.nodes.size(); ++i) {
      const long before = i < countsBefore.size() ? countsBefore[i] : 0;
      if (r.renderer->RenderCount(i) > before)
        frame->nodeRenders.emplace_back(r.flow.nodes[i].name, r.renderer->RenderCount(i) - before);
    }
    return frame;
  };
  if (!r.renderer) {
    // The Read nodes check the files of the frames this render reads.
    std::vector<int> frames;
    for (int f = r.stepped ? std::min(start, time) : time; f <= time; ++f) frames.push_back(f);
    r.renderer = std::make_unique<flow::FlowRenderer>();
    r.renderer->ShareCache(flowCache_);
    if (!r.renderer->Prepare(
            r.flow, std::nullopt, [&frames](size_t) -> const std::vector<int>& { return frames; },
            PrintWarning, &error)) {
      flowRender_.reset();
      return MakeFrame(time, version, nullptr, 0.0, error);
    }
    r.frame = (r.stepped ? std::min(start, time) : time) - 1;
    // Fresh operators: their steps from the first frame are in order.
    r.renderer->SetSimulationStart(r.frame + 1);
    r.renderer->SimulationsRestarted();
    // Sequential nodes go on from the latest copy before the frame.
    if (auto [copyFrame, copy] = checkpoints_.Before(time); r.stepped && copy) {
      const auto& states = static_cast<const FlowCopy&>(*copy).states;
      bool restored = states.size() == r.sequential.size();
      for (size_t k = 0; restored && k < states.size(); ++k) {
        restored = r.flow.nodes[r.sequential[k]].op->RestoreSimulation(*states[k]);
        r.renderer->SimulationRestoredAt(r.sequential[k], copyFrame);
      }
      if (!restored) {  // from the shot's start, on fresh operators
        checkpoints_.Clear();
        flowRender_.reset();
        return nullptr;
      }
      r.frame = copyFrame;
    }
  }
  for (size_t i = 0; i < r.flow.nodes.size(); ++i)
    countsBefore.push_back(r.renderer->RenderCount(i));
  // Every sequential node's frame kept from an earlier render (a change
  // downstream of them, a step back): the frame without stepping them. Their
  // operators stay where they were.
  if (!std::exchange(skipFlowCache_, false) && r.stepped && time != r.frame + 1 &&
      r.renderer->SequentialFramesCached(time, r.wanted)) {
    simFrom_ = time;  // nothing simulated
    simAt_ = time;
    simTarget_ = time;
    const auto began = std::chrono::steady_clock::now();
    r.whole = false;
    if (!r.renderer->Render(time, r.wanted, &error)) {
      flowRender_.reset();
      return MakeFrame(time, version, nullptr, 0.0, error);
    }
    if (!r.renderer->Trusted(r.node)) {
      // A kept frame left the cache before its turn and a sequential node
      // stepped out of order: simulate again, without the shortcut.
      skipFlowCache_ = true;
      flowRender_.reset();
      return nullptr;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    if (const df::Image* image = r.renderer->ImageOf(r.node))
      return withRenders(MakeFrame(time, version, image, ms, ""));
  }
  // Frame by frame from the last one simulated; a change or a new time cuts
  // the run off between frames.
  const int from = r.stepped ? r.frame + 1 : time;
  // How far the simulation has come, for the page (GET /api/simulation).
  simFrom_ = from - 1;
  simTarget_ = time;
  simAt_ = from - 1;
  simBusy_ = r.stepped;
  struct Idle {
    std::atomic<bool>& busy;
    ~Idle() { busy = false; }
  } idle{simBusy_};
  double ms = 0.0;
  for (int f = from; f <= time; ++f) {
    if (version_.load() != version) return nullptr;
    {
      std::lock_guard lock(frameMutex_);
      if (stop_ || wantTime_ != time) return nullptr;
    }
    const auto began = std::chrono::steady_clock::now();
    r.whole = false;
    if (!r.renderer->Render(f, f < time ? r.stepWanted : r.wanted, &error)) {
      flowRender_.reset();
      return MakeFrame(time, version, nullptr, 0.0, error);
    }
    ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    r.frame = f;
    r.whole = f == time;
    simAt_ = f;
    if (r.stepped && checkpoints_.Due(f)) {
      auto copy = std::make_shared<FlowCopy>();
      for (size_t i : r.sequential) {
        auto state = r.flow.nodes[i].op->SaveSimulation();
        if (!state) break;
        copy->states.push_back(std::move(state));
      }
      if (copy->states.size() == r.sequential.size()) checkpoints_.Keep(f, std::move(copy));
      checkpointCount_ = checkpoints_.Count();
      checkpointBytes_ = checkpoints_.Bytes();
    }
  }
  const df::Image* image = r.renderer->ImageOf(r.node);
  if (!image)
    return MakeFrame(time, version, nullptr, ms,
                     "\"" + r.flow.nodes[r.node].name + "\" delivered no image for frame " +
                         std::to_string(time));
  return withRenders(MakeFrame(time, version, image, ms, ""));
}

nlohmann::json Session::Simulation() const {
  nlohmann::json j;
  j["stepped"] = stepped_ || isFlow_;
  j["running"] = simBusy_.load();
  j["from"] = simFrom_.load();
  j["frame"] = simAt_.load();
  j["target"] = simTarget_.load();
  j["checkpoints"] = checkpointCount_.load();
  j["checkpointBytes"] = checkpointBytes_.load();
  if (isFlow_) {
    const flow::FrameCacheStats cache = flowCache_->Stats();
    j["frameCache"] = {
        {"frames", cache.frames}, {"bytes", cache.bytes}, {"maxBytes", cache.maxBytes}};
  }
  return j;
}

void Session::RenderLoop() {
  for (;;) {
    int time;
    {
      std::unique_lock lock(frameMutex_);
      wake_.wait(lock, [&] {
        return stop_ ||
               (wantTime_ && writers_.load() == 0 &&
                (!frame_ || frame_->time != *wantTime_ || frame_->version != version_.load()));
      });
      if (stop_) return;
      time = *wantTime_;
    }
    std::shared_ptr<Frame> frame = isFlow_    ? RenderFlow(time)
                                   : stepped_ ? RenderStepped(time)
                                              : RenderDirect(time);
    std::lock_guard lock(frameMutex_);
    if (!frame) {
      // Cut off by a change or a new time: the loop looks again. A change
      // still being applied wakes the loop when it is done.
      continue;
    }
    frame_ = std::move(frame);
    delivered_.notify_all();
  }
}

}  // namespace vorn::serve
