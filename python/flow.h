// A flow as Python builds, edits, saves and renders it, on the flow host's
// model (app/flow). Each tool node's operator records its changes in a
// document of its own and takes values through a Tool (tool.h), as an
// operator made with vorn.Tool does. A render works on a copy of the flow
// whose operators are loaded from the nodes' saved records, fresh, as
// `vorn render --comp` loads them from the file: repeats give the same bytes,
// and a render does not hold back edits made meanwhile.
#pragma once

#include <dfsystem/dfsystem.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "flow/flow.h"
#include "flow/flow_steps.h"
#include "node_settings.h"
#include "tool.h"

namespace vorn::py {

class Flow;

// A node as Python holds it: its flow and the node's place there, which
// stays the node's through renames.
struct NodeRef {
  std::shared_ptr<Flow> flow;
  const void* slot = nullptr;
};

// A copy of a flow to render frames first..last of one node.
struct FlowCopy {
  std::unique_ptr<df::CPipelineDoc> doc;
  flow::Flow flow;  // after the document: its operators go first
  size_t target = 0;
  flow::NodePlan plan;
  std::vector<int> steps;
};

class Flow : public std::enable_shared_from_this<Flow> {
 public:
  Flow();
  ~Flow();
  Flow(const Flow&) = delete;
  Flow& operator=(const Flow&) = delete;

  // The flow of a flow file, or of a saved composition as a flow of one
  // node. Raises ValueError naming the place.
  static std::shared_ptr<Flow> Load(const std::string& path);

  // Adds a node: "Read", "Merge", "Write" (with settings) or a tool (with
  // control values by caption). Without a name, the class's (with a number
  // when taken).
  NodeRef Add(const std::string& className, const std::optional<std::string>& name,
              const pyb::dict& settings);
  void Connect(const std::string& from, const std::string& to, const std::string& input);
  void Rename(const std::string& from, const std::string& to);
  std::vector<NodeRef> Nodes();
  NodeRef Named(const std::string& name);
  size_t Count() const;
  std::vector<std::tuple<std::string, std::string, std::string>> Connections() const;
  flow::Shot Shot() const;
  void SetShot(const flow::Shot& shot);
  std::optional<std::pair<int, int>> Size() const;
  void SetSize(const std::optional<std::pair<int, int>>& size);
  void Save(const std::string& path);

  // A copy for rendering frames first..last of `node` (empty: the default
  // node), with the steps planned as `vorn render --comp` plans them.
  // Presses made without a frame act at the first step. Raises ValueError.
  FlowCopy Copy(const std::string& node, int first, int last);

  // Of one node.
  std::string NameOf(const NodeRef& ref) const;
  std::string ClassOf(const NodeRef& ref) const;
  std::vector<std::string> InputsOf(const NodeRef& ref) const;
  // The operator of a tool node; TypeError for the host's nodes.
  std::shared_ptr<Tool> ToolOf(const NodeRef& ref) const;
  pyb::dict Settings(const NodeRef& ref) const;
  pyb::object Setting(const NodeRef& ref, const std::string& key) const;
  void SetSetting(const NodeRef& ref, const std::string& key, const pyb::handle& value);

 private:
  struct Slot {
    std::unique_ptr<df::CPipelineDoc> doc;  // a tool node's own document
    std::shared_ptr<Tool> tool;
  };
  // The index of a node handed out, or -1 when it is no longer there. mutex_ held.
  ptrdiff_t IndexOf(const void* slot) const;
  // A slot for a tool node, its operator made in a document of its own.
  static std::shared_ptr<Slot> ToolSlot(df::Registry* registry, const std::vector<uint8_t>* record,
                                        df::OperatorPtr* op);

  mutable std::mutex mutex_;                  // over slots_ and model_
  std::vector<std::shared_ptr<Slot>> slots_;  // one a node, in the model's order
  flow::Flow model_;  // after the slots: its operators go before their documents
};

// Adds vorn.Flow and vorn.Node to the module.
void DefineFlow(pyb::module_& m);

}  // namespace vorn::py
