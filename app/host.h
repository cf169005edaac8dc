// The host side of a vorn run: the application object, the loaded plug-ins
// and the document that operators are created in, plus looking tools up by
// name with messages that list what exists.
#pragma once

#include <dfsystem/dfsystem.h>

#include <string>
#include <vector>

#include "plugin_paths.h"

namespace vorn {

// Chunks the tools are asked for per pool thread when "NUM_PROC_VORN" is not
// set: a thread that finishes a light band takes another, so an uneven frame
// keeps every core busy. Chosen by measuring each tool's default scene.
inline constexpr int kChunksPerThread = 4;

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Loads every plug-in of the search's folders. A folder named with
  // --plugins that does not exist is an error (false, with the reason); a
  // missing VORN_PLUGIN_PATH folder and libraries that fail to load are
  // warned about on stderr unless `quiet`; with `problems`, they are added
  // there instead.
  bool LoadPlugins(const PluginSearch& search, bool quiet, std::string* error,
                   std::vector<std::string>* problems = nullptr);

  // A tool by display name or registry class name, exactly or, failing that,
  // ignoring case when only one tool matches. Null with a message listing the
  // registered tools otherwise.
  df::Registry* FindTool(const std::string& name, std::string* error) const;
  // Registered tools in display-name order.
  std::vector<df::Registry*> Tools() const;
  // The library that registered a tool, or "".
  std::string LibraryOf(const df::Registry* registry) const;
  // "Bleb (BlebPlugIn), Probe (ProbePlugIn)" for messages.
  std::string ToolListText() const;

  // Sets memory aside, on huge pages where the system offers them, for the
  // buffers of frames of this size (once per run; later calls do nothing).
  void PrepareFrameMemory(int width, int height);

  df::CPipelineDoc& Doc() { return doc_; }
  df::App& App() { return app_; }
  const PluginSearch& Search() const { return search_; }

 private:
  df::App app_;
  df::PluginLoader loader_;
  // Declared after the loader: operators and the document go before the
  // libraries whose code they run.
  df::CPipelineDoc doc_;
  PluginSearch search_;
};

using df::kObjFlagSequential;

// Prints "vorn: error: ..." / "vorn: warning: ..." to stderr.
void PrintError(const std::string& message);
void PrintWarning(const std::string& message);
// Prints "vorn: ..." to stderr: what a run is doing.
void PrintNote(const std::string& message);

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a frame or file could not be made
inline constexpr int kExitUsage = 2;   // the command line asks for something impossible

}  // namespace vorn
