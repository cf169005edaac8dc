#include "flow.h"

#include <strings.h>

#include "flow/flow_file.h"
#include "flow/tool_flow.h"
#include "flow/tool_record.h"
#include "frame_list.h"

namespace vorn::py {

namespace {

// Which of the host's nodes a class name names (case ignored), if any.
std::optional<flow::NodeKind> HostKind(const std::string& className) {
  for (auto [kind, name] : {std::pair{flow::NodeKind::Read, flow::kReadClass},
                            std::pair{flow::NodeKind::Merge, flow::kMergeClass},
                            std::pair{flow::NodeKind::Write, flow::kWriteClass}})
    if (strcasecmp(className.c_str(), name) == 0) return kind;
  return std::nullopt;
}

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

std::string SettingList(flow::NodeKind kind) {
  std::string list;
  for (const std::string& key : SettingNames(kind)) list += (list.empty() ? "" : ", ") + key;
  return list;
}

std::string NoSetting(const flow::Node& node, const std::string& key) {
  return "node " + Quoted(node.name) + " (" + flow::ClassOf(node) + ") has no setting \"" + key +
         "\"" +
         (node.kind == flow::NodeKind::Tool
              ? std::string("; a tool node's values are node[caption]")
              : "; its settings: " + SettingList(node.kind));
}

}  // namespace

Flow::Flow() = default;

Flow::~Flow() = default;

std::shared_ptr<Flow::Slot> Flow::ToolSlot(df::Registry* registry,
                                           const std::vector<uint8_t>* record,
                                           df::OperatorPtr* op) {
  auto slot = std::make_shared<Slot>();
  slot->doc = std::make_unique<df::CPipelineDoc>();
  std::string error;
  if (record) {
    df::CArchive archive(record->data(), record->size());
    *op = slot->doc->LoadOperator(archive, &error);
  } else {
    *op = slot->doc->CreateOperator(registry, &error);
  }
  if (!*op) throw std::runtime_error(error);
  try {
    slot->tool = std::make_shared<Tool>(*slot->doc, **op);
  } catch (...) {
    op->reset();  // before its document goes
    throw;
  }
  return slot;
}

std::shared_ptr<Flow> Flow::Load(const std::string& path) {
  Host& host = TheHost();
  WarnPluginProblems();
  auto out = std::make_shared<Flow>();
  std::string error;
  if (!flow::LoadFlow(host, path, &out->model_, &error)) throw pyb::value_error(error);
  out->slots_.reserve(out->model_.nodes.size());  // no push below can fail
  // The tool nodes' operators move to documents of their own, through their
  // records (the loader made them in the host's).
  for (flow::Node& node : out->model_.nodes) {
    if (node.kind != flow::NodeKind::Tool) {
      out->slots_.push_back(std::make_shared<Slot>());
      continue;
    }
    std::vector<uint8_t> record;
    if (!flow::SavedRecordBytes(host, *node.op, &record, &error))
      throw pyb::value_error(path + ": node " + Quoted(node.name) + ": " + error);
    df::OperatorPtr op;
    out->slots_.push_back(ToolSlot(nullptr, &record, &op));
    node.op = std::move(op);
  }
  return out;
}

ptrdiff_t Flow::IndexOf(const void* slot) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].get() == slot) return ptrdiff_t(i);
  return -1;
}

NodeRef Flow::Add(const std::string& className, const std::optional<std::string>& name,
                  const pyb::dict& settings) {
  Host& host = TheHost();
  WarnPluginProblems();
  std::shared_ptr<Slot> slot;  // before the node: its document outlives the node's operator
  flow::Node node;
  std::string base;  // the name without one given
  if (const auto kind = HostKind(className)) {
    node.kind = *kind;
    base = flow::ClassOf(node);
    for (const auto& [key, value] : settings) {
      const std::string k = key.cast<std::string>();
      if (!StoreSetting(node, k, ParseSetting(k, value)))
        throw pyb::type_error("a " + base + " node has no setting \"" + k +
                              "\"; its settings: " + SettingList(node.kind));
    }
    if ((node.kind == flow::NodeKind::Read && node.read.file.empty()) ||
        (node.kind == flow::NodeKind::Write && node.write.file.empty()))
      throw pyb::type_error("a " + base + " node needs file=");
    slot = std::make_shared<Slot>();
  } else {
    std::string error;
    df::Registry* registry = host.FindTool(className, &error);
    if (!registry) throw pyb::value_error(error + "; the host's nodes are Read, Merge and Write");
    slot = ToolSlot(registry, nullptr, &node.op);
    base = registry->Name();
    // Keywords are control values by caption, as op[caption] = value.
    for (const auto& [key, value] : settings) slot->tool->Set(key.cast<std::string>(), value);
  }
  std::string error;
  const bool added = Locked(mutex_, [&] {
    slots_.reserve(slots_.size() + 1);  // no push below can fail
    node.name = name ? *name : flow::FreeName(model_, base);
    if (!model_.Add(std::move(node), &error)) return false;
    slots_.push_back(slot);
    return true;
  });
  if (!added) throw pyb::value_error(error);
  return {shared_from_this(), slot.get()};
}

