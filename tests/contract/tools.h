// What each tool must show through the runtime, written out from its
// documentation (never read back from the tool's own tables), and the
// pictures the contract scenes and golden cases name for image inputs.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/plugin_host.h"

namespace contract {

using Strings = std::vector<std::string>;
using Assignments = std::vector<std::pair<std::string, std::string>>;

// A render whose bytes must not depend on the worker count: a fresh operator,
// `sets` applied in order, then a frame at each of `times`.
struct Scene {
  int width = 0, height = 0;
  Assignments images;  // image input caption = picture name
  Assignments sets;    // control caption = value ("x,y" for a point)
  std::vector<double> times;
  // The last frame's alpha differs from the first image's in more pixels than
  // this (-1: no check), so the scene cannot pass by drawing nothing.
  int alphaChangedAbove = -1;
};

// The registration record's values, in tag order.
struct Registration {
  uint32_t classId;
  const char *packName, *shortName, *description, *name, *helpFile;
  uint32_t toolCode;
};

struct Tool {
  std::string name;  // also the folder of its golden cases
  const char* library = nullptr;
  const char* className = nullptr;  // the registry class name
  Registration registration{};
  Strings pages;
  Strings declarations;     // testsupport::DescribeInputs lines, in order
  bool sequential = false;  // sets bit 0x20 of objFlags
  // A reset request (null input): its undo caption and number of changes;
  // null when the tool has no reset and the request changes nothing.
  const char* resetCaption = nullptr;
  size_t resetChanges = 0;
  std::vector<Scene> scenes;
};

const std::vector<Tool>& Tools();
inline void PrintTo(const Tool& t, std::ostream* os) {
  *os << t.name;
}
const Tool* FindTool(const std::string& name);

// The picture `name` of `tool` at w x h: the tool's golden pictures, and for
// every tool "noise:SEED", a hash in every byte. False for an unknown name.
bool Picture(const std::string& tool, const std::string& name, int w, int h,
             testsupport::Pixels* out);

}  // namespace contract
