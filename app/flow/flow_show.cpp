#include "flow/flow_show.h"

#include "composition.h"
#include "controls_model.h"
#include "value_parse.h"

namespace vorn::flow {

namespace {

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

std::string ValueWords(const df::Input& input) {
  const df::ValueState& s = input.State();
  // A button's keys of 1 are its presses.
  if (input.ControlKind() == kButtonKind && s.animated) {
    const std::vector<double> frames = PressFrames(s);
    if (frames.empty()) return "not pressed";
    std::string text = "pressed at frame";
    for (size_t i = 0; i < frames.size(); ++i)
      text += std::string(i ? ", " : " ") + FormatNumber(frames[i]);
    return text;
  }
  if (!s.animated || s.keys.empty()) return ValueText(&input, s.constant, input.ValueType());
  std::string text = "keyframes";
  for (size_t i = 0; i < s.keys.size(); ++i)
    text += std::string(i ? ", " : " ") + ValueText(&input, s.keys[i].v, input.ValueType()) +
            " @ " + FormatNumber(s.keys[i].time);
  return text;
}

}  // namespace

std::string DescribeFlow(const Flow& flow, const std::string& file) {
  std::string out = "flow         " + file + ": " + std::to_string(flow.nodes.size()) + " nodes, " +
                    std::to_string(flow.connections.size()) + " connections\n";
  out += "shot         frames " + std::to_string(flow.shot.first) + " to " +
         std::to_string(flow.shot.last) + ", sequential tools simulate from frame " +
         std::to_string(flow.shot.simulationStart) + "\n";
  out += "image size   " +
         (flow.size ? std::to_string(flow.size->first) + " x " + std::to_string(flow.size->second)
                    : std::string("the first Read's, else 1280 x 720")) +
         " for built-in images\n";
  for (size_t i : flow.Order()) {
    const Node& node = flow.nodes[i];
    out += "\n" + Quoted(node.name) + "  ";
    switch (node.kind) {
      case NodeKind::Read: {
        const ReadSettings& r = node.read;
        out += "Read " + Quoted(r.file);
        if (r.frameOffset)
          out += ", file frame = frame " + std::string(r.frameOffset > 0 ? "+ " : "- ") +
                 std::to_string(std::abs((long long)r.frameOffset));
        out += ", colour space " +
               (r.colourSpace.empty() ? std::string("by the file's type") : r.colourSpace);
        if (!r.layer.empty()) out += ", layer " + Quoted(r.layer);
        out +=
            ", a missing frame " +
            std::string(r.missing == MissingFrame::Error   ? "is an error"
                        : r.missing == MissingFrame::Black ? "reads as black"
                                                           : "reads as the nearest frame on disk") +
            "\n";
        break;
      }
      case NodeKind::Merge:
        out += "Merge: A " + std::string(MergeOperationName(node.merge.operation)) + " B, mix " +
               FormatNumber(node.merge.mix) + "\n";
        break;
      case NodeKind::Write: {
        const WriteSettings& w = node.write;
        out += "Write " + Quoted(w.file);
        if (!w.compression.empty()) out += ", compression " + w.compression;
        if (!w.bitDepth.empty()) out += ", bit depth " + w.bitDepth;
        if (!w.colourSpace.empty()) out += ", colour space " + w.colourSpace;
        out += "\n";
        break;
      }
      case NodeKind::Tool: {
        out += "tool " + node.op->GetRegistry()->Name() + " (" + ClassOf(node) + ")" +
               (node.Sequential() ? ", steps through every frame of the shot" : "") + "\n";
        int changed = 0;
        for (const df::Input* input : ControlInputs(*node.op)) {
          if (input->ValueType() != df::kTypeNumber && input->ValueType() != df::kTypePoint)
            continue;
          if (input->State() == input->DefaultState()) continue;
          ++changed;
          out += "    " + Quoted(input->Name()) + " = " + ValueWords(*input) + "\n";
        }
        if (!changed) out += "    every control at its default\n";
        break;
      }
    }
    std::vector<bool> required;
    const std::vector<std::string> inputs = ImageInputNames(node, &required);
    for (size_t k = 0; k < inputs.size(); ++k) {
      const Node* source = flow.Source(node, inputs[k]);
      out += "    input " + Quoted(inputs[k]) + " <- " +
             (source        ? Quoted(source->name)
              : required[k] ? std::string("the built-in image")
                            : std::string("nothing")) +
             "\n";
    }
  }
  const Node* last = flow.DefaultNode();
  out += "\nrendering writes ";
  std::string writes;
  for (const Node& node : flow.nodes)
    if (node.kind == NodeKind::Write)
      writes +=
          (writes.empty() ? "" : ", ") + Quoted(node.write.file) + " (" + Quoted(node.name) + ")";
  out += writes.empty() ? std::string("nothing without --out") : writes;
  if (last) out += "; --out alone writes " + Quoted(last->name);
  return out + "\n";
}

}  // namespace vorn::flow
