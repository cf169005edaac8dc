#include "host.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "library_messages.h"
#include "value_parse.h"

namespace vorn {

// Every frame allocates and frees its image and the tool's per-render
// buffers; kept in the heap, the freed blocks serve the next frame without
// the system faulting in fresh pages.
Host::Host() {
  df::KeepFreedBlocks();
  app_.SetChunksPerThread(kChunksPerThread);
}
Host::~Host() = default;

// A frame's buffers take about 60 bytes a pixel in the heaviest tool (a
// warp: its image in and out, the map and the area tables); the reserve is
// address space, so a generous figure costs nothing.
void Host::PrepareFrameMemory(int width, int height) {
  if (width < 1 || height < 1) return;
  static std::once_flag once;  // the heap is the process's
  std::call_once(once, [&] {
    constexpr double kBytesPerPixel = 160.0;
    constexpr double kMost = double(size_t(4) << 30);
    df::ReserveHeapOnHugePages(size_t(std::min(kMost, kBytesPerPixel * width * height)));
  });
}

void PrintError(const std::string& message) {
  std::lock_guard lock(StderrMutex());
  std::fprintf(stderr, "vorn: error: %s\n", message.c_str());
}

void PrintWarning(const std::string& message) {
  std::lock_guard lock(StderrMutex());
  std::fprintf(stderr, "vorn: warning: %s\n", message.c_str());
}

void PrintNote(const std::string& message) {
  std::lock_guard lock(StderrMutex());
  std::fprintf(stderr, "vorn: %s\n", message.c_str());
}

bool Host::LoadPlugins(const PluginSearch& search, bool quiet, std::string* error,
                       std::vector<std::string>* problems) {
  search_ = search;
  const bool defaults = search.origin == "beside the binary";
  for (const std::string& folder : search.folders) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
      if (defaults) continue;  // the second default location need not exist
      // A stale entry in the environment should not stop every command; a
      // folder named on the command line is surely meant.
      if (search.origin == "VORN_PLUGIN_PATH") {
        const std::string text =
            "plug-in folder " + folder + " (from VORN_PLUGIN_PATH) does not exist";
        if (problems)
          problems->push_back(text);
        else if (!quiet)
          PrintWarning(text);
        continue;
      }
      *error = "plug-in folder " + folder + " (from " + search.origin + ") " +
               (std::filesystem::exists(folder, ec) ? "is not a folder; name the folder that holds "
                                                      "the plug-in libraries"
                                                    : "does not exist");
      return false;
    }
    std::vector<std::string> failed;
    loader_.LoadFolder(std::filesystem::absolute(folder, ec).lexically_normal().string(), &failed);
    for (const std::string& p : failed) {
      if (problems)
        problems->push_back("plug-in not loaded: " + p);
      else if (!quiet)
        PrintWarning("plug-in not loaded: " + p);
    }
  }
  return true;
}

std::vector<df::Registry*> Host::Tools() const {
  std::vector<df::Registry*> tools = df::ClassRegistry->All();
  std::sort(tools.begin(), tools.end(), [](df::Registry* a, df::Registry* b) {
    return a->Name() != b->Name() ? a->Name() < b->Name() : a->ClassName() < b->ClassName();
  });
  return tools;
}

std::string Host::ToolListText() const {
  std::string out;
  for (df::Registry* r : Tools()) {
    if (!out.empty()) out += ", ";
    out += "\"" + r->Name() + "\" (" + r->ClassName() + ")";
  }
  return out.empty() ? "none" : out;
}

df::Registry* Host::FindTool(const std::string& name, std::string* error) const {
  if (df::Registry* r = df::ClassRegistry->FindByName(name)) return r;
  if (df::Registry* r = df::ClassRegistry->FindByClassName(name)) return r;
  const std::string lowered = AsciiLower(name);
  df::Registry* match = nullptr;
  int matches = 0;
  for (df::Registry* r : Tools()) {
    if (AsciiLower(r->Name()) == lowered || AsciiLower(r->ClassName()) == lowered) {
      match = r;
      ++matches;
    }
  }
  if (matches == 1) return match;
  std::string where;
  for (const std::string& f : search_.folders) where += (where.empty() ? "" : ", ") + f;
  *error = "unknown tool \"" + name + "\"; tools: " + ToolListText() + " (plug-ins from " +
           (where.empty() ? std::string("no folder") : where) + ")";
  return nullptr;
}

std::string Host::LibraryOf(const df::Registry* registry) const {
  for (const df::LoadedPlugin& p : loader_.Plugins())
    if (std::find(p.records.begin(), p.records.end(), registry) != p.records.end()) return p.path;
  return {};
}

}  // namespace vorn
