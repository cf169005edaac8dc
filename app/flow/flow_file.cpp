#include "flow/flow_file.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "atomic_file.h"
#include "composition.h"
#include "file_bytes.h"
#include "flow/tool_record.h"
#include "frame_list.h"
#include "image_io.h"
#include "value_parse.h"

namespace vorn::flow {

namespace {

// Deeper nesting than a flow needs is refused before parsing, so that no
// file can make the parser or the value's destruction recurse deeply.
constexpr int kMaxDepth = 32;
constexpr size_t kMaxConnections = kMaxNodes * 8;

// Line and column of a byte offset, for messages.
std::string Place(const std::string& text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n')
      ++line, column = 1;
    else
      ++column;
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool CheckDepth(const std::string& text, std::string* error) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > kMaxDepth) {
        *error = Place(text, i) + ": nested deeper than " + std::to_string(kMaxDepth) + " levels";
        return false;
      }
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return true;
}

// Members of one object, read with the place for messages.
class Members {
 public:
  Members(const Json& object, std::string where) : j_(object), where_(std::move(where)) {}

  bool Only(std::initializer_list<const char*> known, std::string* error) const {
    for (const auto& [key, value] : j_.items()) {
      bool ok = false;
      for (const char* k : known) ok = ok || key == k;
      if (!ok) {
        std::string list;
        for (const char* k : known) list += (list.empty() ? "\"" : ", \"") + std::string(k) + "\"";
        *error = where_ + ": unknown member \"" + key + "\" (members: " + list + ")";
        return false;
      }
    }
    return true;
  }
  bool String(const char* key, bool required, std::string* out, std::string* error) const {
    if (!j_.contains(key)) return !required || Missing(key, "text", error);
    if (!j_[key].is_string()) return Wrong(key, "text", error);
    *out = j_[key].get<std::string>();
    return true;
  }
  bool Int(const char* key, bool required, int* out, std::string* error) const {
    if (!j_.contains(key)) return !required || Missing(key, "a whole number", error);
    const Json& v = j_[key];
    if (!v.is_number_integer() ||
        (v.is_number_unsigned() && v.get<uint64_t>() > uint64_t(INT_MAX)) ||
        (!v.is_number_unsigned() && (v.get<int64_t>() < INT_MIN || v.get<int64_t>() > INT_MAX)))
      return Wrong(key, "a whole number within ±2147483647", error);
    *out = int(v.get<int64_t>());
    return true;
  }
  bool Number(const char* key, double lo, double hi, double* out, std::string* error) const {
    if (!j_.contains(key)) return true;
    const Json& v = j_[key];
    if (!v.is_number() || !(v.get<double>() >= lo && v.get<double>() <= hi))
      return Wrong(key, "a number from " + FormatNumber(lo) + " to " + FormatNumber(hi), error);
    *out = v.get<double>();
    return true;
  }
  const std::string& Where() const { return where_; }

 private:
  bool Missing(const char* key, const std::string& what, std::string* error) const {
    *error = where_ + ": member \"" + key + "\" (" + what + ") is missing";
    return false;
  }
  bool Wrong(const char* key, const std::string& what, std::string* error) const {
    *error = where_ + ": \"" + key + "\" must be " + what;
    return false;
  }
  const Json& j_;
  std::string where_;
};

bool ParseNode(Host& host, const Json& j, const std::string& where, Node* node,
               std::string* error) {
  if (!j.is_object()) {
    *error = where + ": a node must be an object";
    return false;
  }
  Members m(j, where);
  std::string className;
  if (!m.String("name", true, &node->name, error) || !m.String("class", true, &className, error))
    return false;
  const std::string at = where + " \"" + node->name + "\"";
  Members n(j, at);
  if (className == kReadClass) {
    node->kind = NodeKind::Read;
    ReadSettings& r = node->read;
    std::string missing = MissingFrameName(r.missing);
    if (!n.Only({"name", "class", "file", "frameOffset", "colorspace", "layer", "missingFrame"},
                error) ||
        !n.String("file", true, &r.file, error) ||
        !n.Int("frameOffset", false, &r.frameOffset, error) ||
        !n.String("colorspace", false, &r.colourSpace, error) ||
        !n.String("layer", false, &r.layer, error) ||
        !n.String("missingFrame", false, &missing, error))
      return false;
    if (r.file.empty()) {
      *error = at + ": \"file\" is empty";
      return false;
    }
    auto m2 = ParseMissingFrame(missing);
    if (!m2) {
      *error = at + ": \"missingFrame\" must be \"error\", \"black\" or \"nearest\"";
      return false;
    }
    r.missing = *m2;
    return true;
  }
  if (className == kMergeClass) {
    node->kind = NodeKind::Merge;
    std::string operation = MergeOperationName(node->merge.operation);
    if (!n.Only({"name", "class", "operation", "mix"}, error) ||
        !n.String("operation", false, &operation, error) ||
        !n.Number("mix", 0, 1, &node->merge.mix, error))
      return false;
    auto op = ParseMergeOperation(operation);
    if (!op) {
      *error = at + ": \"operation\" must be over, under, plus, multiply or screen";
      return false;
    }
    node->merge.operation = *op;
    return true;
  }
  if (className == kWriteClass) {
    node->kind = NodeKind::Write;
    WriteSettings& w = node->write;
    if (!n.Only({"name", "class", "file", "compression", "bitDepth", "colorspace"}, error) ||
        !n.String("file", true, &w.file, error) ||
        !n.String("compression", false, &w.compression, error) ||
        !n.String("bitDepth", false, &w.bitDepth, error) ||
        !n.String("colorspace", false, &w.colourSpace, error))
      return false;
    if (w.file.empty()) {
      *error = at + ": \"file\" is empty";
      return false;
    }
    return true;
  }
  node->kind = NodeKind::Tool;
  if (!n.Only({"name", "class", "values"}, error)) return false;
  std::string why;
  df::Registry* registry = host.FindTool(className, &why);
  if (!registry) {
    *error = at + ": unknown class \"" + className +
             "\"; classes: Read, Merge, Write and the tools " + host.ToolListText();
    return false;
  }
  node->op =
      ToolFromValues(host, registry, j.contains("values") ? j["values"] : Json::object(), &why);
  if (!node->op) {
    *error = at + ": values: " + why;
    return false;
  }
  return true;
}

bool ParseShot(const Json& j, Shot* shot, std::string* error) {
  if (!j.is_object()) {
    *error = "\"shot\" must be an object";
    return false;
  }
  Members m(j, "shot");
  if (!m.Only({"first", "last", "simulationStart"}, error) ||
      !m.Int("first", true, &shot->first, error) || !m.Int("last", true, &shot->last, error))
    return false;
  shot->simulationStart = shot->first;
  return m.Int("simulationStart", false, &shot->simulationStart, error) && CheckShot(*shot, error);
}

}  // namespace

