#include "dfsystem/registry.h"

#include <algorithm>

namespace df {
namespace {
RegistryList gClassRegistry;
}

RegistryList* ClassRegistry = &gClassRegistry;

std::vector<Registry*> RegistryList::All() const {
  std::lock_guard lock(mutex_);
  return records_;
}

Registry* RegistryList::FindByClassName(const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (Registry* r : records_)
    if (r->ClassName() == name) return r;
  return nullptr;
}

Registry* RegistryList::FindByName(const std::string& displayName) const {
  std::lock_guard lock(mutex_);
  for (Registry* r : records_)
    if (r->Name() == displayName) return r;
  return nullptr;
}

Registry* RegistryList::FindByClassID(uint32_t classId) const {
  std::lock_guard lock(mutex_);
  for (Registry* r : records_)
    if (r->ClassID() == classId) return r;
  return nullptr;
}

void RegistryList::Add(Registry* r) {
  std::lock_guard lock(mutex_);
  records_.push_back(r);
}

void RegistryList::Remove(Registry* r) {
  std::lock_guard lock(mutex_);
  records_.erase(std::remove(records_.begin(), records_.end(), r), records_.end());
}

Registry::Registry(RegistryList** list, const char* className, TagList tags,
                   std::vector<Resource> resources)
    : list_(list ? *list : nullptr),
      className_(className ? className : ""),
      tags_(std::move(tags)),
      resources_(std::move(resources)) {
  if (list_) list_->Add(this);
}

Registry::~Registry() {
  if (list_) list_->Remove(this);
}

CreateFunc Registry::Create() const {
  const TagItem* item = tags_.Find(REG_CreateFunc);
  return item && item->kind == TagKind::Function ? item->Function<CreateFunc>() : nullptr;
}

RegHookFunc Registry::InitFunc() const {
  const TagItem* item = tags_.Find(REG_InitFunc);
  return item && item->kind == TagKind::Function ? item->Function<RegHookFunc>() : nullptr;
}

RegHookFunc Registry::CleanupFunc() const {
  const TagItem* item = tags_.Find(REG_CleanupFunc);
  return item && item->kind == TagKind::Function ? item->Function<RegHookFunc>() : nullptr;
}

uint32_t Registry::ClassID() const {
  return uint32_t(tags_.Integer(REG_ClassID).value_or(0));
}
int Registry::OpType() const {
  return int(tags_.Integer(REG_OpType).value_or(0));
}
int Registry::TileBitmap() const {
  return int(tags_.Integer(REG_TileBitmap).value_or(0));
}
uint32_t Registry::ToolCode() const {
  return uint32_t(tags_.Integer(REG_ToolCode).value_or(0));
}

static std::string StringTag(const TagList& tags, uint32_t tag) {
  const char* s = tags.String(tag);
  return s ? s : "";
}

std::string Registry::Name() const {
  return StringTag(tags_, REG_Name);
}
std::string Registry::ShortName() const {
  return StringTag(tags_, REG_ShortName);
}
std::string Registry::Description() const {
  return StringTag(tags_, REG_Description);
}
std::string Registry::PackName() const {
  return StringTag(tags_, REG_PackName);
}
std::string Registry::HelpFile() const {
  return StringTag(tags_, REG_HelpFile);
}

const Resource* Registry::FindResource(int id) const {
  for (const Resource& r : resources_)
    if (r.id == id) return &r;
  return nullptr;
}

bool Registry::Usable(std::string* why) const {
  std::string problem;
  if (!tags_.Validate(&problem)) {
    problem = "registration of \"" + className_ + "\": " + problem;
  } else if (className_.empty()) {
    problem = "a registration without a class name";
  } else if (!Create()) {
    problem = "registration of \"" + className_ + "\" has no creation function";
  } else if (ClassID() == 0) {
    problem = "registration of \"" + className_ + "\" has no class id";
  } else if (Name().empty()) {
    problem = "registration of \"" + className_ + "\" has no display name";
  }
  if (problem.empty()) return true;
  if (why) *why = problem;
  return false;
}

}  // namespace df
