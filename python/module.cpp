// The `vorn` Python module: the tools as operators with numpy images in and
// out, and flows of them (flow.h), on the same runtime, plug-ins, frame
// driver and flow host as `vorn render`.
//
// Plug-ins are looked for in the folders of VORN_PLUGIN_PATH when it is set,
// else beside the module: ../lib/vorn (the build tree, where the module is
// build/<preset>/python) and .. (the installed tree, where it is
// lib/vorn/python).
#include <dlfcn.h>
#include <pybind11/stl.h>

#include <cstdlib>
#include <filesystem>

#include "composition.h"
#include "flow.h"
#include "flow/flow_run.h"
#include "plugin_paths.h"
#include "render_options.h"
#include "tool.h"

namespace vorn::py {

namespace {

std::string ModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&ModulePath), &info) == 0 || !info.dli_fname) return {};
  std::error_code ec;
  return std::filesystem::canonical(info.dli_fname, ec).string();
}

std::vector<std::string> gProblems;  // of loading the plug-ins, warned about once

}  // namespace

Host& TheHost() {
  // Made once and kept to the end of the process: operators Python still
  // holds at exit must not outlive the libraries whose code they run.
  static Host* host = [] {
    auto* h = new Host;
    const std::string self = ModulePath();
    const PluginSearch search =
        PluginFolders({}, std::getenv("VORN_PLUGIN_PATH"),
                      std::filesystem::path(self).parent_path().string(), {"../lib/vorn", ".."});
    std::string error;
    std::vector<std::string> problems;
    if (!h->LoadPlugins(search, true, &error, &problems)) problems.push_back(error);
    gProblems = std::move(problems);
    return h;
  }();
  return *host;
}

void WarnPluginProblems() {
  std::vector<std::string> problems;
  problems.swap(gProblems);
  Warn(problems);
}

namespace {

std::shared_ptr<Tool> MakeTool(const std::string& name) {
  Host& host = TheHost();
  WarnPluginProblems();
  std::string error;
  df::Registry* registry = host.FindTool(name, &error);
  if (!registry) throw pyb::value_error(error);
  return std::make_shared<Tool>(registry);
}

// Frames first..last of an operator, one array each; sequential tools step
// every frame from the shot's start.
class FrameRange {
 public:
  FrameRange(std::shared_ptr<Tool> tool, int first, int last, std::optional<int> shotStart,
             RenderOptions options)
      : tool_(std::move(tool)),
        first_(first),
        steps_(tool_->Steps(first, last, shotStart)),
        options_(std::move(options)) {}

  pyb::object Next() {
    while (next_ < steps_.size()) {
      const int frame = steps_[next_];
      if (!driver_) driver_ = tool_->Bind(options_, frame);
      ++next_;
      pyb::object out = tool_->RenderStep(*driver_, frame, options_, frame >= first_);
      if (!out.is_none()) return out;
    }
    driver_.reset();
    options_.inputs = pyb::dict();
    throw pyb::stop_iteration();
  }
  size_t Remaining() const {
    size_t n = 0;
    for (size_t i = next_; i < steps_.size(); ++i) n += steps_[i] >= first_;
    return n;
  }

 private:
  std::shared_ptr<Tool> tool_;
  int first_;
  std::vector<int> steps_;
  size_t next_ = 0;
  RenderOptions options_;
  std::shared_ptr<FrameDriver> driver_;
};

}  // namespace

