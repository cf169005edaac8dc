#include "dfsystem/tags.h"

#include <array>
#include <cstdio>

#include "dfsystem/fourcc.h"

namespace df {
namespace {

struct TagInfo {
  uint32_t tag;
  std::string_view name;
  TagKind kind;
};

constexpr std::array kTags{
    TagInfo{REG_CreateFunc, "REG_CreateFunc", TagKind::Function},
    TagInfo{REG_InitFunc, "REG_InitFunc", TagKind::Function},
    TagInfo{REG_CleanupFunc, "REG_CleanupFunc", TagKind::Function},
    TagInfo{REG_OpType, "REG_OpType", TagKind::Integer},
    TagInfo{REG_ClassID, "REG_ClassID", TagKind::Integer},
    TagInfo{REG_Name, "REG_Name", TagKind::String},
    TagInfo{REG_ToolCode, "REG_ToolCode", TagKind::Integer},
    TagInfo{REG_HelpFile, "REG_HelpFile", TagKind::String},
    TagInfo{REG_ShortName, "REG_ShortName", TagKind::String},
    TagInfo{REG_Description, "REG_Description", TagKind::String},
    TagInfo{REG_PackName, "REG_PackName", TagKind::String},
    TagInfo{REG_TileBitmap, "REG_TileBitmap", TagKind::Integer},
    TagInfo{INP_Flag01, "INP_Flag01", TagKind::Integer},
    TagInfo{INP_Required, "INP_Required", TagKind::Integer},
    TagInfo{INP_Control, "INP_Control", TagKind::Integer},
    TagInfo{INP_PreviewControl, "INP_PreviewControl", TagKind::Integer},
    TagInfo{INP_ColorGroup, "INP_ColorGroup", TagKind::Integer},
    TagInfo{INP_ColorChannel, "INP_ColorChannel", TagKind::Integer},
    TagInfo{INP_Notify, "INP_Notify", TagKind::Integer},
    TagInfo{INP_GroupName, "INP_GroupName", TagKind::String},
    TagInfo{INP_CtlFlag02, "INP_CtlFlag02", TagKind::Integer},
    TagInfo{INP_CtlValue05, "INP_CtlValue05", TagKind::Integer},
    TagInfo{INP_PreviewValue, "INP_PreviewValue", TagKind::Integer},
    TagInfo{INP_Link, "INP_Link", TagKind::Pointer},
    TagInfo{INP_ComboItem, "INP_ComboItem", TagKind::String},
    TagInfo{INP_MinAllowed, "INP_MinAllowed", TagKind::Double},
    TagInfo{INP_MaxAllowed, "INP_MaxAllowed", TagKind::Double},
    TagInfo{INP_MinScale, "INP_MinScale", TagKind::Double},
    TagInfo{INP_MaxScale, "INP_MaxScale", TagKind::Double},
    TagInfo{INP_Default, "INP_Default", TagKind::Double},
    TagInfo{INP_DefaultX, "INP_DefaultX", TagKind::Double},
    TagInfo{INP_DefaultY, "INP_DefaultY", TagKind::Double},
    TagInfo{INP_NumValue06, "INP_NumValue06", TagKind::Double},
    TagInfo{OBJ_Document, "OBJ_Document", TagKind::Pointer},
};

const TagInfo* Info(uint32_t tag) {
  for (const auto& t : kTags)
    if (t.tag == tag) return &t;
  return nullptr;
}

}  // namespace

std::optional<TagKind> ExpectedTagKind(uint32_t tag) {
  if (const TagInfo* info = Info(tag)) return info->kind;
  return std::nullopt;
}

std::string_view TagName(uint32_t tag) {
  const TagInfo* info = Info(tag);
  return info ? info->name : std::string_view{};
}

std::string_view TagKindName(TagKind kind) {
  switch (kind) {
    case TagKind::Integer:
      return "integer";
    case TagKind::Double:
      return "double";
    case TagKind::String:
      return "string";
    case TagKind::Pointer:
      return "pointer";
    case TagKind::Function:
      return "function";
  }
  return "?";
}

TagList::TagList(std::initializer_list<TagItem> items) {
  for (const TagItem& item : items) {
    if (item.tag == TAG_DONE) break;
    items_.push_back(item);
  }
}

TagList::TagList(std::vector<TagItem> items) {
  for (const TagItem& item : items) {
    if (item.tag == TAG_DONE) break;
    items_.push_back(item);
  }
}

TagList& TagList::Append(const TagItem& item) {
  if (item.tag != TAG_DONE) items_.push_back(item);
  return *this;
}

TagList& TagList::Append(const TagList& other) {
  items_.insert(items_.end(), other.items_.begin(), other.items_.end());
  return *this;
}

const TagItem* TagList::Find(uint32_t tag) const {
  for (auto it = items_.rbegin(); it != items_.rend(); ++it)
    if (it->tag == tag) return &*it;
  return nullptr;
}

std::vector<const TagItem*> TagList::FindAll(uint32_t tag) const {
  std::vector<const TagItem*> found;
  for (const TagItem& item : items_)
    if (item.tag == tag) found.push_back(&item);
  return found;
}

std::optional<int64_t> TagList::Integer(uint32_t tag) const {
  const TagItem* item = Find(tag);
  if (!item || item->kind != TagKind::Integer) return std::nullopt;
  return item->i;
}

std::optional<double> TagList::Double(uint32_t tag) const {
  const TagItem* item = Find(tag);
  if (!item || item->kind != TagKind::Double) return std::nullopt;
  return item->d;
}

const char* TagList::String(uint32_t tag) const {
  const TagItem* item = Find(tag);
  return item && item->kind == TagKind::String ? item->s : nullptr;
}

const void* TagList::Pointer(uint32_t tag) const {
  const TagItem* item = Find(tag);
  return item && item->kind == TagKind::Pointer ? item->p : nullptr;
}

bool TagList::Validate(std::string* why) const {
  for (size_t n = 0; n < items_.size(); ++n) {
    const TagItem& item = items_[n];
    const TagInfo* info = Info(item.tag);
    std::string problem;
    if (!info) {
      problem = "unknown tag " + HexText(item.tag);
    } else if (info->kind != item.kind) {
      problem = std::string(info->name) + " takes a " + std::string(TagKindName(info->kind)) +
                ", not a " + std::string(TagKindName(item.kind));
    } else if (item.kind == TagKind::String && item.s == nullptr) {
      problem = std::string(info->name) + " has a null string";
    } else if (item.kind == TagKind::Integer &&
               (item.i < INT32_MIN || item.i > int64_t(UINT32_MAX))) {
      problem = std::string(info->name) + " value does not fit 32 bits";
    }
    if (!problem.empty()) {
      if (why) *why = "tag " + std::to_string(n + 1) + ": " + problem;
      return false;
    }
  }
  return true;
}

}  // namespace df
