#include "value_parse.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <system_error>

namespace vorn {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

namespace {

std::string Quote(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  out += s;
  out += '"';
  return out;
}

std::vector<std::string_view> Split(std::string_view s, std::string_view separators) {
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (true) {
    size_t next = s.find_first_of(separators, pos);
    if (next == std::string_view::npos) {
      parts.push_back(Trim(s.substr(pos)));
      return parts;
    }
    parts.push_back(Trim(s.substr(pos, next - pos)));
    pos = next + 1;
  }
}

std::string RangeText(const ControlSpec& info) {
  if (info.minAllowed && info.maxAllowed)
    return FormatNumber(*info.minAllowed) + " to " + FormatNumber(*info.maxAllowed);
  if (info.minAllowed) return FormatNumber(*info.minAllowed) + " or more";
  if (info.maxAllowed) return FormatNumber(*info.maxAllowed) + " or less";
  return "any finite number";
}

bool CheckRange(const ControlSpec& info, double v, std::string* error) {
  if ((info.minAllowed && v < *info.minAllowed) || (info.maxAllowed && v > *info.maxAllowed)) {
    *error = FormatNumber(v) + " is outside the allowed range (" + RangeText(info) + ")";
    return false;
  }
  return true;
}

// One value (no time) for a number-valued control.
bool ParseScalar(const ControlSpec& info, std::string_view text, double* v, std::string* error) {
  switch (info.kind) {
    case ValueKind::Combo: {
      const int n = int(info.items.size());
      for (int i = 0; i < n; ++i)
        if (info.items[i] == text) return *v = i, true;
      std::string lowered = AsciiLower(text);
      int match = -1;
      for (int i = 0; i < n; ++i)
        if (AsciiLower(info.items[i]) == lowered) match = match == -1 ? i : -2;
      if (match >= 0) return *v = match, true;
      std::string ignored;
      if (auto num = ParseNumber(text, &ignored)) {
        if (*num == std::floor(*num) && *num >= 0 && *num < n) return *v = *num, true;
      }
      *error = Quote(text) + " is not an item; items: " + QuotedList(info.items);
      if (n > 0) *error += " (or their index 0 to " + std::to_string(n - 1) + ")";
      return false;
    }
    case ValueKind::CheckBox:
    case ValueKind::Button: {
      const std::string w = AsciiLower(text);
      const bool button = info.kind == ValueKind::Button;
      if (w == "1" || w == "on" || w == "true" || w == "yes" || (button && w == "press"))
        return *v = 1, true;
      if (w == "0" || w == "off" || w == "false" || w == "no") return *v = 0, true;
      *error = Quote(text) + (button ? " is not a button press; use 1 to press it (or 0)"
                                     : " is not a check box state; use 0/1, off/on, "
                                       "false/true or no/yes");
      return false;
    }
    default: {
      auto num = ParseNumber(text, error);
      if (!num) return false;
      if (!CheckRange(info, *num, error)) return false;
      *v = *num;
      return true;
    }
  }
}

bool ParsePointValue(std::string_view x, std::string_view y, double v[2], std::string* error) {
  auto px = ParseNumber(x, error);
  if (!px) return false;
  auto py = ParseNumber(y, error);
  if (!py) return false;
  // Points are stored as floats; a finite double beyond float's range would
  // become infinite there.
  if (std::fabs(*px) > 3.0e38 || std::fabs(*py) > 3.0e38) {
    *error = "a point's coordinates must be fractions of the image, within +-3e38";
    return false;
  }
  v[0] = *px;
  v[1] = *py;
  return true;
}

bool ParseTime(std::string_view text, double* time, std::string* error) {
  std::string why;
  auto t = ParseNumber(text, &why);
  if (!t) {
    *error = "the frame after '@' is not valid: " + why;
    return false;
  }
  *time = *t;
  return true;
}

}  // namespace

std::optional<double> ParsePixelAspect(std::string_view text, std::string* error) {
  auto a = ParseNumber(text, error);
  if (a && (*a < 0.01 || *a > 100)) {
    *error = FormatNumber(*a) + " is outside the allowed range (0.01 to 100)";
    return std::nullopt;
  }
  return a;
}

std::optional<double> ParseNumber(std::string_view text, std::string* error) {
  std::string_view s = Trim(text);
  if (s.empty()) {
    *error = "an empty value is not a number";
    return std::nullopt;
  }
  std::string_view body = s;
  if (body.front() == '+') {
    body.remove_prefix(1);
    if (!body.empty() && (body.front() == '-' || body.front() == '+')) body = {};  // "+-1"
  }
  // Only digits, one point, exponent and signs may appear: this refuses "inf",
  // "nan" and hexadecimal, which from_chars would otherwise accept.
  bool digit = false, plain = true;
  for (char c : body) {
    if (c >= '0' && c <= '9')
      digit = true;
    else if (c != '.' && c != 'e' && c != 'E' && c != '-' && c != '+')
      plain = false;
  }
  double v = 0.0;
  if (plain && digit && !body.empty()) {
    auto [ptr, ec] =
        std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
      *error = Quote(s) + " is beyond the range of a number";
      return std::nullopt;
    }
    if (ec == std::errc() && ptr == body.data() + body.size()) {
      if (!std::isfinite(v)) {
        *error = Quote(s) + " is not a finite number";
        return std::nullopt;
      }
      return v;
    }
  }
  const std::string lowered = AsciiLower(s);
  if (lowered.find("inf") != std::string::npos || lowered.find("nan") != std::string::npos)
    *error = Quote(s) + " is not a finite number";
  else
    *error = Quote(s) + " is not a decimal number";
  return std::nullopt;
}

