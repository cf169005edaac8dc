#include "json_writer.h"

#include <cmath>
#include <cstdio>

#include "value_parse.h"

namespace vorn {

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!hasItems_.empty()) {
    if (hasItems_.back()) out_ += ',';
    hasItems_.back() = true;
    out_ += '\n';
    out_.append(hasItems_.size() * 2, ' ');
  }
}

void JsonWriter::Open(char c) {
  BeforeValue();
  out_ += c;
  hasItems_.push_back(false);
}

void JsonWriter::Close(char c) {
  const bool items = !hasItems_.empty() && hasItems_.back();
  if (!hasItems_.empty()) hasItems_.pop_back();
  if (items) {
    out_ += '\n';
    out_.append(hasItems_.size() * 2, ' ');
  }
  out_ += c;
}

JsonWriter& JsonWriter::BeginObject() {
  return Open('{'), *this;
}
JsonWriter& JsonWriter::EndObject() {
  return Close('}'), *this;
}
JsonWriter& JsonWriter::BeginArray() {
  return Open('['), *this;
}
JsonWriter& JsonWriter::EndArray() {
  return Close(']'), *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
  BeforeValue();
  out_ += Escape(name);
  out_ += ": ";
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view s) {
  BeforeValue();
  out_ += Escape(s);
  return *this;
}

JsonWriter& JsonWriter::Number(double v) {
  if (!std::isfinite(v)) return Null();
  BeforeValue();
  out_ += FormatNumber(v);
  return *this;
}

JsonWriter& JsonWriter::Integer(long long v) {
  BeforeValue();
  out_ += std::to_string(v);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool b) {
  BeforeValue();
  out_ += b ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
  return *this;
}

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c >= 0xF0 && c <= 0xF4   ? 4
             : c >= 0xE0 && c <= 0xEF ? 3
             : c >= 0xC2 && c <= 0xDF ? 2
                                      : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

std::string JsonWriter::Escape(std::string_view s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c >= 0x80) {
          // Strings from plug-ins need not be UTF-8: other bytes are taken as Latin-1.
          if (const size_t n = Utf8Length(s, i)) {
            out.append(s.substr(i, n));
            i += n - 1;
            break;
          }
        }
        if (c < 0x20 || c >= 0x80) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace vorn
