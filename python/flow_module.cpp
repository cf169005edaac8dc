// vorn.Flow and vorn.Node: the Python face of flow.h.
#include <pybind11/stl.h>

#include "flow.h"
#include "flow_frames.h"
#include "render_options.h"

namespace vorn::py {

namespace {

// A node given by name or handle, as its name now. None: "" (the default).
std::string NodeName(const Flow& flow, const pyb::handle& node, bool noneAllowed) {
  if (noneAllowed && node.is_none()) return {};
  if (pyb::isinstance<pyb::str>(node)) return node.cast<std::string>();
  if (pyb::isinstance<NodeRef>(node)) {
    const NodeRef& ref = node.cast<const NodeRef&>();
    std::string name = ref.flow.get() == &flow ? flow.NameOf(ref) : std::string();
    if (name.empty()) throw pyb::value_error("the node is not one of this flow's");
    return name;
  }
  throw pyb::type_error("a node is given by its name (a str) or a vorn.Node");
}

pyb::tuple ShotTuple(const flow::Shot& shot) {
  return pyb::make_tuple(shot.first, shot.last, shot.simulationStart);
}

flow::Shot ShotOf(const pyb::handle& value) {
  std::vector<long long> v;
  try {
    v = value.cast<std::vector<long long>>();
  } catch (const pyb::cast_error&) {
    v.clear();
  }
  if (v.size() != 2 && v.size() != 3)
    throw pyb::type_error("shot is (first, last) or (first, last, simulation_start) in frames");
  for (long long f : v)
    if (f < INT_MIN || f > INT_MAX)
      throw pyb::value_error("shot: frame " + std::to_string(f) + " is beyond ±2147483647");
  return {int(v[0]), int(v[1]), int(v.size() == 3 ? v[2] : v[0])};
}

std::shared_ptr<Tool> ToolOf(const NodeRef& ref) {
  return ref.flow->ToolOf(ref);
}

}  // namespace

void DefineFlow(pyb::module_& m) {
  pyb::class_<FlowFrames>(m, "FlowFrames", "An iterator over the rendered frames of a flow's node.")
      .def("__iter__", [](FlowFrames& r) -> FlowFrames& { return r; })
      .def("__next__", &FlowFrames::Next)
      .def("__len__", &FlowFrames::Remaining);

  pyb::class_<NodeRef> node(m, "Node", R"(A node of a flow, as Flow.add and Flow.nodes give it.

A tool node takes values as an operator does (node["Caption"] = value,
set_key, press, preset, undo, redo). The host's nodes have their settings as
attributes: a Read's file, frame_offset, colorspace, layer and missing_frame
("error", "black" or "nearest"); a Merge's operation (over, under, plus,
multiply, screen) and mix (0 to 1); a Write's file, compression, bit_depth
and colorspace.)");
  node.def_property(
          "name", [](const NodeRef& r) { return r.flow->NameOf(r); },
          [](const NodeRef& r, const std::string& name) {
            r.flow->Rename(r.flow->NameOf(r), name);
          },
          "The node's name; setting it renames the node (connections follow).")
      .def_property_readonly(
          "class_name", [](const NodeRef& r) { return r.flow->ClassOf(r); },
          "\"Read\", \"Merge\", \"Write\", or the tool's class name.")
      .def_property_readonly(
          "inputs", [](const NodeRef& r) { return r.flow->InputsOf(r); },
          "The captions of the node's image inputs, in order.")
      .def_property_readonly(
          "settings", [](const NodeRef& r) { return r.flow->Settings(r); },
          "A Read, Merge or Write node's settings as a dict (empty for a tool node).")
      .def_property_readonly(
          "sequential",
          [](const NodeRef& r) {
            const std::string c = r.flow->ClassOf(r);
            return c != flow::kReadClass && c != flow::kMergeClass && c != flow::kWriteClass &&
                   ToolOf(r)->Sequential();
          },
          "Whether the node's frames depend on the frames simulated before.")
      .def_property_readonly(
          "controls", [](const NodeRef& r) { return ToolOf(r)->Controls(); },
          "A tool node's controls, as `vorn controls --json` describes them.")
      .def_property_readonly(
          "presets", [](const NodeRef& r) { return ToolOf(r)->Presets(); },
          "Items of a tool node's preset combo.")
      .def(
          "__setitem__",
          [](const NodeRef& r, const std::string& c, const pyb::handle& v) {
            ToolOf(r)->Set(c, v);
          },
          pyb::arg("caption"), pyb::arg("value"), "Sets a control, as Tool.__setitem__.")
      .def(
          "__getitem__",
          [](const NodeRef& r, const std::string& c) { return ToolOf(r)->Get(c, 0); },
          pyb::arg("caption"), "The control's value at frame 0.")
      .def(
          "value",
          [](const NodeRef& r, const std::string& c, double f) { return ToolOf(r)->Get(c, f); },
          pyb::arg("caption"), pyb::arg("frame") = 0.0, "The control's value at a frame.")
      .def(
          "set_key",
          [](const NodeRef& r, const std::string& c, double f, const pyb::handle& v) {
            ToolOf(r)->SetKey(c, f, v);
          },
          pyb::arg("caption"), pyb::arg("frame"), pyb::arg("value"),
          "Adds or replaces the key at `frame`, as Tool.set_key.")
      .def(
          "press",
          [](const NodeRef& r, const std::string& c, std::optional<double> f) {
            ToolOf(r)->Press(c, f);
          },
          pyb::arg("caption"), pyb::arg("frame") = pyb::none(),
          "Presses a button at `frame`; without one, at the first frame the next render "
          "steps through.")
      .def(
          "preset", [](const NodeRef& r, const pyb::handle& item) { ToolOf(r)->Preset(item); },
          pyb::arg("item"), "Chooses a demonstration preset, as Tool.preset.")
      .def(
          "undo", [](const NodeRef& r) { return ToolOf(r)->Undo(); },
          "Reverts the node's last value change; False when there is none.")
      .def(
          "redo", [](const NodeRef& r) { return ToolOf(r)->Redo(); },
          "Repeats the node's last change undone; False when there is none.")
      .def("__repr__", [](const NodeRef& r) {
        return "<vorn.Node \"" + r.flow->NameOf(r) + "\" (" + r.flow->ClassOf(r) + ")>";
      });
  for (const flow::NodeKind kind :
       {flow::NodeKind::Read, flow::NodeKind::Merge, flow::NodeKind::Write})
    for (const std::string& key : SettingNames(kind)) {
      if (pyb::hasattr(node, key.c_str())) continue;  // shared by two kinds
      node.def_property(
          key.c_str(), [key](const NodeRef& r) { return r.flow->Setting(r, key); },
          [key](const NodeRef& r, const pyb::handle& v) { r.flow->SetSetting(r, key, v); });
    }