bool CheckShot(const Shot& shot, std::string* error) {
  if (shot.last < shot.first) {
    *error = "shot: \"last\" (" + std::to_string(shot.last) + ") is before \"first\" (" +
             std::to_string(shot.first) + ")";
    return false;
  }
  if ((long long)shot.last - shot.simulationStart + 1 > (long long)kMaxFrames) {
    *error = "shot: from " + std::to_string(shot.simulationStart) + " to " +
             std::to_string(shot.last) + " is more than " + std::to_string(kMaxFrames) + " frames";
    return false;
  }
  if (shot.simulationStart > shot.first) {
    *error = "shot: \"simulationStart\" (" + std::to_string(shot.simulationStart) +
             ") is after \"first\" (" + std::to_string(shot.first) + ")";
    return false;
  }
  return true;
}

bool LooksLikeFlowText(const std::vector<uint8_t>& bytes) {
  for (uint8_t b : bytes) {
    if (b == ' ' || b == '\t' || b == '\n' || b == '\r') continue;
    return b == '{';
  }
  return false;
}

bool ParseFlow(Host& host, const std::string& text, const std::string& where, Flow* flow,
               std::string* error) {
  std::string why;
  auto fail = [&](const std::string& message) {
    *error = where + ": " + message;
    return false;
  };
  if (!CheckDepth(text, &why)) return fail(why);
  Json j;
  try {
    j = Json::parse(text);
  } catch (const Json::parse_error& e) {
    std::string what = e.what();
    // The library's message ends with the detail after the last ": ".
    const size_t colon = what.rfind(": ");
    return fail(Place(text, e.byte > 0 ? e.byte - 1 : 0) + ": not valid JSON (" +
                (colon == std::string::npos ? what : what.substr(colon + 2)) + ")");
  }
  if (!j.is_object()) return fail("a flow file holds one JSON object");
  Members top(j, "flow");
  std::string format;
  int version = 0;
  if (!top.Only({"format", "version", "shot", "size", "nodes", "connections"}, &why) ||
      !top.String("format", true, &format, &why) || !top.Int("version", true, &version, &why))
    return fail(why);
  if (format != kFlowFormat)
    return fail("\"format\" is \"" + format + "\", not \"" + kFlowFormat + "\"");
  if (version < 1 || version > kFlowVersion)
    return fail("format version " + std::to_string(version) + "; this vorn reads version " +
                std::to_string(kFlowVersion) + " and earlier");
  *flow = Flow();
  if (j.contains("shot") && !ParseShot(j["shot"], &flow->shot, &why)) return fail(why);
  if (j.contains("size")) {
    const Json& s = j["size"];
    if (!s.is_array() || s.size() != 2 || !s[0].is_number_integer() || !s[1].is_number_integer() ||
        s[0].get<long long>() < 1 || s[1].get<long long>() < 1 ||
        s[0].get<long long>() > kMaxImageSide || s[1].get<long long>() > kMaxImageSide ||
        s[0].get<long long>() * s[1].get<long long>() > kMaxImagePixels)
      return fail("\"size\" must be [width, height], each 1 to " + std::to_string(kMaxImageSide) +
                  ", at most " + std::to_string(kMaxImagePixels) + " pixels");
    flow->size = {int(s[0].get<long long>()), int(s[1].get<long long>())};
  }
  if (!j.contains("nodes") || !j["nodes"].is_array()) return fail("\"nodes\" must be a list");
  const Json& nodes = j["nodes"];
  if (nodes.size() > kMaxNodes)
    return fail(std::to_string(nodes.size()) + " nodes; a flow holds at most " +
                std::to_string(kMaxNodes));
  for (size_t i = 0; i < nodes.size(); ++i) {
    const std::string at = "nodes[" + std::to_string(i) + "]";
    Node node;
    if (!ParseNode(host, nodes[i], at, &node, &why)) return fail(why);
    if (!flow->Add(std::move(node), &why)) return fail(at + ": " + why);
  }
  if (j.contains("connections")) {
    const Json& cs = j["connections"];
    if (!cs.is_array()) return fail("\"connections\" must be a list");
    if (cs.size() > kMaxConnections)
      return fail(std::to_string(cs.size()) + " connections; at most " +
                  std::to_string(kMaxConnections));
    for (size_t i = 0; i < cs.size(); ++i) {
      const std::string at = "connections[" + std::to_string(i) + "]";
      if (!cs[i].is_object()) return fail(at + ": a connection must be an object");
      Members m(cs[i], at);
      Connection c;
      if (!m.Only({"from", "to", "input"}, &why) || !m.String("from", true, &c.from, &why) ||
          !m.String("to", true, &c.to, &why) || !m.String("input", true, &c.input, &why))
        return fail(why);
      if (const Node* to = flow->Find(c.to); to && flow->Source(*to, c.input))
        return fail(at + ": \"" + c.to + "\" input \"" + c.input + "\" is connected twice");
      if (!flow->Connect(c.from, c.to, c.input, &why)) return fail(at + ": " + why);
    }
  }
  return true;
}

