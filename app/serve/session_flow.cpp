// A session holding a flow: the graph edits, each one step of the session's
// undo history. A step keeps the graph before and after it by node, with
// the tool nodes' operators by address; the operators of deleted nodes stay
// alive in the pool so that undoing the deletion brings the same operator
// back, with its control history.
#include <algorithm>
#include <cmath>

#include "controls_model.h"
#include "flow/flow_file.h"
#include "frame_driver.h"
#include "serve/session.h"

namespace vorn::serve {

using nlohmann::json;

struct Session::GraphSnap {
  struct Node {
    std::string name;
    flow::NodeKind kind = flow::NodeKind::Tool;
    df::Operator* op = nullptr;
    flow::ReadSettings read;
    flow::MergeSettings merge;
    flow::WriteSettings write;
  };
  std::vector<Node> nodes;
  std::vector<flow::Connection> connections;
  flow::Shot shot;
  std::optional<std::pair<int, int>> size;
  std::string selected, viewed;
};

std::unique_ptr<Session> Session::CreateFlow(Host& host, const SessionSettings& settings) {
  std::unique_ptr<Session> s(new Session(host, nullptr, settings));
  s->isFlow_ = true;
  s->doc_ = std::make_unique<df::CPipelineDoc>();
  s->flow_.shot = {settings.firstFrame, settings.lastFrame, settings.firstFrame};
  s->firstFrame_ = settings.firstFrame;
  s->lastFrame_ = settings.lastFrame;
  s->thread_ = std::thread([p = s.get()] { p->RenderLoop(); });
  return s;
}

std::string Session::Description() {
  if (!isFlow_) return description_;
  std::lock_guard lock(mutex_);
  if (!cur_)
    return json{{"name", ""},
                {"class", ""},
                {"sequential", false},
                {"pages", json::array()},
                {"controls", json::array()},
                {"images", json::array()}}
        .dump();
  return ControlsJson(*cur_->GetRegistry(), *cur_);
}

std::shared_ptr<const Session::GraphSnap> Session::Snapshot() const {
  auto snap = std::make_shared<GraphSnap>();
  for (const flow::Node& n : flow_.nodes)
    snap->nodes.push_back({n.name, n.kind, n.op.get(), n.read, n.merge, n.write});
  snap->connections = flow_.connections;
  snap->shot = flow_.shot;
  snap->size = flow_.size;
  snap->selected = selected_;
  snap->viewed = viewed_;
  return snap;
}

void Session::ApplyGraph(const GraphSnap& snap) {
  // Whether more than a node's settings changes. Another simulation start
  // counts: the simulation's copies are of the old one.
  bool structure = snap.nodes.size() != flow_.nodes.size() ||
                   snap.connections.size() != flow_.connections.size() || snap.viewed != viewed_ ||
                   snap.shot.simulationStart != flow_.shot.simulationStart;
  for (size_t i = 0; !structure && i < snap.nodes.size(); ++i)
    structure = snap.nodes[i].name != flow_.nodes[i].name ||
                snap.nodes[i].kind != flow_.nodes[i].kind ||
                snap.nodes[i].op != flow_.nodes[i].op.get();
  for (size_t i = 0; !structure && i < snap.connections.size(); ++i)
    structure = snap.connections[i].from != flow_.connections[i].from ||
                snap.connections[i].to != flow_.connections[i].to ||
                snap.connections[i].input != flow_.connections[i].input;
  if (structure) ++structureVersion_;
  for (flow::Node& n : flow_.nodes)
    if (n.op) pool_.push_back(std::move(n.op));
  std::vector<flow::Node> nodes;
  for (const GraphSnap::Node& g : snap.nodes) {
    flow::Node n;
    n.name = g.name;
    n.kind = g.kind;
    n.read = g.read;
    n.merge = g.merge;
    n.write = g.write;
    if (g.op) {
      const auto it = std::find_if(pool_.begin(), pool_.end(),
                                   [&](const df::OperatorPtr& p) { return p.get() == g.op; });
      if (it != pool_.end()) {
        n.op = std::move(*it);
        pool_.erase(it);
      }
    }
    nodes.push_back(std::move(n));
  }
  flow_.nodes = std::move(nodes);
  flow_.connections = snap.connections;
  flow_.shot = snap.shot;
  flow_.size = snap.size;
  firstFrame_ = flow_.shot.first;
  lastFrame_ = flow_.shot.last;
  selected_ = snap.selected;
  viewed_ = snap.viewed;
  ++graphVersion_;
  UseSelected();
}

void Session::PushGraphStep(const std::string& caption, std::shared_ptr<const GraphSnap> before,
                            bool structure) {
  if (structure) ++structureVersion_;
  Step step;
  step.caption = step.hostCaption = caption;
  step.graphBefore = std::move(before);
  step.graphAfter = Snapshot();
  undo_.push_back(std::move(step));
  redo_.clear();
  ++graphVersion_;
  ++version_;
}

void Session::UseSelected() {
  const flow::Node* node = flow_.Find(selected_);
  if (!node) selected_.clear();
  if (viewed_.size() && !flow_.Find(viewed_)) viewed_.clear();
  cur_ = node && node->op ? node->op.get() : nullptr;
}

const flow::Node* Session::ViewedLocked() const {
  if (const flow::Node* n = flow_.Find(viewed_)) return n;
  return flow_.DefaultNode();
}

std::string Session::DefaultName(const std::string& base) const {
  for (long n = 1;; ++n) {
    const std::string name = base + std::to_string(n);
    if (!flow_.Find(name)) return name;
  }
}

Outcome Session::TakeFlow(flow::Flow&& loaded, const std::string& caption, int time) {
  if (!isFlow_) return Outcome::Fail("this session holds one tool, not a flow");
  WriteScope scope(*this);
  // The tool nodes get operators of this session's document, holding the
  // loaded values (button presses included).
  for (flow::Node& n : loaded.nodes) {
    if (!n.op) continue;
    std::string error;
    df::OperatorPtr op = doc_->CreateOperator(n.op->GetRegistry(), &error);
    if (!op) return Outcome::Fail("node \"" + n.name + "\": " + error);
    CopyControlValues(*n.op, *op);
    n.op = std::move(op);
  }
  auto before = Snapshot();
  for (flow::Node& n : flow_.nodes)
    if (n.op) pool_.push_back(std::move(n.op));
  flow_ = std::move(loaded);
  firstFrame_ = flow_.shot.first;
  lastFrame_ = flow_.shot.last;
  viewed_.clear();
  const flow::Node* shown = flow_.DefaultNode();
  selected_ = shown ? shown->name : "";
  UseSelected();
  if (caption.empty()) {  // the flow opened with the server: a fresh history
    undo_.clear();
    redo_.clear();
    ++graphVersion_;
    ++structureVersion_;
    savedVersion_ = ++version_;
  } else {
    PushGraphStep(caption, std::move(before));
    savedVersion_ = version_.load();
  }
  return Done(time);
}

Outcome Session::AddNode(const std::string& cls, const std::string& name, int time) {
  if (!isFlow_) return Outcome::Fail("this session holds one tool, not a flow");
  flow::Node node;
  std::string base = cls, error;
  if (cls == flow::kReadClass) {
    node.kind = flow::NodeKind::Read;
  } else if (cls == flow::kMergeClass) {
    node.kind = flow::NodeKind::Merge;
  } else if (cls == flow::kWriteClass) {
    node.kind = flow::NodeKind::Write;
  } else {
    df::Registry* registry = host_.FindTool(cls, &error);
    if (!registry)
      return Outcome::Fail("class \"" + cls + "\": not Read, Merge, Write or a tool (" + error +
                           ")");
    base = registry->Name();
  }
  WriteScope scope(*this);
  if (node.kind == flow::NodeKind::Tool) {
    std::string ignored;
    node.op = doc_->CreateOperator(host_.FindTool(cls, &ignored), &error);
    if (!node.op) return Outcome::Fail("class \"" + cls + "\": " + error);
  }
  node.name = name.empty() ? DefaultName(base) : name;
  const std::string added = node.name;
  auto before = Snapshot();
  // Refused, the new operator goes with nothing recorded of it.
  if (!flow_.Add(std::move(node), &error)) return Outcome::Fail(error);
  selected_ = added;
  UseSelected();
  PushGraphStep("Add " + added, std::move(before));
  return Done(time);
}

Outcome Session::DeleteNode(const std::string& name, int time) {
  if (!isFlow_) return Outcome::Fail("this session holds one tool, not a flow");
  WriteScope scope(*this);
  auto before = Snapshot();
  df::OperatorPtr op;
  std::string error;
  if (!flow_.Remove(name, &op, &error)) return Outcome::Fail(error);
  if (op) pool_.push_back(std::move(op));
  UseSelected();
  PushGraphStep("Delete " + name, std::move(before));
  return Done(time);
}

Outcome Session::ConnectNodes(const std::string& from, const std::string& to,
                              const std::string& input, int time) {
  if (!isFlow_) return Outcome::Fail("this session holds one tool, not a flow");
  WriteScope scope(*this);
  auto before = Snapshot();
  std::string error;
  if (!flow_.Connect(from, to, input, &error)) return Outcome::Fail(error);
  PushGraphStep("Connect " + from + " to " + to + " " + input, std::move(before));
  return Done(time);
}

Outcome Session::DisconnectInput(const std::string& to, const std::string& input, int time) {
  if (!isFlow_) return Outcome::Fail("this session holds one tool, not a flow");
  WriteScope scope(*this);
  auto before = Snapshot();
  std::string error;
  if (!flow_.Disconnect(to, input, &error)) return Outcome::Fail(error);
  PushGraphStep("Disconnect " + to + " " + input, std::move(before));
  return Done(time);
}

Outcome Session::RenameNode(const std::string& from, const std::string& to, int time) {
  if (!isFlow_) return Outcome::Fail("this session holds one tool, not a flow");
  WriteScope scope(*this);
  if (from == to) return Done(time);
  auto before = Snapshot();
  std::string error;
  if (!flow_.Rename(from, to, &error)) return Outcome::Fail(error);
  if (selected_ == from) selected_ = to;
  if (viewed_ == from) viewed_ = to;
  PushGraphStep("Rename " + from + " to " + to, std::move(before));
  return Done(time);
}

namespace {

bool StringMember(const json& from, const char* key, std::string* to, std::string* error) {
  const auto it = from.find(key);
  if (it == from.end()) return true;
  if (!it->is_string() || it->get<std::string>().size() > 4096) {
    *error = std::string("\"") + key + "\": a text of at most 4096 characters";
    return false;
  }
  *to = it->get<std::string>();
  return true;
}

// The members of a Read, Merge or Write node's settings, checked as the flow
// file checks them; the file itself is checked when the node renders.
bool TakeSettings(const json& s, flow::Node& node, std::string* error) {
  std::vector<std::string> allowed;
  switch (node.kind) {
    case flow::NodeKind::Read: {
      allowed = {"file", "frameOffset", "colourSpace", "layer", "missing"};
      flow::ReadSettings& r = node.read;
      if (!StringMember(s, "file", &r.file, error) ||
          !StringMember(s, "colourSpace", &r.colourSpace, error) ||
          !StringMember(s, "layer", &r.layer, error))
        return false;
      if (const auto it = s.find("frameOffset"); it != s.end()) {
        const double d = it->is_number() ? it->get<double>() : NAN;
        if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 1e6) {
          *error = "\"frameOffset\": a whole number from -1000000 to 1000000";
          return false;
        }
        r.frameOffset = int(d);
      }
      std::string missing;
      if (!StringMember(s, "missing", &missing, error)) return false;
      if (s.contains("missing")) {
        const auto m = flow::ParseMissingFrame(missing);
        if (!m) {
          *error = "\"missing\": \"error\", \"black\" or \"nearest\"";
          return false;
        }
        r.missing = *m;
      }
      break;
    }
    case flow::NodeKind::Merge: {
      allowed = {"operation", "mix"};
      std::string op;
      if (!StringMember(s, "operation", &op, error)) return false;
      if (s.contains("operation")) {
        const auto o = flow::ParseMergeOperation(op);
        if (!o) {
          *error = "\"operation\": \"over\", \"under\", \"plus\", \"multiply\" or \"screen\"";
          return false;
        }
        node.merge.operation = *o;
      }
      if (const auto it = s.find("mix"); it != s.end()) {
        const double d = it->is_number() ? it->get<double>() : NAN;
        if (!(d >= 0.0 && d <= 1.0)) {
          *error = "\"mix\": a number from 0 to 1";
          return false;
        }
        node.merge.mix = d;
      }
      break;
    }
    case flow::NodeKind::Write: {
      allowed = {"file", "compression", "bitDepth", "colourSpace"};
      flow::WriteSettings& w = node.write;
      if (!StringMember(s, "file", &w.file, error) ||
          !StringMember(s, "compression", &w.compression, error) ||
          !StringMember(s, "bitDepth", &w.bitDepth, error) ||
          !StringMember(s, "colourSpace", &w.colourSpace, error))
        return false;
      break;
    }
    case flow::NodeKind::Tool:
      *error = "a tool node's values are its controls (POST /api/change)";
      return false;
  }
  for (const auto& [key, value] : s.items())
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
      std::string list;
      for (const std::string& a : allowed) list += (list.empty() ? "" : ", ") + a;
      *error = "\"" + key + "\" is no setting of a " + flow::ClassOf(node) +
               " node; its settings: " + list;
      return false;
    }
  return true;
}

