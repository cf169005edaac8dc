// A small streaming JSON writer for the --json listings: objects, arrays,
// strings (escaped), numbers (shortest round-trip form) and null.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The next value's member name, inside an object.
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view s);
  JsonWriter& Number(double v);  // non-finite numbers are written as null
  JsonWriter& Integer(long long v);
  JsonWriter& Bool(bool b);
  JsonWriter& Null();
  JsonWriter& OptionalNumber(const std::optional<double>& v) { return v ? Number(*v) : Null(); }

  // The document, indented by two spaces per level, ending in a newline.
  std::string Text() const { return out_ + "\n"; }

  static std::string Escape(std::string_view s);

 private:
  void BeforeValue();
  void Open(char c);
  void Close(char c);

  std::string out_;
  std::vector<bool> hasItems_;  // per open level
  bool afterKey_ = false;
};

}  // namespace vorn
