// The per-run secret that every request to `vorn serve` must carry: made from
// the system's random source, compared in constant time, and read from the
// query string, a cookie or a header.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn::serve {

inline constexpr const char* kTokenCookie = "vorn_token";
inline constexpr const char* kTokenHeader = "X-Vorn-Token";

// 32 lower-case hexadecimal digits (128 random bits); empty when the system
// has no random source.
std::string NewToken();

// Equal texts, compared in time that does not depend on where they differ.
bool SameToken(std::string_view given, std::string_view expected);

// The value of cookie `name` in a Cookie header ("a=1; vorn_token=xyz"), if any.
std::optional<std::string> CookieValue(std::string_view header, std::string_view name);

// The Set-Cookie value that hands the token to the page: HttpOnly, so the
// page's scripts never see it, and SameSite=Strict, so no other site's page
// can make the browser send it.
std::string TokenCookie(const std::string& token);

}  // namespace vorn::serve
