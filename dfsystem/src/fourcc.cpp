#include "dfsystem/fourcc.h"

#include <cstdio>

namespace df {

std::string HexText(uint32_t value) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", value);
  return hex;
}

std::string FourCCText(uint32_t code) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(code >> (8 * i));
    if (c < 0x20 || c > 0x7E) {
      return HexText(code);
    }
    text.push_back(static_cast<char>(c));
  }
  return text;
}

}  // namespace df
