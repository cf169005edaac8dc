// Reading a whole small file (a saved composition) into memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

// A composition is a few kilobytes; anything far larger is refused unread.
inline constexpr uintmax_t kMaxCompositionBytes = 64u << 20;

// False, with the reason ("does not exist", "is not a file", too large, a read
// error), when the file cannot be had whole.
bool ReadFileBytes(const std::string& path, uintmax_t maxBytes, std::vector<uint8_t>* bytes,
                   std::string* error);

}  // namespace vorn