json SettingsJson(const flow::Node& n) {
  switch (n.kind) {
    case flow::NodeKind::Read:
      return {{"file", n.read.file},
              {"frameOffset", n.read.frameOffset},
              {"colourSpace", n.read.colourSpace},
              {"layer", n.read.layer},
              {"missing", flow::MissingFrameName(n.read.missing)}};
    case flow::NodeKind::Merge:
      return {{"operation", flow::MergeOperationName(n.merge.operation)}, {"mix", n.merge.mix}};
    case flow::NodeKind::Write:
      return {{"file", n.write.file},
              {"compression", n.write.compression},
              {"bitDepth", n.write.bitDepth},
              {"colourSpace", n.write.colourSpace}};
    case flow::NodeKind::Tool:
      break;
  }
  return json::object();
}

}  // namespace

Outcome Session::ChangeNodeSettings(const std::string& name, const json& settings, int time) {
  if (!isFlow_) return Outcome::Fail("this session holds one tool, not a flow");
  if (!settings.is_object()) return Outcome::Fail("\"settings\": an object of settings");
  WriteScope scope(*this);
  flow::Node* node = flow_.Find(name);
  if (!node) return Outcome::Fail("no node is named \"" + name + "\"");
  auto before = Snapshot();
  flow::Node changed;
  changed.kind = node->kind;
  changed.read = node->read;
  changed.merge = node->merge;
  changed.write = node->write;
  std::string error;
  if (!TakeSettings(settings, changed, &error)) return Outcome::Fail("\"" + name + "\": " + error);
  node->read = changed.read;
  node->merge = changed.merge;
  node->write = changed.write;
  std::string keys;
  for (const auto& [key, value] : settings.items()) keys += (keys.empty() ? " " : ", ") + key;
  PushGraphStep("Change " + name + keys, std::move(before), false);
  return Done(time);
}

