#include "serve/token.h"

#include <cstdint>
#include <cstdio>

namespace vorn::serve {

std::string NewToken() {
  unsigned char bytes[16];
  std::FILE* f = std::fopen("/dev/urandom", "rb");
  if (!f) return {};
  const size_t got = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  if (got != sizeof bytes) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

bool SameToken(std::string_view given, std::string_view expected) {
  if (expected.empty()) return false;
  // Every byte of the expected token is looked at whatever the given length.
  unsigned diff = given.size() == expected.size() ? 0u : 1u;
  for (size_t i = 0; i < expected.size(); ++i) {
    const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    diff |= g ^ static_cast<unsigned char>(expected[i]);
  }
  return diff == 0;
}

std::optional<std::string> CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t end = header.find(';');
    std::string_view part = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) part.remove_prefix(1);
    const size_t eq = part.find('=');
    if (eq == std::string_view::npos || part.substr(0, eq) != name) continue;
    return std::string(part.substr(eq + 1));
  }
  return std::nullopt;
}

std::string TokenCookie(const std::string& token) {
  return std::string(kTokenCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict";
}

}  // namespace vorn::serve
