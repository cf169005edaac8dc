// vorn show FILE: a saved composition in words — the tool, every stored value
// with its keyframes, the button presses with their frames, the shot it was
// made for, and the trailer.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "composition.h"
#include "controls_model.h"
#include "json_writer.h"

namespace vorn {
namespace {

std::string TrailerText(uint32_t w) {
  const std::string text = df::FourCCText(w);
  return text == df::HexText(w) ? df::HexText(w) : df::HexText(w) + " (\"" + text + "\")";
}

std::string TypeName(uint32_t type) {
  if (type == df::kTypeNumber) return "number";
  if (type == df::kTypePoint) return "point";
  return df::FourCCText(type);
}

struct Press {
  const df::Input* button;
  double frame;
};

// Every press of every button, in frame order (buttons in declaration order
// at the same frame).
std::vector<Press> Presses(const df::Operator* op) {
  std::vector<Press> out;
  if (!op) return out;
  for (const df::Input* in : ControlInputs(*op))
    if (in->ControlKind() == kButtonKind)
      for (double f : PressFrames(in->State())) out.push_back({in, f});
  std::stable_sort(out.begin(), out.end(),
                   [](const Press& a, const Press& b) { return a.frame < b.frame; });
  return out;
}

std::string ShotText(const ShotSettings& shot) {
  std::string text;
  auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (shot.firstFrame) add("first frame " + std::to_string(*shot.firstFrame));
  if (shot.size)
    add("built-in images " + std::to_string(shot.size->first) + " x " +
        std::to_string(shot.size->second));
  if (shot.aspect) add("pixel aspect " + FormatNumber(*shot.aspect));
  return text.empty() ? "not recorded" : text;
}

}  // namespace

int RunShow(Host& host, const ShowOptions& options) {
  // Whatever `render --comp` refuses is refused here too, for the same reason.
  Composition comp;
  std::string error;
  if (!LoadComposition(host, options.file, false, &comp, &error)) {
    PrintError(error);
    return kExitUsage;
  }
  for (const std::string& line : AdjustedValues(comp)) PrintWarning(line);
  const df::SavedRecord& record = comp.record;
  df::Registry* r = comp.op ? comp.op->GetRegistry() : nullptr;
  const df::OperatorPtr& op = comp.op;
  auto inputOf = [&](uint32_t id) -> const df::Input* { return op ? op->FindInput(id) : nullptr; };
  const std::vector<Press> presses = Presses(op.get());
  const ShotSettings& shot = comp.shot;

  if (options.json) {
    JsonWriter json;
    json.BeginObject().Key("file").String(options.file).Key("bytes").Integer((long long)comp.bytes);
    json.Key("classId").String(df::HexText(record.classId));
    json.Key("tool");
    if (r)
      json.String(r->Name());
    else
      json.Null();
    json.Key("class");
    if (r)
      json.String(r->ClassName());
    else
      json.Null();
    json.Key("values").BeginArray();
    for (const df::SavedValue& v : record.values) {
      const df::Input* input = inputOf(v.id);
      json.BeginObject().Key("id").String(df::FourCCText(v.id)).Key("caption");
      if (input)
        json.String(input->Name());
      else
        json.Null();
      json.Key("type").String(TypeName(v.type)).Key("animated").Bool(v.state.animated);
      json.Key("constant");
      if (v.type == df::kTypePoint)
        json.BeginArray().Number(v.state.constant[0]).Number(v.state.constant[1]).EndArray();
      else
        json.Number(v.state.constant[0]);
      json.Key("keys").BeginArray();
      for (const df::Keyframe& k : v.state.keys) {
        json.BeginObject().Key("frame").Number(k.time).Key("value");
        if (v.type == df::kTypePoint)
          json.BeginArray().Number(k.v[0]).Number(k.v[1]).EndArray();
        else
          json.Number(k.v[0]);
        json.EndObject();
      }
      json.EndArray().EndObject();
    }
    json.EndArray();
    json.Key("presses").BeginArray();
    for (const Press& p : presses)
      json.BeginObject()
          .Key("id")
          .String(df::FourCCText(p.button->Id()))
          .Key("caption")
          .String(p.button->Name())
          .Key("frame")
          .Number(p.frame)
          .EndObject();
    json.EndArray();
    json.Key("shot").BeginObject().Key("firstFrame");
    if (shot.firstFrame)
      json.Integer(*shot.firstFrame);
    else
      json.Null();
    json.Key("size");
    if (shot.size)
      json.BeginArray().Integer(shot.size->first).Integer(shot.size->second).EndArray();
    else
      json.Null();
    json.Key("aspect");
    if (shot.aspect)
      json.Number(*shot.aspect);
    else
      json.Null();
    json.EndObject();
    json.Key("trailer")
        .BeginArray()
        .String(df::HexText(record.trailer[0]))
        .String(df::HexText(record.trailer[1]))
        .EndArray();
    // Kept for readers of earlier output: a record with trailing data is now refused.
    json.Key("trailingBytes").Bool(false).EndObject();
    std::fputs(json.Text().c_str(), stdout);
    return kExitOk;
  }

  std::printf("composition  %s (%zu bytes)\n", options.file.c_str(), comp.bytes);
  if (r)
    std::printf("tool         %s  (%s), class id %s\n", r->Name().c_str(), r->ClassName().c_str(),
                df::HexText(record.classId).c_str());
  else
    std::printf("tool         class id %s (no loaded plug-in registers it)\n",
                df::HexText(record.classId).c_str());
  std::printf("values       %zu\n", record.values.size());
  size_t width = 4;
  for (const df::SavedValue& v : record.values)
    if (const df::Input* input = inputOf(v.id)) width = std::max(width, input->Name().size());
  for (const df::SavedValue& v : record.values) {
    const df::Input* input = inputOf(v.id);
    std::string text;
    if (v.state.animated && !v.state.keys.empty()) {
      text = "keyframes:";
      for (size_t i = 0; i < v.state.keys.size(); ++i) {
        const df::Keyframe& k = v.state.keys[i];
        text += std::string(i ? "," : "") + " " + ValueText(input, k.v, v.type) + " @ " +
                FormatNumber(k.time);
      }
    } else {
      text = ValueText(input, v.state.constant, v.type);
      if (v.state.animated) text += " (animated, no keys yet)";
    }
    std::printf("  %-4s  %-*s  %-6s  %s\n", df::FourCCText(v.id).c_str(), int(width),
                input ? input->Name().c_str() : "?", TypeName(v.type).c_str(), text.c_str());
  }
  std::printf("presses      %zu\n", presses.size());
  for (const Press& p : presses)
    std::printf("  %-4s  %-*s  at frame %s\n", df::FourCCText(p.button->Id()).c_str(), int(width),
                p.button->Name().c_str(), FormatNumber(p.frame).c_str());
  std::printf("shot         %s\n", ShotText(shot).c_str());
  std::printf("trailer      %s %s\n", TrailerText(record.trailer[0]).c_str(),
              TrailerText(record.trailer[1]).c_str());
  std::fflush(stdout);
  return kExitOk;
}

Command AddShowCommand(CLI::App& app) {
  auto options = std::make_shared<ShowOptions>();
  CLI::App* cmd = app.add_subcommand("show", "Describe a saved composition");
  cmd->add_option("file", options->file, "Composition file")->required();
  cmd->add_flag("--json", options->json, "Write the description as JSON");
  return {cmd, [options](Host& host, bool) { return RunShow(host, *options); }};
}

}  // namespace vorn
