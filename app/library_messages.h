// The image library and the format libraries under it print some messages on
// stderr by themselves ("libpng error: ..."), ahead of vorn's own report of
// the same problem. While a file is read those messages are held back: vorn
// reports the reason itself, in one line. vorn's own messages to stderr go
// through the same lock, so none of them is lost meanwhile.
#pragma once

#include <mutex>

namespace vorn {

// The lock every vorn message to stderr is printed under.
std::mutex& StderrMutex();

class HeldLibraryMessages {
 public:
  HeldLibraryMessages();
  ~HeldLibraryMessages();
  HeldLibraryMessages(const HeldLibraryMessages&) = delete;
  HeldLibraryMessages& operator=(const HeldLibraryMessages&) = delete;

 private:
  std::unique_lock<std::mutex> lock_;
  int saved_ = -1;
};

}  // namespace vorn