void Flow::Connect(const std::string& from, const std::string& to, const std::string& input) {
  std::string error;
  if (!Locked(mutex_, [&] { return model_.Connect(from, to, input, &error); }))
    throw pyb::value_error(error);
}

void Flow::Rename(const std::string& from, const std::string& to) {
  std::string error;
  if (!Locked(mutex_, [&] { return model_.Rename(from, to, &error); }))
    throw pyb::value_error(error);
}

std::vector<NodeRef> Flow::Nodes() {
  std::vector<NodeRef> out;
  Locked(mutex_, [&] {
    for (const auto& slot : slots_) out.push_back({nullptr, slot.get()});
  });
  for (NodeRef& ref : out) ref.flow = shared_from_this();
  return out;
}

NodeRef Flow::Named(const std::string& name) {
  const void* slot = Locked(mutex_, [&]() -> const void* {
    const ptrdiff_t i = model_.IndexOf(name);
    return i < 0 ? nullptr : slots_[size_t(i)].get();
  });
  if (!slot) throw pyb::key_error("no node is named " + Quoted(name));
  return {shared_from_this(), slot};
}

size_t Flow::Count() const {
  return Locked(mutex_, [&] { return model_.nodes.size(); });
}

std::vector<std::tuple<std::string, std::string, std::string>> Flow::Connections() const {
  return Locked(mutex_, [&] {
    std::vector<std::tuple<std::string, std::string, std::string>> out;
    for (const flow::Connection& c : model_.connections) out.emplace_back(c.from, c.to, c.input);
    return out;
  });
}

flow::Shot Flow::Shot() const {
  return Locked(mutex_, [&] { return model_.shot; });
}

void Flow::SetShot(const flow::Shot& shot) {
  std::string error;
  if (!flow::CheckShot(shot, &error)) throw pyb::value_error(error);
  Locked(mutex_, [&] { model_.shot = shot; });
}

std::optional<std::pair<int, int>> Flow::Size() const {
  return Locked(mutex_, [&] { return model_.size; });
}

void Flow::SetSize(const std::optional<std::pair<int, int>>& size) {
  Locked(mutex_, [&] { model_.size = size; });
}

void Flow::Save(const std::string& path) {
  std::string error;
  const bool saved = Locked(mutex_, [&] {
    // Every tool node's values held still while the text is made.
    std::vector<std::unique_lock<std::mutex>> held;
    for (const auto& slot : slots_)
      if (slot->tool) held.emplace_back(slot->tool->Mutex());
    return flow::SaveFlow(TheHost(), model_, path, &error);
  });
  if (!saved) throw std::runtime_error(error);
}

FlowCopy Flow::Copy(const std::string& node, int first, int last) {
  if (last < first)
    throw pyb::value_error("the last frame (" + std::to_string(last) + ") is before the first (" +
                           std::to_string(first) + ")");
  if ((long long)last - first + 1 > (long long)kMaxFrames)
    throw pyb::value_error("at most " + std::to_string(kMaxFrames) + " frames at once");
  std::vector<int> frames;
  for (long long f = first; f <= last; ++f) frames.push_back(int(f));
  Host& host = TheHost();
  FlowCopy copy;
  std::vector<std::vector<uint8_t>> records;
  std::string error;
  const bool planned = Locked(mutex_, [&] {
    const flow::Node* target = node.empty() ? model_.DefaultNode() : model_.Find(node);
    if (!target) {
      std::string list;
      for (const flow::Node& n : model_.nodes) list += (list.empty() ? "" : ", ") + Quoted(n.name);
      error = model_.nodes.empty() ? "the flow has no node"
                                   : "no node is named " + Quoted(node) + "; nodes: " + list;
      return false;
    }
    copy.target = size_t(model_.IndexOf(target->name));
    copy.plan = flow::PlanNodes(model_, {copy.target});
    if (!flow::PlanFlowSteps(copy.plan, model_.shot.simulationStart, first, frames, &copy.steps,
                             &error))
      return false;
    copy.flow.shot = model_.shot;
    copy.flow.size = model_.size;
    copy.flow.connections = model_.connections;
    records.resize(model_.nodes.size());
    for (size_t i = 0; i < model_.nodes.size(); ++i) {
      const flow::Node& from = model_.nodes[i];
      flow::Node& to = copy.flow.nodes.emplace_back();
      to.name = from.name;
      to.kind = from.kind;
      to.read = from.read;
      to.merge = from.merge;
      to.write = from.write;
      if (from.kind != flow::NodeKind::Tool) continue;
      Tool& tool = *slots_[i]->tool;
      std::lock_guard lock(tool.Mutex());
      tool.ApplyPendingPresses(copy.steps.front());
      if (!flow::SavedRecordBytes(host, *from.op, &records[i], &error)) {
        error = "node " + Quoted(from.name) + ": " + error;
        return false;
      }
    }
    return true;
  });
  if (!planned) throw pyb::value_error(error);
  copy.doc = std::make_unique<df::CPipelineDoc>();
  for (size_t i = 0; i < copy.flow.nodes.size(); ++i) {
    flow::Node& to = copy.flow.nodes[i];
    if (to.kind != flow::NodeKind::Tool) continue;
    df::CArchive archive(records[i].data(), records[i].size());
    to.op = copy.doc->LoadOperator(archive, &error);
    if (!to.op) throw std::runtime_error("node " + Quoted(to.name) + ": " + error);
  }
  return copy;
}