std::string FormatNumber(double v) {
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
  if (ec != std::errc()) return "?";
  return std::string(buf, ptr);
}

std::string AllowedRangeText(const ControlSpec& info) {
  return RangeText(info);
}

bool SplitAssignment(std::string_view text, std::string* caption, std::string* value,
                     std::string* error) {
  const size_t eq = text.find('=');
  if (eq == std::string_view::npos) {
    *error = Quote(text) + " has no '='; write CAPTION=VALUE";
    return false;
  }
  std::string_view name = Trim(text.substr(0, eq));
  if (name.empty()) {
    *error = Quote(text) + " has no caption before '='; write CAPTION=VALUE";
    return false;
  }
  *caption = std::string(name);
  *value = std::string(Trim(text.substr(eq + 1)));
  return true;
}

bool ParseControlValue(const ControlSpec& info, std::string_view text, ParsedValue* out,
                       std::string* error) {
  out->animated = false;
  out->keys.clear();
  text = Trim(text);
  const bool point = info.kind == ValueKind::Point;
  if (text.find('@') == std::string_view::npos) {
    ParsedKey key;
    if (point) {
      auto parts = Split(text, ",");
      if (parts.size() != 2) {
        *error = Quote(text) + " is not a point; write x,y (fractions of the image)";
        return false;
      }
      if (!ParsePointValue(parts[0], parts[1], key.v, error)) return false;
    } else if (!ParseScalar(info, text, &key.v[0], error)) {
      return false;
    }
    out->keys.push_back(key);
    return true;
  }

  out->animated = true;
  std::vector<std::string_view> parts = Split(text, ",;");
  const size_t per = point ? 2 : 1;
  if (parts.size() % per != 0) {
    *error = Quote(text) + " is not a list of point keys; write x,y@frame;x,y@frame";
    return false;
  }
  for (size_t i = 0; i < parts.size(); i += per) {
    std::string_view last = parts[i + per - 1];
    const size_t at = last.rfind('@');
    if (at == std::string_view::npos || (point && parts[i].find('@') != std::string_view::npos)) {
      *error = Quote(point ? std::string(parts[i]) + "," + std::string(last) : std::string(last)) +
               " is not a key; every key is written " + (point ? "x,y@frame" : "value@frame");
      return false;
    }
    ParsedKey key;
    if (!ParseTime(last.substr(at + 1), &key.time, error)) return false;
    std::string_view valueText = Trim(last.substr(0, at));
    if (point) {
      if (!ParsePointValue(parts[i], valueText, key.v, error)) return false;
    } else if (!ParseScalar(info, valueText, &key.v[0], error)) {
      return false;
    }
    // A button's key is a press at a frame: it takes 1 and a whole frame.
    if (info.kind == ValueKind::Button && (key.v[0] != 1 || key.time != std::trunc(key.time))) {
      *error = Quote(last) + " is not a press; a button is pressed at a frame with 1@frame " +
               "(a whole frame number)";
      return false;
    }
    if (!out->keys.empty() && key.time <= out->keys.back().time) {
      *error = "key times must increase from key to key; frame " + FormatNumber(key.time) +
               " follows frame " + FormatNumber(out->keys.back().time);
      return false;
    }
    out->keys.push_back(key);
  }
  return true;
}

bool ParseSize(std::string_view text, int maxSide, long long maxPixels, int* width, int* height,
               std::string* error) {
  const std::string_view s = Trim(text);
  const size_t sep = s.find_first_of("xX,");
  auto bad = [&] {
    *error = Quote(s) + " is not a size; write WIDTHxHEIGHT, e.g. 1920x1080";
    return false;
  };
  if (sep == std::string_view::npos) return bad();
  long long w = 0, h = 0;
  const std::string_view ws = Trim(s.substr(0, sep)), hs = Trim(s.substr(sep + 1));
  auto whole = [](std::string_view t, long long* v) {
    if (t.empty()) return false;
    for (char c : t)
      if (c < '0' || c > '9') return false;
    auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), *v);
    if (ec == std::errc::result_out_of_range) *v = LLONG_MAX;
    return ec == std::errc() || ec == std::errc::result_out_of_range;
  };
  if (!whole(ws, &w) || !whole(hs, &h)) return bad();
  if (w < 1 || h < 1 || w > maxSide || h > maxSide || w * h > maxPixels) {
    *error = Quote(s) + ": each side must be 1 to " + std::to_string(maxSide) + " pixels and " +
             "the image at most " + std::to_string(maxPixels) + " pixels";
    return false;
  }
  *width = int(w);
  *height = int(h);
  return true;
}

std::optional<long long> ParseCount(std::string_view text, long long minValue, long long maxValue,
                                    std::string* error) {
  const std::string_view s = Trim(text);
  long long v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size() || v < minValue ||
      v > maxValue) {
    *error = Quote(s) + " is not a whole number from " + std::to_string(minValue) + " to " +
             std::to_string(maxValue);
    return std::nullopt;
  }
  return v;
}

std::string QuotedList(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ", ";
    out += Quote(names[i]);
  }
  return out.empty() ? "(none)" : out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

}  // namespace vorn