Outcome Session::ChangeShot(const flow::Shot& shot, int time) {
  if (!isFlow_) return Outcome::Fail("this session holds one tool, not a flow");
  std::string error;
  if (!flow::CheckShot(shot, &error)) return Outcome::Fail(error);
  WriteScope scope(*this);
  const int within = std::clamp(time, shot.first, shot.last);
  const flow::Shot now = flow_.shot;
  if (shot.first == now.first && shot.last == now.last &&
      shot.simulationStart == now.simulationStart)
    return Done(within);
  auto before = Snapshot();
  flow_.shot = shot;
  firstFrame_ = shot.first;
  lastFrame_ = shot.last;
  // Another simulation start counts as a structure change, which drops the
  // simulation's copies; other frames keep them.
  PushGraphStep("Change shot", std::move(before), shot.simulationStart != now.simulationStart);
  return Done(within);
}

Outcome Session::SelectNode(const std::string& name, int time) {
  if (!isFlow_) return Outcome::Fail("this session holds one tool, not a flow");
  WriteScope scope(*this);
  if (!name.empty() && !flow_.Find(name)) return Outcome::Fail("no node is named \"" + name + "\"");
  selected_ = name;
  UseSelected();
  ++version_;
  return Done(time);
}

Outcome Session::ViewNode(const std::string& name, int time) {
  if (!isFlow_) return Outcome::Fail("this session holds one tool, not a flow");
  WriteScope scope(*this);
  if (!name.empty() && !flow_.Find(name)) return Outcome::Fail("no node is named \"" + name + "\"");
  viewed_ = name;
  ++graphVersion_;
  ++structureVersion_;
  ++version_;
  return Done(time);
}

