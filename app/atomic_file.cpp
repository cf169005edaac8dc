#include "atomic_file.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace vorn {

namespace fs = std::filesystem;

std::string TemporaryPathFor(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const fs::path p(path);
  const std::string name = "." + p.stem().string() + ".vorn-" + std::to_string(getpid()) + "-" +
                           std::to_string(counter.fetch_add(1)) + ".tmp" + p.extension().string();
  return (p.parent_path() / name).string();
}

bool CommitTemporary(const std::string& temp, const std::string& path, std::string* error) {
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot move the finished file into place as " + path + ": " + std::strerror(errno);
    DiscardTemporary(temp);
    return false;
  }
  return true;
}

void DiscardTemporary(const std::string& temp) {
  ::unlink(temp.c_str());
}

bool CheckOutputFolder(const std::string& path, std::string* error) {
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    *error = "the folder " + folder.string() + " for " + path + " does not exist";
    return false;
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    *error = "the folder " + folder.string() + " for " + path + " is not writable";
    return false;
  }
  if (fs::is_directory(path, ec)) {
    *error = path + " is a folder; name a file";
    return false;
  }
  return true;
}

}  // namespace vorn
