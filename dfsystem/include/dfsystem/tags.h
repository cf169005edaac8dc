// Tag lists: the (tag, value) pairs with which a tool describes its registration
// and its controls. Each item carries its value's kind, and a list is checked
// against the kind each tag number takes before the host accepts it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace df {

class Input;

enum : uint32_t {
  TAG_DONE = 0,

  REG_CreateFunc = 0x10000000,
  REG_InitFunc = 0x10000001,
  REG_CleanupFunc = 0x10000002,
  REG_OpType = 0x10000003,
  REG_ClassID = 0x10000005,
  REG_Name = 0x10000006,
  REG_ToolCode = 0x10000007,
  REG_HelpFile = 0x10000008,
  REG_ShortName = 0x1000000B,
  REG_Description = 0x1000000C,
  REG_PackName = 0x1000000F,
  REG_TileBitmap = 0x10000011,

  INP_Flag01 = 0x10030001,
  INP_Required = 0x10030003,
  INP_Control = 0x10030006,
  INP_PreviewControl = 0x10030007,
  INP_ColorGroup = 0x10030009,
  INP_ColorChannel = 0x1003000A,
  INP_Notify = 0x1003000D,
  INP_GroupName = 0x10040001,
  INP_CtlFlag02 = 0x10040002,
  INP_CtlValue05 = 0x10040005,
  INP_PreviewValue = 0x10050000,
  INP_Link = 0x10058000,
  INP_ComboItem = 0x18050000,
  INP_MinAllowed = 0x20030000,
  INP_MaxAllowed = 0x20030001,
  INP_MinScale = 0x20030002,
  INP_MaxScale = 0x20030003,
  INP_Default = 0x20030004,
  INP_DefaultX = 0x20030005,
  INP_DefaultY = 0x20030006,
  INP_NumValue06 = 0x20040006,

  // The runtime's own creation tag: the document an operator is created in.
  OBJ_Document = 0x10070001,
};

// Kind of value an item holds.
enum class TagKind : uint8_t { Integer, Double, String, Pointer, Function };

// The kind a tag number takes: tags 0x2003xxxx and 0x2004xxxx take a double.
// Empty for a tag number this runtime does not know.
std::optional<TagKind> ExpectedTagKind(uint32_t tag);
// Name of a known tag ("INP_Default"), or empty.
std::string_view TagName(uint32_t tag);
std::string_view TagKindName(TagKind kind);

using GenericFunc = void (*)();

struct TagItem {
  uint32_t tag = TAG_DONE;
  TagKind kind = TagKind::Integer;
  int64_t i = 0;
  double d = 0.0;
  const char* s = nullptr;
  const void* p = nullptr;
  GenericFunc f = nullptr;

  TagItem() = default;
  TagItem(uint32_t t, int v) : tag(t), kind(TagKind::Integer), i(v) {}
  TagItem(uint32_t t, unsigned v) : tag(t), kind(TagKind::Integer), i(v) {}
  TagItem(uint32_t t, long v) : tag(t), kind(TagKind::Integer), i(v) {}
  TagItem(uint32_t t, unsigned long v) : tag(t), kind(TagKind::Integer), i(int64_t(v)) {}
  TagItem(uint32_t t, double v) : tag(t), kind(TagKind::Double), d(v) {}
  TagItem(uint32_t t, const char* v) : tag(t), kind(TagKind::String), s(v) {}
  TagItem(uint32_t t, const Input* v) : tag(t), kind(TagKind::Pointer), p(v) {}
  TagItem(uint32_t t, const void* v) : tag(t), kind(TagKind::Pointer), p(v) {}
  template <class R, class... A>
  TagItem(uint32_t t, R (*fn)(A...))
      : tag(t), kind(TagKind::Function), f(reinterpret_cast<GenericFunc>(fn)) {}

  template <class Fn>
  Fn Function() const {
    return reinterpret_cast<Fn>(f);
  }
};

// An ordered tag list. An item with tag 0 ends the list; later items are dropped.
class TagList {
 public:
  TagList() = default;
  TagList(std::initializer_list<TagItem> items);
  explicit TagList(std::vector<TagItem> items);

  TagList& Append(const TagItem& item);
  TagList& Append(const TagList& other);
  friend TagList operator+(TagList a, const TagList& b) { return a.Append(b); }

  const std::vector<TagItem>& Items() const { return items_; }
  size_t Size() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }

  // The last item with this tag (later items override earlier ones), or null.
  const TagItem* Find(uint32_t tag) const;
  std::vector<const TagItem*> FindAll(uint32_t tag) const;
  std::optional<int64_t> Integer(uint32_t tag) const;
  std::optional<double> Double(uint32_t tag) const;
  const char* String(uint32_t tag) const;
  const void* Pointer(uint32_t tag) const;

  // Checks every item: the tag must be known and its value of the kind the tag
  // takes; strings must not be null. On failure names the first bad item.
  bool Validate(std::string* why) const;

 private:
  std::vector<TagItem> items_;
};

}  // namespace df
