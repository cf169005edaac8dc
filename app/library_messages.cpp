#include "library_messages.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace vorn {

std::mutex& StderrMutex() {
  static std::mutex mutex;
  return mutex;
}

HeldLibraryMessages::HeldLibraryMessages() : lock_(StderrMutex()) {
  std::fflush(stderr);
  saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  const int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved_ >= 0 && sink >= 0) ::dup2(sink, STDERR_FILENO);
  if (sink >= 0) ::close(sink);
}

HeldLibraryMessages::~HeldLibraryMessages() {
  std::fflush(stderr);
  if (saved_ >= 0) {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
}

}  // namespace vorn
