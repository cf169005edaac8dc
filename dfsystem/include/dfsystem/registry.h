// The class registry: the records through which plug-in libraries make their
// tool classes creatable. A library's static initialisation constructs its
// Registry into ClassRegistry; unloading the library destroys it again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "dfsystem/tags.h"

namespace df {

class Operator;
class CArchive;
class Registry;

using CreateFunc = Operator* (*)(Registry*, CArchive*, TagList*);
using RegHookFunc = bool (*)(Registry*);

// A block of data a library carries, found by id (the tile bitmap is id 101).
struct Resource {
  int id = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

class RegistryList {
 public:
  std::vector<Registry*> All() const;
  Registry* FindByClassName(const std::string& name) const;
  Registry* FindByName(const std::string& displayName) const;
  Registry* FindByClassID(uint32_t classId) const;

 private:
  friend class Registry;
  void Add(Registry* r);
  void Remove(Registry* r);

  mutable std::mutex mutex_;
  std::vector<Registry*> records_;
};

// The host's registry of tool classes.
extern RegistryList* ClassRegistry;

class Registry {
 public:
  Registry(RegistryList** list, const char* className, TagList tags,
           std::vector<Resource> resources = {});
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  const std::string& ClassName() const { return className_; }
  const TagList& Tags() const { return tags_; }

  // Values of the record's tags; empty strings and 0 where a tag is missing.
  CreateFunc Create() const;
  RegHookFunc InitFunc() const;
  RegHookFunc CleanupFunc() const;
  uint32_t ClassID() const;
  int OpType() const;
  int TileBitmap() const;
  uint32_t ToolCode() const;
  std::string Name() const;
  std::string ShortName() const;
  std::string Description() const;
  std::string PackName() const;
  std::string HelpFile() const;

  const Resource* FindResource(int id) const;

  // Whether the record can be used: valid tag list, a creation function, a class
  // id and a display name. Names the problem otherwise.
  bool Usable(std::string* why) const;

 private:
  RegistryList* list_;
  std::string className_;
  TagList tags_;
  std::vector<Resource> resources_;
};

}  // namespace df
