#include "frame_list.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "value_parse.h"

namespace vorn {
namespace {

// Reads an optionally negative integer at the front of `s` and advances past it.
bool ReadInt(std::string_view& s, long long* value) {
  const char* begin = s.data();
  const char* end = s.data() + s.size();
  if (begin == end) return false;
  // from_chars accepts a leading '-' but not '+'; a '-' must be followed by a digit.
  if (*begin == '-' && (begin + 1 == end || *(begin + 1) < '0' || *(begin + 1) > '9')) return false;
  auto [ptr, ec] = std::from_chars(begin, end, *value);
  if (ec == std::errc::result_out_of_range) {
    *value = *begin == '-' ? INT64_MIN : INT64_MAX;
    // Skip the digits so the caller reports the range problem, not a syntax one.
    ptr = begin + 1;
    while (ptr != end && *ptr >= '0' && *ptr <= '9') ++ptr;
  } else if (ec != std::errc()) {
    return false;
  }
  s.remove_prefix(size_t(ptr - begin));
  return true;
}

bool InIntRange(long long v) {
  return v >= INT32_MIN && v <= INT32_MAX;
}

bool ParseItem(std::string_view item, std::vector<int>* frames, std::string* error) {
  const std::string quoted = "\"" + std::string(item) + "\"";
  std::string_view s = item;
  long long first = 0, last = 0, step = 1;
  if (!ReadInt(s, &first)) {
    *error = quoted + " is not a frame, a range A-B or a stepped range A-BxS";
    return false;
  }
  last = first;
  if (!s.empty() && s.front() == '-') {
    s.remove_prefix(1);
    if (!ReadInt(s, &last)) {
      *error = quoted + ": a range needs an end frame after '-' (A-B)";
      return false;
    }
    if (!s.empty() && (s.front() == 'x' || s.front() == 'X')) {
      s.remove_prefix(1);
      if (s.empty() || s.front() == '-' || !ReadInt(s, &step)) {
        *error = quoted + ": the step after 'x' must be a whole number of at least 1";
        return false;
      }
      if (step < 1) {
        *error = quoted + ": the step after 'x' must be at least 1";
        return false;
      }
    }
  }
  if (!s.empty()) {
    *error = quoted + " is not a frame, a range A-B or a stepped range A-BxS";
    return false;
  }
  if (!InIntRange(first) || !InIntRange(last)) {
    *error = quoted + ": frame numbers must lie between " + std::to_string(INT32_MIN) + " and " +
             std::to_string(INT32_MAX);
    return false;
  }
  if (last < first) {
    *error = quoted + ": the range runs backwards; write the lower frame first";
    return false;
  }
  // Both ends fit in 32 bits; a step beyond the span names one frame, and
  // bounding it keeps f + step below the 64-bit limit.
  step = std::min<long long>(step, UINT32_MAX);
  const long long count = (last - first) / step + 1;
  if (count > static_cast<long long>(kMaxFrames) || frames->size() + size_t(count) > kMaxFrames) {
    *error = quoted + ": more than " + std::to_string(kMaxFrames) + " frames in one list";
    return false;
  }
  for (long long f = first; f <= last; f += step) frames->push_back(int(f));
  return true;
}

}  // namespace

bool ParseFrameList(std::string_view text, std::vector<int>* frames, std::string* error) {
  frames->clear();
  if (Trim(text).empty()) {
    *error = "the frame list is empty";
    return false;
  }
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view item = Trim(text.substr(pos, comma - pos));
    if (item.empty()) {
      *error = "\"" + std::string(text) + "\" has an empty item between commas";
      return false;
    }
    if (!ParseItem(item, frames, error)) return false;
    pos = comma + 1;
  }
  std::sort(frames->begin(), frames->end());
  frames->erase(std::unique(frames->begin(), frames->end()), frames->end());
  return true;
}

std::string FormatFrameList(const std::vector<int>& frames) {
  std::string out;
  size_t i = 0;
  while (i < frames.size()) {
    // Longest run with one constant step from frames[i].
    size_t j = i + 1;
    long long step = 0;
    if (j < frames.size()) {
      step = static_cast<long long>(frames[j]) - frames[i];
      while (j + 1 < frames.size() && static_cast<long long>(frames[j + 1]) - frames[j] == step)
        ++j;
    }
    if (!out.empty()) out += ',';
    if (j < frames.size() && j - i >= 2) {
      out += std::to_string(frames[i]) + "-" + std::to_string(frames[j]);
      if (step != 1) out += "x" + std::to_string(step);
      i = j + 1;
    } else {
      out += std::to_string(frames[i]);
      ++i;
    }
  }
  return out;
}

}  // namespace vorn
