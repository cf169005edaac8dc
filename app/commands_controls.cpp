// vorn controls TOOL: the tool's pages and controls in declaration order,
// with kinds, ranges, defaults, items, on-image kinds, links and
// notification, as text or JSON.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "controls_model.h"
#include "json_writer.h"

namespace vorn {
namespace {

std::string IdText(uint32_t id) {
  return df::FourCCText(id);
}

std::string Count(size_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string TypeText(uint32_t type) {
  if (type == df::kTypeImage) return "image";
  if (type == df::kTypeNumber) return "number";
  if (type == df::kTypePoint) return "point";
  return df::FourCCText(type);
}

std::string AllowedText(const df::Input& in) {
  const auto lo = in.MinAllowed(), hi = in.MaxAllowed();
  if (lo && hi) return "allowed " + FormatNumber(*lo) + " to " + FormatNumber(*hi);
  if (lo) return "allowed " + FormatNumber(*lo) + " or more";
  if (hi) return "allowed " + FormatNumber(*hi) + " or less";
  return "";
}

std::string ScaleText(const df::Input& in) {
  const auto lo = in.MinScale(), hi = in.MaxScale();
  if (lo && hi) return "range " + FormatNumber(*lo) + " to " + FormatNumber(*hi);
  if (hi) return "range up to " + FormatNumber(*hi);
  if (lo) return "range from " + FormatNumber(*lo);
  return "";
}

std::string DefaultText(const df::Input& in) {
  const df::ValueState d = in.DefaultState();
  return "default " + ValueText(&in, d.constant, in.ValueType());
}

std::string Details(const df::Input& in) {
  std::vector<std::string> parts;
  const uint32_t kind = in.ControlKind();
  if (kind != kButtonKind) {
    if (auto a = AllowedText(in); !a.empty()) parts.push_back(a);
    if (auto s = ScaleText(in); !s.empty()) parts.push_back(s);
    parts.push_back(DefaultText(in));
  }
  if (kind == kComboKind) {
    std::string items = "items";
    const auto names = in.ComboItems();
    for (size_t i = 0; i < names.size(); ++i)
      items += (i ? ", " : " ") + std::to_string(i) + " \"" + names[i] + "\"";
    parts.push_back(items);
  }
  if (in.PreviewKind() != 0) parts.push_back("on-image " + PreviewKindName(in.PreviewKind()));
  if (in.Link() != nullptr) parts.push_back("linked to \"" + in.Link()->Name() + "\"");
  if (in.Notifies()) parts.push_back("notifies");
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "; ") + p;
  return out;
}

std::string KindText(const df::Input& in) {
  if (in.ValueType() == df::kTypePoint && in.ControlKind() == 0) return "point";
  return ControlKindName(in.ControlKind());
}

void PrintText(const df::Registry& r, const df::Operator& op) {
  const auto controls = ControlInputs(op);
  const auto images = ImageInputs(op);
  size_t width = 8;
  for (const auto& in : op.Inputs()) width = std::max(width, in->Name().size());
  for (const auto& out : op.Outputs()) width = std::max(width, out->Name().size());
  const int w = int(width);

  std::printf("%s  (%s): %s on %s, %s, %s\n", r.Name().c_str(), r.ClassName().c_str(),
              Count(controls.size(), "control").c_str(), Count(op.Pages().size(), "page").c_str(),
              Count(images.size(), "image input").c_str(),
              Count(op.Outputs().size(), "output").c_str());
  int page = -2;
  for (const df::Input* in : controls) {
    if (in->Page() != page) {
      page = in->Page();
      const bool named = page >= 0 && page < int(op.Pages().size());
      std::printf("\nPage \"%s\"\n", named ? op.Pages()[size_t(page)].c_str() : "");
    }
    std::printf("  %-*s  %-4s  %-9s  %s\n", w, in->Name().c_str(), IdText(in->Id()).c_str(),
                KindText(*in).c_str(), Details(*in).c_str());
  }
  if (!images.empty()) std::printf("\nImage inputs\n");
  for (const df::Input* in : images)
    std::printf("  %-*s  %s  %s\n", w, in->Name().c_str(), IdText(in->Id()).c_str(),
                in->Required() ? "required" : "optional");
  if (!op.Outputs().empty()) std::printf("\nOutputs\n");
  for (const auto& out : op.Outputs())
    std::printf("  %-*s  %s  %s\n", w, out->Name().c_str(), IdText(out->Id()).c_str(),
                TypeText(out->ValueType()).c_str());
}

// The members that name an input or output: its caption and its id, as
// text and as a number.
JsonWriter& Named(JsonWriter& json, const std::string& caption, uint32_t id) {
  return json.Key("caption")
      .String(caption)
      .Key("id")
      .String(IdText(id))
      .Key("idValue")
      .Integer(id);
}

}  // namespace

std::string ControlsJson(const df::Registry& r, const df::Operator& op) {
  JsonWriter json;
  json.BeginObject().Key("name").String(r.Name()).Key("class").String(r.ClassName());
  json.Key("sequential").Bool((op.objFlags & kObjFlagSequential) != 0);
  json.Key("pages").BeginArray();
  for (const std::string& p : op.Pages()) json.String(p);
  json.EndArray();
  json.Key("controls").BeginArray();
  for (const df::Input* in : ControlInputs(op)) {
    const bool named = in->Page() >= 0 && in->Page() < int(op.Pages().size());
    const df::ValueState d = in->DefaultState();
    Named(json.BeginObject(), in->Name(), in->Id())
        .Key("page")
        .String(named ? op.Pages()[size_t(in->Page())] : "")
        .Key("pageIndex")
        .Integer(named ? in->Page() : -1)
        .Key("type")
        .String(df::FourCCText(in->ValueType()))
        .Key("kind")
        .String(KindText(*in))
        .Key("control")
        .String(in->ControlKind() ? df::FourCCText(in->ControlKind()) : "");
    json.Key("onImage");
    if (in->PreviewKind())
      json.String(df::FourCCText(in->PreviewKind()));
    else
      json.Null();
    json.Key("minAllowed")
        .OptionalNumber(in->MinAllowed())
        .Key("maxAllowed")
        .OptionalNumber(in->MaxAllowed())
        .Key("minScale")
        .OptionalNumber(in->MinScale())
        .Key("maxScale")
        .OptionalNumber(in->MaxScale());
    json.Key("default");
    if (in->ValueType() == df::kTypePoint)
      json.BeginArray().Number(d.constant[0]).Number(d.constant[1]).EndArray();
    else
      json.Number(d.constant[0]);
    json.Key("items").BeginArray();
    for (const std::string& item : in->ComboItems()) json.String(item);
    json.EndArray();
    json.Key("link");
    if (in->Link())
      json.String(in->Link()->Name());
    else
      json.Null();
    json.Key("linkId");
    if (in->Link())
      json.String(IdText(in->Link()->Id()));
    else
      json.Null();
    // Three channels with the same group number form one colour.
    json.Key("colourGroup");
    const auto group = in->Tags().Integer(df::INP_ColorGroup);
    if (in->ControlKind() == kColourKind && group) {
      const char* name = in->Tags().String(df::INP_GroupName);
      json.BeginObject()
          .Key("name")
          .String(name ? name : "")
          .Key("number")
          .Integer(*group)
          .Key("channel")
          .Integer(in->Tags().Integer(df::INP_ColorChannel).value_or(0))
          .EndObject();
    } else {
      json.Null();
    }
    json.Key("notifies").Bool(in->Notifies()).EndObject();
  }
  json.EndArray();
  json.Key("images").BeginArray();
  for (const df::Input* in : ImageInputs(op))
    Named(json.BeginObject(), in->Name(), in->Id())
        .Key("required")
        .Bool(in->Required())
        .EndObject();
  json.EndArray();
  json.Key("outputs").BeginArray();
  for (const auto& out : op.Outputs())
    Named(json.BeginObject(), out->Name(), out->Id())
        .Key("type")
        .String(df::FourCCText(out->ValueType()))
        .EndObject();
  json.EndArray().EndObject();
  return json.Text();
}

int RunControls(Host& host, const ControlsOptions& options) {
  std::string error;
  df::Registry* r = host.FindTool(options.tool, &error);
  if (!r) {
    PrintError(error);
    return kExitUsage;
  }
  df::OperatorPtr op = host.Doc().CreateOperator(r, &error);
  if (!op) {
    PrintError(error);
    return kExitUsage;
  }
  if (options.json)
    std::fputs(ControlsJson(*r, *op).c_str(), stdout);
  else
    PrintText(*r, *op);
  std::fflush(stdout);
  return kExitOk;
}

Command AddControlsCommand(CLI::App& app) {
  auto options = std::make_shared<ControlsOptions>();
  CLI::App* cmd = app.add_subcommand("controls", "List a tool's pages and controls");
  cmd->add_option("tool", options->tool, "Display name or registry class name")->required();
  cmd->add_flag("--json", options->json, "Write the list as JSON");
  return {cmd, [options](Host& host, bool) { return RunControls(host, *options); }};
}

}  // namespace vorn
