// Loading plug-in libraries. A library registers its tool classes in its static
// initialisation; the loader tells which records a library brought.
#pragma once

#include <string>
#include <vector>

namespace df {

class Registry;

struct LoadedPlugin {
  std::string path;
  void* handle = nullptr;
  std::vector<Registry*> records;
};

class PluginLoader {
 public:
  PluginLoader() = default;
  ~PluginLoader();  // unloads every library it loaded
  PluginLoader(const PluginLoader&) = delete;
  PluginLoader& operator=(const PluginLoader&) = delete;

  // Loads one library. False, with the reason, when it cannot be opened, when
  // it registers no usable tool, or when a class it registers is already
  // registered (then it is unloaded again). Loading a library that is already
  // loaded does nothing and succeeds.
  bool Load(const std::string& path, std::string* error);
  // Loads every "*.so" in a folder, in name order; problems are appended to
  // `errors`. Returns the number of libraries loaded.
  int LoadFolder(const std::string& folder, std::vector<std::string>* errors);
  // Unloads a library: its records leave the registry. Operators of its
  // classes must be destroyed first.
  bool Unload(const std::string& path);
  const std::vector<LoadedPlugin>& Plugins() const { return plugins_; }

 private:
  std::vector<LoadedPlugin> plugins_;
};

}  // namespace df
