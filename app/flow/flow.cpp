#include "flow/flow.h"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "controls_model.h"

namespace vorn::flow {

Node* Flow::Find(const std::string& name) {
  const ptrdiff_t i = IndexOf(name);
  return i < 0 ? nullptr : &nodes[size_t(i)];
}

const Node* Flow::Find(const std::string& name) const {
  const ptrdiff_t i = IndexOf(name);
  return i < 0 ? nullptr : &nodes[size_t(i)];
}

ptrdiff_t Flow::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < nodes.size(); ++i)
    if (nodes[i].name == name) return ptrdiff_t(i);
  return -1;
}

bool Flow::CheckName(const std::string& name, std::string* error) const {
  if (name.empty()) {
    *error = "a node name may not be empty";
    return false;
  }
  if (name.size() > kMaxNameLength) {
    *error = "the node name \"" + name.substr(0, 20) + "...\" is longer than " +
             std::to_string(kMaxNameLength) + " characters";
    return false;
  }
  if (std::any_of(name.begin(), name.end(),
                  [](char c) { return (unsigned char)c < 0x20 || c == 0x7f; })) {
    *error = "the node name \"" + name + "\" holds a control character";
    return false;
  }
  if (Find(name)) {
    *error = "there is already a node named \"" + name + "\"";
    return false;
  }
  return true;
}

bool Flow::Rename(const std::string& from, const std::string& to, std::string* error) {
  Node* node = Find(from);
  if (!node) {
    *error = "no node is named \"" + from + "\"";
    return false;
  }
  if (from == to) return true;
  if (!CheckName(to, error)) return false;
  node->name = to;
  for (Connection& c : connections) {
    if (c.from == from) c.from = to;
    if (c.to == from) c.to = to;
  }
  return true;
}

bool Flow::Add(Node node, std::string* error) {
  if (nodes.size() >= kMaxNodes) {
    *error = "a flow holds at most " + std::to_string(kMaxNodes) + " nodes";
    return false;
  }
  if (!CheckName(node.name, error)) return false;
  nodes.push_back(std::move(node));
  return true;
}

bool Flow::Connect(const std::string& from, const std::string& to, const std::string& input,
                   std::string* error) {
  const Node* source = Find(from);
  const Node* target = Find(to);
  if (!source || !target) {
    *error = "no node is named \"" + (source ? to : from) + "\"";
    return false;
  }
  const std::vector<std::string> names = ImageInputNames(*target);
  if (std::find(names.begin(), names.end(), input) == names.end()) {
    std::string list;
    for (const std::string& n : names) list += (list.empty() ? "\"" : ", \"") + n + "\"";
    *error = "\"" + to + "\" (" + ClassOf(*target) + ") has no image input \"" + input + "\"" +
             (names.empty() ? std::string("; it takes no image") : "; its inputs: " + list);
    return false;
  }
  // A loop: `to` already feeds `from`, directly or through other nodes.
  // The path is found downstream from `to` and named in the message.
  std::unordered_map<std::string, std::vector<const std::string*>> feeds;
  for (const Connection& c : connections)
    if (!(c.to == to && c.input == input)) feeds[c.from].push_back(&c.to);
  std::vector<std::string> path;
  std::unordered_set<std::string> seen;
  std::function<bool(const std::string&)> reaches = [&](const std::string& at) {
    path.push_back(at);
    if (at == from) return true;
    if (seen.insert(at).second)
      if (auto it = feeds.find(at); it != feeds.end())
        for (const std::string* next : it->second)
          if (reaches(*next)) return true;
    path.pop_back();
    return false;
  };
  if (reaches(to)) {
    // A long loop is named by its first and last nodes.
    constexpr size_t kShown = 8;
    std::string loop = "\"" + from + "\"";
    for (size_t i = 0; i < path.size(); ++i) {
      if (path.size() > 2 * kShown && i == kShown)
        loop += " -> ... (" + std::to_string(path.size() - 2 * kShown) + " more)";
      if (path.size() > 2 * kShown && i >= kShown && i < path.size() - kShown) continue;
      loop += " -> \"" + path[i] + "\"";
    }
    *error = "connecting \"" + from + "\" to \"" + to + "\" input \"" + input +
             "\" would close a loop: " + loop;
    return false;
  }
  connections.erase(
      std::remove_if(connections.begin(), connections.end(),
                     [&](const Connection& c) { return c.to == to && c.input == input; }),
      connections.end());
  connections.push_back({from, to, input});
  return true;
}

