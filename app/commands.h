// The vorn commands behind the command line: each takes its parsed options
// and a host with the plug-ins loaded, prints its results, and returns the
// process exit status.
#pragma once

#include <functional>
#include <string>

#include "host.h"
#include "render.h"

namespace CLI {
class App;
}

namespace vorn {

// A command of the command line: its options, registered beside the
// command, and what runs once they are parsed and the plug-ins are loaded
// (`quiet`: the program's --quiet).
struct Command {
  CLI::App* cli = nullptr;
  std::function<int(Host& host, bool quiet)> run;
};
Command AddToolsCommand(CLI::App& app);
Command AddControlsCommand(CLI::App& app);
Command AddRenderCommand(CLI::App& app);
Command AddShowCommand(CLI::App& app);
Command AddDemoCommand(CLI::App& app);
Command AddServeCommand(CLI::App& app);

struct ToolsOptions {
  bool json = false;
  std::string tilesDir;  // write each tool's tile picture here as a PNG
};
int RunTools(Host& host, const ToolsOptions& options);

struct ControlsOptions {
  std::string tool;
  bool json = false;
};
int RunControls(Host& host, const ControlsOptions& options);

struct ShowOptions {
  std::string file;
  bool json = false;
};
int RunShow(Host& host, const ShowOptions& options);

struct DemoOptions {
  std::string outDir = "vorn-demo";
  std::string size = "640x360";
  std::string length = "24";
  bool video = true;
  bool quiet = false;
};
int RunDemo(Host& host, const DemoOptions& options);

}  // namespace vorn
