// Where plug-in libraries are looked for: the folders given with --plugins,
// else those of VORN_PLUGIN_PATH, else the plug-in folder beside the binary.
#pragma once

#include <string>
#include <vector>

namespace vorn {

struct PluginSearch {
  std::vector<std::string> folders;
  std::string origin;  // "--plugins", "VORN_PLUGIN_PATH" or "beside the binary"
};

// `overrides`: the --plugins folders; `envValue`: VORN_PLUGIN_PATH or null
// (colon-separated, empty entries skipped); `exeDir`: the folder that holds
// the running binary; `relativeDirs`: plug-in folders relative to it, tried
// in order ("../lib/vorn" serves both the build tree and an installed tree).
PluginSearch PluginFolders(const std::vector<std::string>& overrides, const char* envValue,
                           const std::string& exeDir, const std::vector<std::string>& relativeDirs);

// Folder of the running binary, from /proc/self/exe; empty if unknown.
std::string ExecutableDir();

}  // namespace vorn