  pyb::class_<Flow, std::shared_ptr<Flow>>(m, "Flow", R"(A flow: tools and the host's Read, Merge
and Write nodes, connected output to image input, with a shot.

Flow() is empty; vorn.load(path) reads a flow file. Renders are those of
`vorn render --comp FLOW` of the flow saved.)")
      .def(pyb::init([] {
        TheHost();
        WarnPluginProblems();
        return std::make_shared<Flow>();
      }))
      .def(
          "add",
          [](Flow& f, const std::string& className, std::optional<std::string> name,
             const pyb::kwargs& settings) { return f.Add(className, name, settings); },
          pyb::arg("class_name"), pyb::arg("name") = pyb::none(),
          R"(Adds a node and returns it.

class_name: "Read", "Merge", "Write" or a tool's name or class name.
name: the node's name (default: the class's, numbered when taken).
Other keywords: a Read's, Merge's or Write's settings (file= is required
for Read and Write); for a tool, control values by caption.)")
      .def(
          "connect",
          [](Flow& f, const pyb::handle& from, const pyb::handle& to, const std::string& input) {
            f.Connect(NodeName(f, from, false), NodeName(f, to, false), input);
          },
          pyb::arg("source"), pyb::arg("target"), pyb::arg("input"),
          "Feeds `source`'s output to image input `input` of `target` (names or nodes), "
          "replacing what fed it. Raises ValueError for an unknown node or input, or a "
          "connection that would close a loop.")
      .def(
          "rename",
          [](Flow& f, const pyb::handle& node, const std::string& name) {
            f.Rename(NodeName(f, node, false), name);
          },
          pyb::arg("node"), pyb::arg("name"), "Renames a node; its connections follow.")
      .def_property_readonly("nodes", &Flow::Nodes, "The nodes, in the flow's order.")
      .def("__getitem__", &Flow::Named, pyb::arg("name"), "The node of that name (KeyError).")
      .def("__len__", &Flow::Count)
      .def_property_readonly("connections", &Flow::Connections,
                             "The connections as (source, target, input) name tuples.")
      .def_property(
          "shot", [](const Flow& f) { return ShotTuple(f.Shot()); },
          [](Flow& f, const pyb::handle& v) { f.SetShot(ShotOf(v)); },
          "(first, last, simulation_start): the shot's frames, and the frame sequential nodes "
          "start simulating at (at or before first). Set with two values, the simulation "
          "starts at first.")
      .def_property(
          "size", &Flow::Size, [](Flow& f, const pyb::object& v) { f.SetSize(SizeOf(v)); },
          "(width, height) of the built-in images, or None: the first Read's, else 1280 x 720.")
      .def("save", &Flow::Save, pyb::arg("path"),
           "Writes the flow file (JSON text; `NAME.flow.json` by custom), whole or not at all.")
      .def(
          "render",
          [](Flow& f, int frame, const pyb::handle& node, const pyb::object& size, bool linear,
             const pyb::object& workers) {
            FlowFrames run(f, NodeName(f, node, true), frame, frame, SizeOf(size), linear,
                           WorkersOf(workers));
            return run.Next();
          },
          pyb::arg("frame"), pyb::arg("node") = pyb::none(), pyb::arg("size") = pyb::none(),
          pyb::arg("linear") = false, pyb::arg("workers") = pyb::none(),
          R"(Renders one frame of a node; returns an H x W x 4 RGBA array, premultiplied.

node: a name or node (default: the last Write, else the last node; a Write
node gives the image it is fed). Sequential nodes are stepped through every
frame from the shot's simulation start, as `vorn render --comp FLOW
--frame N` does; every call starts afresh from there. size: (width, height)
of the built-in images. linear, workers: as for Tool.render. Ctrl+C
interrupts the render.)")
      .def(
          "render_range",
          [](Flow& f, int first, int last, const pyb::handle& node, const pyb::object& size,
             bool linear, const pyb::object& workers) {
            return std::make_unique<FlowFrames>(f, NodeName(f, node, true), first, last,
                                                SizeOf(size), linear, WorkersOf(workers));
          },
          pyb::arg("first"), pyb::arg("last"), pyb::arg("node") = pyb::none(),
          pyb::arg("size") = pyb::none(), pyb::arg("linear") = false,
          pyb::arg("workers") = pyb::none(),
          "Frames first..last of a node as an iterator of arrays (options as render()), "
          "sequential nodes stepped once through the shot, as `vorn render --comp FLOW "
          "--frames first-last` does.");
}

}  // namespace vorn::py
