// The --json listings are nlohmann documents whose members keep the order they
// were added in. Numbers and plug-in text go in through the two helpers below,
// which hold the rules the listings have always printed by.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace vorn {

using JsonDoc = nlohmann::ordered_json;

// A whole number (below 2^53 in size) as an integer, so it prints without a
// fraction; any other finite value as a double (shortest round-trip form);
// NaN and infinities as null.
JsonDoc JsonNumber(double v);

// Text from a plug-in or the command line: valid UTF-8 is kept as it is and
// any other byte is taken as Latin-1, so the document is always valid UTF-8.
JsonDoc JsonString(std::string_view s);

// The document indented by two spaces per level, ending in a newline.
std::string JsonText(const JsonDoc& doc);

}  // namespace vorn