std::string Flow::NameOf(const NodeRef& ref) const {
  return Locked(mutex_, [&] {
    const ptrdiff_t i = IndexOf(ref.slot);
    return i < 0 ? std::string() : model_.nodes[size_t(i)].name;
  });
}

std::string Flow::ClassOf(const NodeRef& ref) const {
  return Locked(mutex_, [&] {
    const ptrdiff_t i = IndexOf(ref.slot);
    return i < 0 ? std::string() : flow::ClassOf(model_.nodes[size_t(i)]);
  });
}

std::vector<std::string> Flow::InputsOf(const NodeRef& ref) const {
  return Locked(mutex_, [&] {
    const ptrdiff_t i = IndexOf(ref.slot);
    return i < 0 ? std::vector<std::string>{} : flow::ImageInputNames(model_.nodes[size_t(i)]);
  });
}

std::shared_ptr<Tool> Flow::ToolOf(const NodeRef& ref) const {
  std::string error;
  std::shared_ptr<Tool> tool = Locked(mutex_, [&]() -> std::shared_ptr<Tool> {
    const ptrdiff_t i = IndexOf(ref.slot);
    if (i < 0) return nullptr;
    const flow::Node& node = model_.nodes[size_t(i)];
    if (!slots_[size_t(i)]->tool)
      error = "node " + Quoted(node.name) + " is a " + flow::ClassOf(node) +
              " node: it has no controls; its settings are attributes: " + SettingList(node.kind);
    return slots_[size_t(i)]->tool;
  });
  if (!error.empty()) throw pyb::type_error(error);
  if (!tool) throw pyb::value_error("the node is not one of this flow's");
  return tool;
}

pyb::dict Flow::Settings(const NodeRef& ref) const {
  std::vector<std::pair<std::string, SettingValue>> values;
  Locked(mutex_, [&] {
    const ptrdiff_t i = IndexOf(ref.slot);
    if (i < 0) return;
    const flow::Node& node = model_.nodes[size_t(i)];
    for (const std::string& key : SettingNames(node.kind))
      if (SettingValue v; ReadSetting(node, key, &v)) values.emplace_back(key, v);
  });
  pyb::dict out;
  for (const auto& [key, value] : values) out[pyb::str(key)] = SettingObject(value);
  return out;
}

pyb::object Flow::Setting(const NodeRef& ref, const std::string& key) const {
  SettingValue value;
  std::string error;
  const bool found = Locked(mutex_, [&] {
    const ptrdiff_t i = IndexOf(ref.slot);
    if (i < 0) return false;
    const flow::Node& node = model_.nodes[size_t(i)];
    if (ReadSetting(node, key, &value)) return true;
    error = NoSetting(node, key);
    return false;
  });
  if (!found)
    throw pyb::attribute_error(error.empty() ? "the node is not one of this flow's" : error);
  return SettingObject(value);
}

void Flow::SetSetting(const NodeRef& ref, const std::string& key, const pyb::handle& value) {
  const SettingValue parsed = ParseSetting(key, value);
  std::string error;
  const bool stored = Locked(mutex_, [&] {
    const ptrdiff_t i = IndexOf(ref.slot);
    if (i < 0) return false;
    flow::Node& node = model_.nodes[size_t(i)];
    if (StoreSetting(node, key, parsed)) return true;
    error = NoSetting(node, key);
    return false;
  });
  if (!stored)
    throw pyb::attribute_error(error.empty() ? "the node is not one of this flow's" : error);
}

}  // namespace vorn::py
