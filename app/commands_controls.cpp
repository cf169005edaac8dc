// vorn controls TOOL: the tool's pages and controls in declaration order,
// with kinds, ranges, defaults, items, on-image kinds, links and
// notification, as text or JSON.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "controls_model.h"
#include "json_document.h"

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

// The members that name an input or output, first in its object: its
// caption and its id, as text and as a number.
JsonDoc Named(const std::string& caption, uint32_t id) {
  return {{"caption", JsonString(caption)}, {"id", IdText(id)}, {"idValue", id}};
}

JsonDoc OptionalNumber(const std::optional<double>& v) {
  return v ? JsonNumber(*v) : JsonDoc();
}

JsonDoc ControlJson(const df::Operator& op, const df::Input& in) {
  const bool named = in.Page() >= 0 && in.Page() < int(op.Pages().size());
  const df::ValueState d = in.DefaultState();
  JsonDoc c = Named(in.Name(), in.Id());
  c["page"] = JsonString(named ? op.Pages()[size_t(in.Page())] : "");
  c["pageIndex"] = named ? in.Page() : -1;
  c["type"] = df::FourCCText(in.ValueType());
  c["kind"] = KindText(in);
  c["control"] = in.ControlKind() ? df::FourCCText(in.ControlKind()) : "";
  c["onImage"] = in.PreviewKind() ? JsonDoc(df::FourCCText(in.PreviewKind())) : JsonDoc();
  c["minAllowed"] = OptionalNumber(in.MinAllowed());
  c["maxAllowed"] = OptionalNumber(in.MaxAllowed());
  c["minScale"] = OptionalNumber(in.MinScale());
  c["maxScale"] = OptionalNumber(in.MaxScale());
  c["default"] = in.ValueType() == df::kTypePoint
                     ? JsonDoc::array({JsonNumber(d.constant[0]), JsonNumber(d.constant[1])})
                     : JsonNumber(d.constant[0]);
  JsonDoc items = JsonDoc::array();
  for (const std::string& item : in.ComboItems()) items.push_back(JsonString(item));
  c["items"] = std::move(items);
  c["link"] = in.Link() ? JsonString(in.Link()->Name()) : JsonDoc();
  c["linkId"] = in.Link() ? JsonDoc(IdText(in.Link()->Id())) : JsonDoc();
  // Three channels with the same group number form one colour.
  const auto group = in.Tags().Integer(df::INP_ColorGroup);
  if (in.ControlKind() == kColourKind && group) {
    const char* name = in.Tags().String(df::INP_GroupName);
    c["colourGroup"] = {{"name", JsonString(name ? name : "")},
                        {"number", *group},
                        {"channel", in.Tags().Integer(df::INP_ColorChannel).value_or(0)}};
  } else {
    c["colourGroup"] = nullptr;
  }
  c["notifies"] = in.Notifies();
  return c;
}

}  // namespace

std::string ControlsJson(const df::Registry& r, const df::Operator& op) {
  JsonDoc pages = JsonDoc::array(), controls = JsonDoc::array(), images = JsonDoc::array(),
          outputs = JsonDoc::array();
  for (const std::string& p : op.Pages()) pages.push_back(JsonString(p));
  for (const df::Input* in : ControlInputs(op)) controls.push_back(ControlJson(op, *in));
  for (const df::Input* in : ImageInputs(op)) {
    JsonDoc image = Named(in->Name(), in->Id());
    image["required"] = in->Required();
    images.push_back(std::move(image));
  }
  for (const auto& out : op.Outputs()) {
    JsonDoc output = Named(out->Name(), out->Id());
    output["type"] = df::FourCCText(out->ValueType());
    outputs.push_back(std::move(output));
  }
  return JsonText({{"name", JsonString(r.Name())},
                   {"class", JsonString(r.ClassName())},
                   {"sequential", (op.objFlags & kObjFlagSequential) != 0},
                   {"pages", std::move(pages)},
                   {"controls", std::move(controls)},
                   {"images", std::move(images)},
                   {"outputs", std::move(outputs)}});
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
