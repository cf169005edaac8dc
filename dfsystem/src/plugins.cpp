#include "dfsystem/plugins.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>

#include "dfsystem/registry.h"

namespace df {

PluginLoader::~PluginLoader() {
  while (!plugins_.empty()) Unload(plugins_.back().path);
}

bool PluginLoader::Load(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = path + ": " + why;
    return false;
  };
  const std::vector<Registry*> before = ClassRegistry->All();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    return fail(why ? why : "cannot be opened");
  }
  for (const LoadedPlugin& p : plugins_) {
    if (p.handle == handle) {
      dlclose(handle);  // balances this dlopen; the library stays loaded once
      return true;
    }
  }
  std::vector<Registry*> added;
  for (Registry* r : ClassRegistry->All())
    if (std::find(before.begin(), before.end(), r) == before.end()) added.push_back(r);

  std::string why;
  if (added.empty()) why = "registers no tool";
  for (Registry* r : added) {
    if (!why.empty()) break;
    if (!r->Usable(&why)) break;
    for (Registry* old : before) {
      if (old->ClassID() == r->ClassID() || old->ClassName() == r->ClassName()) {
        why = "tool class \"" + r->ClassName() + "\" is already registered by another library";
        break;
      }
    }
  }
  if (why.empty()) {
    for (Registry* r : added) {
      if (RegHookFunc init = r->InitFunc(); init && !init(r)) {
        why = "tool class \"" + r->ClassName() + "\" failed to initialise";
        break;
      }
    }
  }
  if (!why.empty()) {
    dlclose(handle);
    return fail(why);
  }
  plugins_.push_back({path, handle, std::move(added)});
  return true;
}

int PluginLoader::LoadFolder(const std::string& folder, std::vector<std::string>* errors) {
  std::error_code ec;
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().extension() == ".so") paths.push_back(entry.path().string());
  }
  if (ec && errors) errors->push_back(folder + ": " + ec.message());
  std::sort(paths.begin(), paths.end());
  int loaded = 0;
  for (const std::string& path : paths) {
    std::string error;
    if (Load(path, &error))
      ++loaded;
    else if (errors)
      errors->push_back(error);
  }
  return loaded;
}

bool PluginLoader::Unload(const std::string& path) {
  auto it = std::find_if(plugins_.begin(), plugins_.end(),
                         [&](const LoadedPlugin& p) { return p.path == path; });
  if (it == plugins_.end()) return false;
  for (Registry* r : it->records)
    if (RegHookFunc cleanup = r->CleanupFunc()) cleanup(r);
  dlclose(it->handle);
  plugins_.erase(it);
  return true;
}

}  // namespace df
