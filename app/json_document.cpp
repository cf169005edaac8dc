#include "json_document.h"

#include <cmath>

namespace vorn {

JsonDoc JsonNumber(double v) {
  if (!std::isfinite(v)) return nullptr;
  constexpr double kExactWhole = 9007199254740992.0;  // 2^53
  if (v == std::trunc(v) && std::fabs(v) < kExactWhole && !(v == 0 && std::signbit(v)))
    return static_cast<long long>(v);
  return v;
}

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  const size_t n = c >= 0xF0 && c <= 0xF4   ? 4
                   : c >= 0xE0 && c <= 0xEF ? 3
                   : c >= 0xC2 && c <= 0xDF ? 2
                                            : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

JsonDoc JsonString(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += char(c);
    } else if (const size_t n = Utf8Length(s, i)) {
      out.append(s.substr(i, n));
      i += n - 1;
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string JsonText(const JsonDoc& doc) {
  // Strings went in through JsonString; `replace` only guards against a
  // caller that bypassed it, so printing never throws.
  return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace vorn
