#include "plugin_paths.h"

#include <filesystem>
#include <system_error>

namespace vorn {

PluginSearch PluginFolders(const std::vector<std::string>& overrides, const char* envValue,
                           const std::string& exeDir,
                           const std::vector<std::string>& relativeDirs) {
  PluginSearch search;
  if (!overrides.empty()) {
    search.folders = overrides;
    search.origin = "--plugins";
    return search;
  }
  if (envValue != nullptr && *envValue != '\0') {
    std::string value(envValue);
    size_t pos = 0;
    while (pos <= value.size()) {
      size_t colon = value.find(':', pos);
      if (colon == std::string::npos) colon = value.size();
      if (colon > pos) search.folders.push_back(value.substr(pos, colon - pos));
      pos = colon + 1;
    }
    if (!search.folders.empty()) {
      search.origin = "VORN_PLUGIN_PATH";
      return search;
    }
  }
  search.origin = "beside the binary";
  if (exeDir.empty()) return search;
  for (const std::string& rel : relativeDirs) {
    std::filesystem::path p = std::filesystem::path(exeDir) / rel;
    std::error_code ec;
    std::filesystem::path normal = std::filesystem::weakly_canonical(p, ec);
    const std::string folder = (ec ? p : normal).string();
    bool seen = false;
    for (const std::string& f : search.folders) seen = seen || f == folder;
    if (!seen) search.folders.push_back(folder);
  }
  return search;
}

std::string ExecutableDir() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path().string();
}

}  // namespace vorn
