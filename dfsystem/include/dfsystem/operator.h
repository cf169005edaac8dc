// Operator base classes: what a tool derives from. The host talks to an operator
// only through its creation function and these virtual operations, in this slot
// order: destructor, Save, Process, NotifyChanged, SaveSimulation,
// RestoreSimulation, SimulationReads, ProcessChunk.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dfsystem/input.h"
#include "dfsystem/object.h"
#include "dfsystem/parameter.h"
#include "dfsystem/record.h"
#include "dfsystem/tags.h"

namespace df {

class CArchive;
class CPipelineDoc;
class Registry;
class Request;

// The objFlags bit of a tool whose frames depend on every frame simulated
// before (since its last restart): a host steps it through every frame of the
// shot.
inline constexpr uint32_t kObjFlagSequential = 0x20;

// A copy of what a sequential tool's next frames depend on besides its
// control values, taken between frames. Only the tool that made it reads it;
// the host keeps it to go on from there later instead of simulating the shot
// again from its first frame.
class SimulationState {
 public:
  virtual ~SimulationState() = default;
  // Memory held, for the host's bound on the copies it keeps.
  virtual std::size_t Bytes() const = 0;
};

class Operator : public Object {
 public:
  // `archive` non-null: the operator is being loaded; the host data is read
  // here and each saved value is applied when its input is declared. `tags`
  // may carry OBJ_Document.
  Operator(Registry* registry, CArchive* archive, TagList* tags);
  ~Operator() override;

  // Writes the host's data for this operator: every control input's value.
  // Result bit 0: success.
  virtual uint32_t Save(CArchive* archive, TagList* tags);
  virtual uint32_t Process(Request* request);
  // Base handling of a change or a reset request (null input).
  virtual void NotifyChanged(Input* input, Parameter* value, double time);
  // Sequential tools, between frames: a copy of the simulation as it stands;
  // null when the tool keeps none or memory runs out.
  virtual std::shared_ptr<const SimulationState> SaveSimulation();
  // Takes back a copy made by an operator of the same tool: the next frame
  // goes on as it would have after the frame the copy was made. False when
  // the copy is not this tool's or memory runs out; the simulation must then
  // start again from a fresh operator.
  virtual bool RestoreSimulation(const SimulationState& state);
  // Whether the value of `input`, one of this operator's, can change the
  // simulation a copy holds; false for a control that only changes how a
  // frame is drawn, across whose changes a host may keep its copies.
  virtual bool SimulationReads(const Input& input) const;

  // Registration hooks named in every tool's record.
  static bool RegInit(Registry* registry);
  static bool RegCleanup(Registry* registry);

  // Declaration, from the tool's constructor.
  void AddControlPage(const char* caption, int flags = 0);
  // Returns the new input. A bad declaration (invalid tag list, unknown value
  // type, duplicate id) still returns a usable input but marks the operator
  // broken, and the host refuses it.
  Input* AddInput(const char* name, uint32_t valueType, uint32_t id, TagList tags);
  Output* AddOutput(const char* name, uint32_t valueType, uint32_t id, TagList tags = {});

  std::atomic<int> abortFlag{0};
  CPipelineDoc* doc = nullptr;
  int opMode = 0;
  int opModeArg = 0;
  uint32_t objFlags = 0;
  // The host's settings kept with the values: Save writes them, loading
  // reads them back. The tool never sees them.
  std::vector<SavedSetting> hostSettings;

  // Host view.
  Registry* GetRegistry() const { return registry_; }
  const std::vector<std::string>& Pages() const { return pages_; }
  const std::vector<std::unique_ptr<Input>>& Inputs() const { return inputs_; }
  const std::vector<std::unique_ptr<Output>>& Outputs() const { return outputs_; }
  Input* FindInput(uint32_t id) const;
  Input* FindInputByName(const std::string& name) const;
  // Whether declaration and loading went well; names the first problem.
  bool Healthy(std::string* why) const;
  void MarkBroken(const std::string& why);

 private:
  friend class Input;
  Registry* registry_;
  std::vector<std::string> pages_;
  std::vector<std::unique_ptr<Input>> inputs_;
  std::vector<std::unique_ptr<Output>> outputs_;
  std::map<uint32_t, std::pair<uint32_t, ValueState>> pending_;  // saved values by id
  std::string problem_;
};

class ThreadedOperator : public Operator {
 public:
  using Operator::Operator;
  // Renders chunk `chunk` of the current pass.
  virtual void ProcessChunk(Request* request, long chunk);
  // Runs ProcessChunk(request, k) for k = 0 .. n−1 on the runtime's worker
  // pool and returns when all are done. Result 1 on success, 0 when n < 1 or
  // a chunk failed by an exception.
  uint32_t DoMultiProcess(Request* request, long n);
};

}  // namespace df