bool Flow::Disconnect(const std::string& to, const std::string& input, std::string* error) {
  const auto it = std::find_if(connections.begin(), connections.end(),
                               [&](const Connection& c) { return c.to == to && c.input == input; });
  if (it == connections.end()) {
    *error = Find(to) ? "nothing feeds input \"" + input + "\" of \"" + to + "\""
                      : "no node is named \"" + to + "\"";
    return false;
  }
  connections.erase(it);
  return true;
}

bool Flow::Remove(const std::string& name, df::OperatorPtr* op, std::string* error) {
  const ptrdiff_t i = IndexOf(name);
  if (i < 0) {
    *error = "no node is named \"" + name + "\"";
    return false;
  }
  if (op) *op = std::move(nodes[size_t(i)].op);
  nodes.erase(nodes.begin() + i);
  connections.erase(
      std::remove_if(connections.begin(), connections.end(),
                     [&](const Connection& c) { return c.from == name || c.to == name; }),
      connections.end());
  return true;
}

const Node* Flow::Source(const Node& to, const std::string& input) const {
  for (const Connection& c : connections)
    if (c.to == to.name && c.input == input) return Find(c.from);
  return nullptr;
}

std::vector<size_t> Flow::Order() const {
  std::vector<size_t> order;
  std::vector<int> state(nodes.size(), 0);  // 0 new, 1 placed
  std::function<void(size_t)> place = [&](size_t i) {
    if (state[i]) return;
    state[i] = 1;  // Connect refuses loops, so marking before the sources is safe
    for (const Connection& c : connections)
      if (c.to == nodes[i].name)
        if (const ptrdiff_t s = IndexOf(c.from); s >= 0) place(size_t(s));
    order.push_back(i);
  };
  for (size_t i = 0; i < nodes.size(); ++i) place(i);
  return order;
}

std::vector<bool> Flow::Upstream(const std::vector<size_t>& targets) const {
  std::vector<bool> in(nodes.size(), false);
  std::vector<size_t> todo = targets;
  while (!todo.empty()) {
    const size_t i = todo.back();
    todo.pop_back();
    if (i >= nodes.size() || in[i]) continue;
    in[i] = true;
    for (const Connection& c : connections)
      if (c.to == nodes[i].name)
        if (const ptrdiff_t s = IndexOf(c.from); s >= 0) todo.push_back(size_t(s));
  }
  return in;
}

const Node* Flow::DefaultNode() const {
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
    if (it->kind == NodeKind::Write) return &*it;
  return nodes.empty() ? nullptr : &nodes.back();
}

std::vector<std::string> ImageInputNames(const Node& node, std::vector<bool>* required) {
  std::vector<std::string> names;
  std::vector<bool> need;
  switch (node.kind) {
    case NodeKind::Tool:
      if (node.op)
        for (const df::Input* input : ImageInputs(*node.op)) {
          names.push_back(input->Name());
          need.push_back(input->Required());
        }
      break;
    case NodeKind::Read:
      break;
    case NodeKind::Merge:
      names = {"B", "A"};  // B the background, A what goes over it
      need = {true, false};
      break;
    case NodeKind::Write:
      names = {"Image"};
      need = {true};
      break;
  }
  if (required) *required = need;
  return names;
}

std::string ClassOf(const Node& node) {
  switch (node.kind) {
    case NodeKind::Read:
      return kReadClass;
    case NodeKind::Merge:
      return kMergeClass;
    case NodeKind::Write:
      return kWriteClass;
    case NodeKind::Tool:
      break;
  }
  return node.op ? node.op->GetRegistry()->ClassName() : std::string();
}

namespace {
constexpr std::pair<MergeOperation, const char*> kMergeNames[] = {
    {MergeOperation::Over, "over"},
    {MergeOperation::Under, "under"},
    {MergeOperation::Plus, "plus"},
    {MergeOperation::Multiply, "multiply"},
    {MergeOperation::Screen, "screen"}};
constexpr std::pair<MissingFrame, const char*> kMissingNames[] = {
    {MissingFrame::Error, "error"},
    {MissingFrame::Black, "black"},
    {MissingFrame::Nearest, "nearest"}};
}  // namespace

const char* MergeOperationName(MergeOperation op) {
  for (const auto& [o, name] : kMergeNames)
    if (o == op) return name;
  return "?";
}

std::optional<MergeOperation> ParseMergeOperation(const std::string& text) {
  for (const auto& [o, name] : kMergeNames)
    if (text == name) return o;
  return std::nullopt;
}

const char* MissingFrameName(MissingFrame m) {
  for (const auto& [o, name] : kMissingNames)
    if (o == m) return name;
  return "?";
}

std::optional<MissingFrame> ParseMissingFrame(const std::string& text) {
  for (const auto& [o, name] : kMissingNames)
    if (text == name) return o;
  return std::nullopt;
}

}  // namespace vorn::flow