bool LoadFlow(Host& host, const std::string& path, Flow* flow, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, kMaxCompositionBytes, &bytes, error)) {
    *error = "cannot load " + path + ": " + *error;
    return false;
  }
  if (LooksLikeFlowText(bytes))
    return ParseFlow(host, std::string(bytes.begin(), bytes.end()), path, flow, error);
  Composition comp;
  if (!LoadComposition(host, path, true, &comp, error)) return false;
  *flow = Flow();
  // The shot settings the composition keeps: where its simulation starts and
  // the size of its built-in images.
  if (comp.shot.firstFrame)
    flow->shot.simulationStart = std::min(*comp.shot.firstFrame, flow->shot.first);
  if (comp.shot.size) flow->size = comp.shot.size;
  Node node;
  node.name = comp.op->GetRegistry()->Name();
  node.op = std::move(comp.op);
  flow->nodes.push_back(std::move(node));
  return true;
}

bool FlowText(Host& host, const Flow& flow, std::string* text, std::string* error) {
  Json j;
  j["format"] = kFlowFormat;
  j["version"] = kFlowVersion;
  j["shot"] = Json{{"first", flow.shot.first},
                   {"last", flow.shot.last},
                   {"simulationStart", flow.shot.simulationStart}};
  if (flow.size) j["size"] = Json::array({flow.size->first, flow.size->second});
  Json nodes = Json::array();
  for (const Node& node : flow.nodes) {
    Json n;
    n["name"] = node.name;
    n["class"] = ClassOf(node);
    switch (node.kind) {
      case NodeKind::Tool: {
        Json values;
        if (!ToolValues(host, *node.op, &values, error)) {
          *error = "node \"" + node.name + "\": " + *error;
          return false;
        }
        n["values"] = std::move(values);
        break;
      }
      case NodeKind::Read:
        n["file"] = node.read.file;
        n["frameOffset"] = node.read.frameOffset;
        n["colorspace"] = node.read.colourSpace;
        n["layer"] = node.read.layer;
        n["missingFrame"] = MissingFrameName(node.read.missing);
        break;
      case NodeKind::Merge:
        n["operation"] = MergeOperationName(node.merge.operation);
        n["mix"] = node.merge.mix;
        break;
      case NodeKind::Write:
        n["file"] = node.write.file;
        n["compression"] = node.write.compression;
        n["bitDepth"] = node.write.bitDepth;
        n["colorspace"] = node.write.colourSpace;
        break;
    }
    nodes.push_back(std::move(n));
  }
  j["nodes"] = std::move(nodes);
  Json connections = Json::array();
  for (const Connection& c : flow.connections)
    connections.push_back(Json{{"from", c.from}, {"to", c.to}, {"input", c.input}});
  j["connections"] = std::move(connections);
  *text = j.dump(2) + "\n";
  return true;
}

bool SaveFlow(Host& host, const Flow& flow, const std::string& path, std::string* error) {
  std::string text;
  return FlowText(host, flow, &text, error) &&
         WriteFileAtomically(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                             error);
}

}  // namespace vorn::flow
