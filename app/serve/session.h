// One tool in `vorn serve`: its operator and document, the page's changes
// applied as a user's changes would be (SetValue with notification), the undo
// history grouped per user action, keyframes, compositions, and the render
// thread that shows the frame at the viewer's time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "composition.h"
#include "flow/flow.h"
#include "flow/flow_render.h"
#include "frame_driver.h"
#include "host.h"
#include "simulation_checkpoints.h"

namespace vorn::serve {

// The name a page gives the flow session where it names a tool.
inline constexpr const char* kFlowSessionName = "flow";

// What every session of a run shares: the timeline and the images.
struct SessionSettings {
  std::vector<std::string> inputs;  // "CAPTION=FILE", as for vorn render
  // How the files are read, as for vorn render: --input-colorspace,
  // --input-layer and --aspect.
  std::vector<std::string> inputColourSpaces, inputLayers;
  std::optional<double> aspect;
  int width = 1280, height = 720;  // built-in images, when no file gives a size
  int firstFrame = 0, lastFrame = 100;
  bool quiet = false;  // no warning about clipped values
};

// A finished frame as the viewer draws it: RGBA bytes, rows from the top.
struct Frame {
  int time = 0;
  uint64_t version = 0;
  int width = 0, height = 0;
  std::shared_ptr<const std::vector<uint8_t>> rgba;
  double renderMs = 0.0;
  std::string error;  // the tool delivered no image
  // A flow's nodes that rendered for this frame (not taken from the frame
  // cache), with how many frames each rendered.
  std::vector<std::pair<std::string, long>> nodeRenders;
};

// The outcome of a page's request: nothing changed when !ok.
struct Outcome {
  bool ok = true;
  std::string error;
  std::vector<std::string> warnings;
  // The values after the change, taken before another change or a render
  // can come in between.
  nlohmann::json state;
  static Outcome Fail(std::string why) {
    Outcome o;
    o.ok = false;
    o.error = std::move(why);
    return o;
  }
};

class Session {
 public:
  // Null, with the reason, when the tool cannot be created or an --input
  // does not fit it.
  static std::unique_ptr<Session> Create(Host& host, df::Registry* registry,
                                         const SessionSettings& settings, std::string* error);
  // A session holding a flow, empty until TakeFlow. The control requests
  // act on the selected tool node; the viewer shows the viewed node.
  static std::unique_ptr<Session> CreateFlow(Host& host, const SessionSettings& settings);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The tool of a one-tool session; null for a flow.
  df::Registry* Registry() const { return registry_; }
  bool IsFlow() const { return isFlow_; }
  // The timeline: a flow's shot, else the server's.
  int FirstFrame() const { return isFlow_ ? firstFrame_.load() : settings_.firstFrame; }
  int LastFrame() const { return isFlow_ ? lastFrame_.load() : settings_.lastFrame; }
  bool Stepped() const { return stepped_; }
  const SessionSettings& Settings() const { return settings_; }
  // The pictures of the tool's image inputs, bound once for the viewer and
  // the exports.
  const FrameDriver& Driver() const { return driver_; }
  // A fresh operator of the tool in `doc` holding the values now: what a
  // saved composition of them would give. Null with the reason.
  df::OperatorPtr CopyOperator(df::CPipelineDoc& doc, std::string* error);
  // `vorn controls --json` of the tool.
  // In a flow: of the selected tool node (no controls when none is).
  std::string Description();
  // Every control's value at `time`, keyframes, undo and redo captions, the
  // version of the values and the timeline.
  nlohmann::json State(int time);
  uint64_t Version() const { return version_.load(); }

  // A change on the page. `value`: a number, a bool (check box) or [x, y]
  // (point); a button takes 1: a press at `time`, kept as the button's key
  // there (saved with the values, replayed when that frame renders, undone
  // like any change). Changes that share a non-empty `gesture` on the same
  // control (one drag) are one undo step.
  Outcome Change(const std::string& id, const nlohmann::json& value, int time,
                 const std::string& gesture);
  // The tool's reset: a notification that names no input. A tool that does
  // nothing with it gets every control set to its declared default. Every
  // button press goes either way.
  Outcome Reset(int time);
  Outcome Undo(int time);
  Outcome Redo(int time);
  // Sets a key at `time` holding the control's value there.
  Outcome SetKey(const std::string& id, int time);
  // Removes the control's animation, keeping its value at `time`.
  Outcome ClearAnimation(const std::string& id, int time);
  // Removes the control's key at `time`; refused where it has none there.
  Outcome RemoveKey(const std::string& id, int time);
  // Takes every value of a loaded composition of this tool as one undo step
  // named `caption`; an empty caption (the composition the server opens
  // with) starts a fresh history instead.
  Outcome TakeComposition(const Composition& comp, const std::string& caption);
  // The operator's saved record; `version`, when given, receives the version
  // of the values it holds.
  bool SaveRecord(std::vector<uint8_t>* bytes, std::string* error, uint64_t* version = nullptr);
  // The values of `version` are in a file now: the state says "unsaved" only
  // after a change since.
  void MarkSaved(uint64_t version) { savedVersion_ = version; }

