// A writer thread's last file header made by the image library for a layout.
//
// The DPX and EXR headers are taken from a one-pixel file the library
// encodes, which costs more than half a millisecond a frame, and they hold
// the time of writing to the second. The header made for a layout is reused
// for the same layout within the same second, when the library would make
// the same bytes again.
#pragma once

#include <ctime>
#include <string>
#include <utility>

namespace vorn {

template <class Header>
class HeaderCache {
 public:
  // The header for `key` (every property of the layout that the header
  // holds): the kept one, or what `make(Header*)` makes (false when it
  // fails). A header is kept only when the clock showed the same second
  // before and after it was made.
  template <class Make>
  bool Get(const std::string& key, Header* header, Make make) {
    const std::time_t second = std::time(nullptr);
    if (kept_ && second == second_ && key == key_) {
      *header = header_;
      return true;
    }
    kept_ = false;
    if (!make(header)) return false;
    if (std::time(nullptr) == second) {
      key_ = key;
      second_ = second;
      header_ = *header;
      kept_ = true;
    }
    return true;
  }

 private:
  bool kept_ = false;
  std::string key_;
  std::time_t second_ = 0;
  Header header_;
};

}  // namespace vorn
