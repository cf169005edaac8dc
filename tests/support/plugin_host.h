// A minimal host for tests: loads a built tool library, creates operators in a
// document, sets controls by caption and renders frames with a given number of
// workers, returning the delivered bytes.
#pragma once

#include <dfsystem/dfsystem.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Pixels as rows top to bottom, 4 bytes B G R A each.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;
  bool operator==(const Pixels&) const = default;
};

// A host image holding a copy of `p`.
df::Image* HostImage(const Pixels& p, double aspect = 1.0);
Pixels Bytes(const df::Image* image);

class PluginHost {
 public:
  // Loads the library and finds the tool by its registry class name.
  bool Load(const char* path, const char* className, std::string* error);

  df::OperatorPtr Create();

  // Numbers go through SetValue with notification (flag 1); points without
  // (flag 0), as the command-line host sets them. False when refused.
  static bool SetNumber(df::Operator& op, const std::string& caption, double v, double time = 0,
                        int flag = 1);
  static bool SetPoint(df::Operator& op, const std::string& caption, float x, float y,
                       double time = 0, int flag = 0);
  // "x,y" sets a point, anything else a number.
  static bool Set(df::Operator& op, const std::string& caption, const std::string& value);

  // One frame at `time` with `workers` chunks ("NUM_PROC_VORN"): each image
  // input named by caption gets its pixels. Empty pixels when nothing was
  // delivered.
  static Pixels Render(df::Operator& op,
                       const std::vector<std::pair<std::string, const Pixels*>>& images,
                       double time, int workers, double aspect = 1.0);

  df::Registry* registry = nullptr;
  df::App app;
  df::PluginLoader loader;
  df::CPipelineDoc doc;
};

}  // namespace testsupport
