// Frame lists as VFX command lines write them: "1-100", "1-100x2", "1,5,10-20",
// negative frames ("-10--1", "-5").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// Upper bound on the frames one list may name, so that a typo such as
// "1-2000000000" is refused instead of exhausting memory.
inline constexpr size_t kMaxFrames = 1000000;

// Parses a comma-separated list of items: N, A-B (A <= B) or A-BxS (S >= 1).
// Blanks around items are ignored. The result is sorted in increasing order
// without duplicates, since frames render in increasing order on one
// operator. False, with the reason, for anything else.
bool ParseFrameList(std::string_view text, std::vector<int>* frames, std::string* error);

// Compact form of a sorted list for messages: "1-10,12,20-30x2".
std::string FormatFrameList(const std::vector<int>& frames);

}  // namespace vorn