  // Flow graph edits, each one undo step (selecting and viewing are not).
  // Takes a loaded flow whole (its tool nodes get operators of this session
  // with the loaded values); an empty caption starts a fresh history.
  Outcome TakeFlow(flow::Flow&& loaded, const std::string& caption, int time);
  // `cls`: "Read", "Merge", "Write" or a tool; an empty name: a unique
  // default one (the class and a number).
  Outcome AddNode(const std::string& cls, const std::string& name, int time);
  Outcome DeleteNode(const std::string& name, int time);
  Outcome ConnectNodes(const std::string& from, const std::string& to, const std::string& input,
                       int time);
  Outcome DisconnectInput(const std::string& to, const std::string& input, int time);
  Outcome RenameNode(const std::string& from, const std::string& to, int time);
  // Settings of a Read, Merge or Write node, by member as the flow file
  // names them; the members not given stay.
  Outcome ChangeNodeSettings(const std::string& name, const nlohmann::json& settings, int time);
  // The shot's frames and the frame sequential nodes simulate from, checked
  // as a flow file's shot is; the state's time is kept within the new shot.
  Outcome ChangeShot(const flow::Shot& shot, int time);
  Outcome SelectNode(const std::string& name, int time);
  // An empty name views the flow's default node.
  Outcome ViewNode(const std::string& name, int time);
  // The flow's text and the node the viewer shows (for Save and Export).
  bool FlowTextNow(std::string* text, std::string* viewed, std::string* error,
                   uint64_t* version = nullptr);
  // The graph: nodes with their inputs and settings, connections, the
  // selected and the viewed node.
  nlohmann::json Graph();

  // A stepped tool's simulation: whether it is simulating towards a frame,
  // the frame it went on from, the last frame done and the frame wanted, and
  // the copies kept to go on from.
  nlohmann::json Simulation() const;

  // The frame at `time` with values at least as new as `minVersion`,
  // rendering it if needed; null when none came within `timeout`.
  std::shared_ptr<const Frame> WaitFrame(int time, uint64_t minVersion,
                                         std::chrono::milliseconds timeout);

 private:
  Session(Host& host, df::Registry* registry, const SessionSettings& settings);

  struct GraphSnap;
  struct Step {
    std::string caption;
    size_t docSteps = 0;  // runtime undo steps the action made
    std::string gesture;
    df::Input* input = nullptr;
    // The host's words for the action ("Change Light Color" once a colour
    // pick moved several channels); `caption` adds the tool's own to them.
    std::string hostCaption;
    // A flow's graph edit: the graph before and after it.
    std::shared_ptr<const GraphSnap> graphBefore, graphAfter;
  };

  // Holds the values for a change: the render reading them is cancelled first
  // so that the change need not wait for it; the render thread is woken after.
  class WriteScope {
   public:
    explicit WriteScope(Session& s) : s_(s) {
      s_.BeginWrite();
      lock_ = std::unique_lock(s_.mutex_);
    }
    ~WriteScope() {
      lock_.unlock();
      s_.EndWrite();
    }
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;

   private:
    Session& s_;
    std::unique_lock<std::mutex> lock_;
  };
  df::Input* FindById(const std::string& id) const;
  // Runs `apply` as one user action and records the runtime steps it made.
  template <class Apply>
  void Action(const std::string& caption, const std::string& gesture, df::Input* input,
              Apply&& apply);
  // Before changing the values: stops the render that reads them.
  void BeginWrite();
  void EndWrite();
  bool IsRuntimeCaption(const std::string& caption) const;
  // The host's words with the tool's own caption for the step added where
  // the tool named it and the words do not say it already.
  std::string StepCaption(const std::string& host, const std::string& tool) const;
  void ResetToDefaults(int time);
  void ClearPresses(int time);
  nlohmann::json ValueJson(const df::Input& input, int time) const;
  nlohmann::json StateLocked(int time) const;  // mutex_ held
  nlohmann::json GraphLocked() const;          // mutex_ held
  // Flow graph edits (mutex_ held).
  std::shared_ptr<const GraphSnap> Snapshot() const;
  void ApplyGraph(const GraphSnap& snap);
  // `structure`: the edit changed more than a node's settings.
  void PushGraphStep(const std::string& caption, std::shared_ptr<const GraphSnap> before,
                     bool structure = true);
  // Points the control requests at the selected node's operator.
  void UseSelected();
  const flow::Node* ViewedLocked() const;
  std::string DefaultName(const std::string& base) const;
  Outcome Done(int time);  // mutex_ held

