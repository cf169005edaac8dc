// An operator of a tool as Python holds it: its own document (so undo and
// redo are its own), its control values set and read as `vorn render`'s
// --set and --preset treat them, and frames rendered in memory through the
// CLI's frame driver. Every call that touches the operator takes its lock
// with the GIL released, so that one thread's render does not wait on
// another's lock while holding the GIL.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame_driver.h"
#include "host.h"
#include "render_watch.h"

namespace vorn::py {

namespace pyb = pybind11;

// The process's host: the plug-ins of the module's search (see module.cpp),
// loaded at first use.
Host& TheHost();

// Warns (as UserWarnings) of the problems met loading the plug-ins, once.
void WarnPluginProblems();

// Runs `body` holding `mutex`, with the GIL released while the lock is
// taken and held (so that a thread holding the lock never waits on the GIL).
template <typename Body>
auto Locked(std::mutex& mutex, Body&& body) {
  pyb::gil_scoped_release release;
  std::lock_guard lock(mutex);
  return body();
}

// How a render is asked for from Python.
struct RenderOptions {
  pyb::dict inputs;                         // caption → array
  std::optional<std::pair<int, int>> size;  // of the built-in images
  bool linear = false;
  int workers = 0;  // 0: the host's rule
};

class Tool {
 public:
  explicit Tool(df::Registry* registry);
  // An operator another object owns (a flow's node), recording its changes
  // in `doc`; both must outlive the Tool.
  Tool(df::CPipelineDoc& doc, df::Operator& op);
  ~Tool();

  std::string Name() const;
  std::string ClassName() const;
  bool Sequential() const;
  pyb::object Controls() const;
  std::vector<std::string> ImageInputCaptions() const;
  std::vector<std::string> Presets() const;

  void Set(const std::string& caption, const pyb::handle& value);
  pyb::object Get(const std::string& caption, double frame) const;
  void SetKey(const std::string& caption, double frame, const pyb::handle& value);
  // A press at `frame`; without one, at the next frame rendered.
  void Press(const std::string& caption, std::optional<double> frame);
  void Preset(const pyb::handle& item);
  bool Undo();
  bool Redo();
  void Save(const std::string& path);
  // Takes every control value of a saved composition of this tool.
  void TakeValues(const df::Operator& from);

  // The frames Process runs for to deliver frames first..last.
  std::vector<int> Steps(int first, int last, std::optional<int> shotStart) const;
  // Binds the inputs (arrays converted as files of their type would be).
  std::shared_ptr<FrameDriver> Bind(const RenderOptions& options, int frame);
  // Renders one step; the array when `deliver`, else None.
  pyb::object RenderStep(const FrameDriver& driver, int frame, const RenderOptions& options,
                         bool deliver);

  df::Operator& Op() { return *op_; }
  // Held by every call that reads or changes the operator.
  std::mutex& Mutex() const { return mutex_; }
  // Presses made without a frame act at `frame`. Mutex() held.
  void ApplyPendingPresses(int frame);

 private:
  void CheckImageOutput() const;
  df::Input* Control(const std::string& caption) const;
  bool PressAt(df::Input* button, double frame, std::string* error);  // mutex_ held

  std::unique_ptr<df::CPipelineDoc> ownDoc_;
  df::OperatorPtr ownOp_;  // after the document: goes first
  df::CPipelineDoc* doc_ = nullptr;
  df::Operator* op_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<df::Input*> pendingPresses_;  // pressed at the next frame rendered
  std::unique_ptr<RenderThread> thread_;    // made at the first render; ends before the operator
};

// Turns a Python value into the command line's text for a control: numbers,
// booleans, (x, y) points, strings as they are (combo items, keyframes).
std::string ControlText(const pyb::handle& value);

// Raises the warnings as Python UserWarnings.
void Warn(const std::vector<std::string>& warnings);

}  // namespace vorn::py