bool Session::FlowTextNow(std::string* text, std::string* viewed, std::string* error,
                          uint64_t* version) {
  std::lock_guard lock(mutex_);
  if (!isFlow_) {
    *error = "this session holds one tool, not a flow";
    return false;
  }
  if (version) *version = version_.load();
  const flow::Node* shown = ViewedLocked();
  if (viewed) *viewed = shown ? shown->name : "";
  return flow::FlowText(host_, flow_, text, error);
}

json Session::Graph() {
  std::lock_guard lock(mutex_);
  return GraphLocked();
}

json Session::GraphLocked() const {
  json nodes = json::array();
  for (const flow::Node& n : flow_.nodes) {
    std::vector<bool> required;
    const std::vector<std::string> names = flow::ImageInputNames(n, &required);
    json inputs = json::array();
    for (size_t i = 0; i < names.size(); ++i) {
      const flow::Node* source = flow_.Source(n, names[i]);
      inputs.push_back({{"name", names[i]},
                        {"required", bool(required[i])},
                        {"source", source ? json(source->name) : json(nullptr)}});
    }
    json node = {{"name", n.name},
                 {"class", flow::ClassOf(n)},
                 {"tool", n.op ? n.op->GetRegistry()->Name() : ""},
                 {"inputs", inputs},
                 {"sequential", n.Sequential()}};
    if (n.kind != flow::NodeKind::Tool) node["settings"] = SettingsJson(n);
    nodes.push_back(std::move(node));
  }
  json connections = json::array();
  for (const flow::Connection& c : flow_.connections)
    connections.push_back({{"from", c.from}, {"to", c.to}, {"input", c.input}});
  const flow::Node* shown = ViewedLocked();
  return {{"nodes", nodes},
          {"connections", connections},
          {"selected", selected_},
          {"viewed", shown ? shown->name : ""},
          {"viewedIsDefault", viewed_.empty()},
          {"shot",
           {{"first", flow_.shot.first},
            {"last", flow_.shot.last},
            {"simulationStart", flow_.shot.simulationStart}}}};
}

}  // namespace vorn::serve
