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
#include "flow/flow_file.h"
#include "flow/flow_run.h"
#include "flow/flow_show.h"
#include "json_document.h"

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

// A flow: in words, or with --json its text as vorn writes it.
int ShowFlow(Host& host, const ShowOptions& options) {
  flow::Flow loaded;
  std::string error, text;
  if (!flow::LoadFlow(host, options.file, &loaded, &error)) {
    PrintError(error);
    return kExitUsage;
  }
  if (options.json && !flow::FlowText(host, loaded, &text, &error)) {
    PrintError(error);
    return kExitFailed;
  }
  std::fputs((options.json ? text : flow::DescribeFlow(loaded, options.file)).c_str(), stdout);
  std::fflush(stdout);
  return kExitOk;
}

int RunShow(Host& host, const ShowOptions& options) {
  if (flow::IsFlowFile(options.file)) return ShowFlow(host, options);
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
    auto caption = [](const auto* named) { return named ? JsonString(named->Name()) : JsonDoc(); };
    auto value = [&](uint32_t type, const double* v) {
      return type == df::kTypePoint ? JsonDoc::array({JsonNumber(v[0]), JsonNumber(v[1])})
                                    : JsonNumber(v[0]);
    };
    JsonDoc values = JsonDoc::array();
    for (const df::SavedValue& v : record.values) {
      JsonDoc keys = JsonDoc::array();
      for (const df::Keyframe& k : v.state.keys)
        keys.push_back({{"frame", JsonNumber(k.time)}, {"value", value(v.type, k.v)}});
      values.push_back({{"id", df::FourCCText(v.id)},
                        {"caption", caption(inputOf(v.id))},
                        {"type", TypeName(v.type)},
                        {"animated", v.state.animated},
                        {"constant", value(v.type, v.state.constant)},
                        {"keys", std::move(keys)}});
    }
    JsonDoc pressList = JsonDoc::array();
    for (const Press& p : presses)
      pressList.push_back({{"id", df::FourCCText(p.button->Id())},
                           {"caption", JsonString(p.button->Name())},
                           {"frame", JsonNumber(p.frame)}});
    auto optionalNumber = [](const auto& v) { return v ? JsonNumber(*v) : JsonDoc(); };
    const JsonDoc shotJson = {
        {"firstFrame", optionalNumber(shot.firstFrame)},
        {"size", shot.size ? JsonDoc::array({shot.size->first, shot.size->second}) : JsonDoc()},
        {"aspect", optionalNumber(shot.aspect)}};
    const JsonDoc json = {
        {"file", JsonString(options.file)},
        {"bytes", comp.bytes},
        {"classId", df::HexText(record.classId)},
        {"tool", caption(r)},
        {"class", r ? JsonString(r->ClassName()) : JsonDoc()},
        {"values", std::move(values)},
        {"presses", std::move(pressList)},
        {"shot", shotJson},
        {"trailer",
         JsonDoc::array({df::HexText(record.trailer[0]), df::HexText(record.trailer[1])})},
        // Kept for readers of earlier output: a record with trailing data is now refused.
        {"trailingBytes", false}};
    std::fputs(JsonText(json).c_str(), stdout);
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
  CLI::App* cmd = app.add_subcommand("show", "Describe a saved composition or flow");
  cmd->add_option("file", options->file, "Composition file")->required();
  cmd->add_flag("--json", options->json, "Write the description as JSON");
  return {cmd, [options](Host& host, bool) { return RunShow(host, *options); }};
}

}  // namespace vorn