PYBIND11_MODULE(vorn, m) {
  m.doc() =
      "The vorn tools from Python: operators with control values, keys, presets and buttons "
      "as `vorn render` takes them, and flows of them, rendering frames to numpy arrays "
      "(H x W x 4, RGBA, premultiplied).";

  m.def(
      "tools",
      [] {
        Host& host = TheHost();
        WarnPluginProblems();
        std::vector<std::string> names;
        for (df::Registry* r : host.Tools()) names.push_back(r->Name());
        return names;
      },
      "The names of the tools the loaded plug-ins register, in name order.");
  m.def(
      "plugin_folders", [] { return TheHost().Search().folders; },
      "The folders plug-ins were looked for in: VORN_PLUGIN_PATH's, else those beside the "
      "module.");

  pyb::class_<Tool, std::shared_ptr<Tool>> tool(m, "Tool", R"(An operator of one tool.

Tool(name) makes a new operator with the tool's default values; the name is the
tool's display or class name (case is ignored when only one tool matches).)");
  tool.def(pyb::init(&MakeTool), pyb::arg("name"))
      .def_property_readonly("name", &Tool::Name, "The tool's display name.")
      .def_property_readonly("class_name", &Tool::ClassName, "The tool's class name.")
      .def_property_readonly("sequential", &Tool::Sequential,
                             "Whether each frame depends on the frames simulated before it.")
      .def_property_readonly(
          "controls", &Tool::Controls,
          "The tool's controls as `vorn controls --json` describes them (a dict).")
      .def_property_readonly("image_inputs", &Tool::ImageInputCaptions,
                             "Captions of the tool's image inputs, in its order.")
      .def_property_readonly("presets", &Tool::Presets,
                             "Items of the tool's preset combo (empty without one).")
      .def("__setitem__", &Tool::Set, pyb::arg("caption"), pyb::arg("value"),
           "Sets a control as `vorn render --set CAPTION=VALUE` does: a number, a bool, an "
           "(x, y) point, a combo item's index or text, or keyframes as text "
           "(\"0@0,1@10\"). Raises KeyError for an unknown caption, ValueError for a value the "
           "control does not take.")
      .def(
          "__getitem__", [](const Tool& t, const std::string& c) { return t.Get(c, 0.0); },
          pyb::arg("caption"), "The control's value at frame 0.")
      .def("value", &Tool::Get, pyb::arg("caption"), pyb::arg("frame") = 0.0,
           "The control's value at a frame: a float, an int (combo, check box) or (x, y).")
      .def("set_key", &Tool::SetKey, pyb::arg("caption"), pyb::arg("frame"), pyb::arg("value"),
           "Adds or replaces the key at `frame`, keeping the control's other keys.")
      .def("press", &Tool::Press, pyb::arg("caption"), pyb::arg("frame") = pyb::none(),
           "Presses a button at `frame` (`--set CAPTION=1@FRAME`); without a frame, at the "
           "next frame rendered, as `--set CAPTION=1` presses at the first frame of a run.")
      .def("preset", &Tool::Preset, pyb::arg("item"),
           "Chooses a demonstration preset by index or item text, as `--preset` does.")
      .def("undo", &Tool::Undo, "Reverts the last change; False when there is none.")
      .def("redo", &Tool::Redo, "Repeats the last change undone; False when there is none.")
      .def("save", &Tool::Save, pyb::arg("path"),
           "Writes the operator as a composition file (as `vorn render --save` does).")
      .def(
          "render",
          [](const std::shared_ptr<Tool>& t, int frame, const pyb::object& inputs,
             const pyb::object& size, bool linear, const pyb::object& workers) {
            RenderOptions o = OptionsOf(inputs, size, linear, workers);
            const std::shared_ptr<FrameDriver> driver = t->Bind(o, frame);
            return t->RenderStep(*driver, frame, o, true);
          },
          pyb::arg("frame") = 0, pyb::arg("inputs") = pyb::none(), pyb::arg("size") = pyb::none(),
          pyb::arg("linear") = false, pyb::arg("workers") = pyb::none(),
          R"(Renders one frame; returns an H x W x 4 array in RGBA order, premultiplied.

inputs: image input caption -> H x W x 3 or 4 array (uint8 or uint16: sRGB,
float32: scene-linear; premultiplied), converted as a file of that type.
Inputs not given get the tool's built-in images, of `size` (width, height),
else the first input's size, else 1280 x 720.
linear: float32 scene-linear values instead of the tools' uint8 sRGB bytes.
workers: chunks per pass (default: NUM_PROC_VORN, else the processors).
A sequential tool advances one step per call. Ctrl+C interrupts the frame.)")
      .def(
          "render_range",
          [](const std::shared_ptr<Tool>& t, int first, int last, const pyb::object& inputs,
             const pyb::object& size, bool linear, const pyb::object& workers,
             std::optional<int> shotStart) {
            return FrameRange(t, first, last, shotStart, OptionsOf(inputs, size, linear, workers));
          },
          pyb::arg("first"), pyb::arg("last"), pyb::arg("inputs") = pyb::none(),
          pyb::arg("size") = pyb::none(), pyb::arg("linear") = false,
          pyb::arg("workers") = pyb::none(), pyb::arg("shot_start") = pyb::none(),
          R"(Frames first..last as an iterator of arrays (options as render()).

A sequential tool is stepped through every frame from shot_start (default:
first), as `vorn render --frames first-last` does.)");

  pyb::class_<FrameRange>(m, "FrameRange", "An iterator over rendered frames.")
      .def("__iter__", [](FrameRange& r) -> FrameRange& { return r; })
      .def("__next__", &FrameRange::Next)
      .def("__len__", &FrameRange::Remaining);

  DefineFlow(m);

  m.def(
      "load",
      [](const std::string& path) -> pyb::object {
        Host& host = TheHost();
        WarnPluginProblems();
        // Recognised by the content, as `vorn render --comp` does.
        if (flow::IsFlowFile(path)) return pyb::cast(Flow::Load(path));
        Composition loaded;
        std::string error;
        if (!LoadComposition(host, path, true, &loaded, &error)) throw pyb::value_error(error);
        auto tool = std::make_shared<Tool>(loaded.op->GetRegistry());
        tool->TakeValues(*loaded.op);
        std::vector<std::string> adjusted;
        for (const std::string& line : AdjustedValues(loaded))
          adjusted.push_back(path + ": " + line);
        Warn(adjusted);
        return pyb::cast(tool);
      },
      pyb::arg("path"),
      "A saved file: a flow file (JSON text) as a Flow; a composition of one tool (a .vcomp "
      "file) as an operator (a Tool) with its values.");
}

}  // namespace vorn::py
