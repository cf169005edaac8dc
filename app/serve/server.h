// `vorn serve`: the interactive host in the browser. A local HTTP server,
// bound to 127.0.0.1 only, answers the page and its JSON API for every
// loaded tool; the URL it prints carries the run's token.
#pragma once

#include <string>
#include <vector>

#include "host.h"

namespace vorn {

struct ServeOptions {
  std::string tool;                 // opened first; empty: the page's choice
  int port = 0;                     // 0: a free port
  std::vector<std::string> roots;   // further folders files may be in
  std::vector<std::string> inputs;  // "CAPTION=FILE"
  // How the input files are read, as for vorn render.
  std::vector<std::string> inputColourSpaces, inputLayers;
  std::string aspect;
  std::string comp;               // composition opened first
  std::string size = "1280x720";  // built-in images
  std::string frames = "0-100";   // the timeline
  std::string webDir;             // the page's files; empty: the built-in default
  bool quiet = false;
};

// Runs until the process is ended (Ctrl-C). Exit status 2 when the request
// cannot be met (a bad option, a port in use).
int RunServe(Host& host, const ServeOptions& options);

}  // namespace vorn