  // Render thread.
  void RenderLoop();
  std::shared_ptr<Frame> RenderDirect(int time);
  std::shared_ptr<Frame> RenderStepped(int time);
  // The viewed node of a flow, on a copy of the flow with fresh operators
  // (stepped from the shot's simulation start when a sequential node is
  // upstream; going on from the last frame while the values hold).
  std::shared_ptr<Frame> RenderFlow(int time);
  // Takes the newest values into the simulation, keeping what they leave
  // valid. False when a change is coming in.
  bool TakeNewValues(uint64_t version);
  // Puts the simulation where frame `time` can be simulated from: its own
  // state, the nearest valid copy, or a fresh operator. Null error when it is.
  bool PositionSimulation(int time, std::string* error);
  // Renders one frame on `op`. False when cut off (a change, a new time);
  // true with the image, or with the reason the tool delivered none.
  bool RunProcess(df::Operator* op, int time, ImageRef* image, double* ms, std::string* error);
  std::shared_ptr<Frame> MakeFrame(int time, uint64_t version, const df::Image* image, double ms,
                                   const std::string& error);
  void Interrupt();

  Host& host_;
  df::Registry* registry_;
  SessionSettings settings_;
  std::string description_;
  bool stepped_ = false;
  FrameDriver driver_;

  // Guards the operator's values, the document and the history.
  std::mutex mutex_;
  std::unique_ptr<df::CPipelineDoc> doc_;
  df::OperatorPtr op_;
  // The operator the control requests act on: op_, or a flow's selected
  // tool node's (null when the selection is no tool).
  df::Operator* cur_ = nullptr;

  // A flow: its nodes' operators live in doc_; those of deleted nodes stay
  // in pool_ for undo.
  bool isFlow_ = false;
  flow::Flow flow_;
  std::vector<df::OperatorPtr> pool_;
  std::string selected_, viewed_;
  uint64_t graphVersion_ = 1;      // the structure or a node's settings
  uint64_t structureVersion_ = 1;  // nodes, connections and the node viewed
  std::atomic<int> firstFrame_{0}, lastFrame_{0};
  std::vector<Step> undo_, redo_;
  std::atomic<uint64_t> version_{1};
  std::atomic<uint64_t> savedVersion_{1};  // of the last Save or Load
  std::atomic<int> writers_{0};

  // The operator a render runs on, so that a change can cancel it.
  std::mutex runMutex_;
  df::Operator* running_ = nullptr;

  // Stepped tools: the simulating operator, used by the render thread only.
  // It holds the values of simVersion_; its simulation is valid after
  // simFrame_ unless a frame was cut off in the middle.
  std::unique_ptr<df::CPipelineDoc> simDoc_;
  df::OperatorPtr simOp_;
  uint64_t simVersion_ = 0;
  int simFrame_ = 0;  // last frame simulated
  bool simValid_ = false;
  int simReach_ = 0;  // the latest frame any simulation of these values reached
  // Copies of simOp_'s simulation, valid for its values.
  SimulationCheckpoints checkpoints_{0};
  // What the render thread is simulating, for the page.
  std::atomic<bool> simBusy_{false};
  std::atomic<int> simFrom_{0}, simAt_{0}, simTarget_{0};
  std::atomic<size_t> checkpointCount_{0}, checkpointBytes_{0};

  // A flow's render copy, used by the render thread only.
  struct FlowRender {
    std::unique_ptr<df::CPipelineDoc> doc;
    flow::Flow flow;
    std::unique_ptr<flow::FlowRenderer> renderer;
    uint64_t graph = 0, structure = 0, version = 0;
    size_t node = 0;
    std::vector<bool> wanted;
    std::vector<size_t> sequential;  // the sequential nodes the viewed one needs
    std::vector<bool> stepWanted;    // at the frames before: the sequential nodes and theirs
    bool stepped = false;
    int frame = 0;       // last frame rendered
    bool whole = false;  // with every node the viewed one needs
    ~FlowRender();
  };
  std::unique_ptr<FlowRender> flowRender_;
  // Nodes' frames, kept across render copies: a change renders only the
  // nodes it reaches.
  std::shared_ptr<flow::FrameCache> flowCache_ = std::make_shared<flow::FrameCache>();
  bool skipFlowCache_ = false;  // the next frame steps (render thread only)

  std::mutex frameMutex_;
  std::condition_variable wake_, delivered_;
  std::optional<int> wantTime_;
  std::shared_ptr<const Frame> frame_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vorn::serve
