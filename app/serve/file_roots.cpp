#include "serve/file_roots.h"

#include <sys/stat.h>

#include <filesystem>

#include "atomic_file.h"

namespace vorn::serve {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxPathBytes = 1024;

bool CheckRelative(const std::string& relative, std::string* error) {
  if (relative.empty()) {
    *error = "no file name given";
    return false;
  }
  if (relative.size() > kMaxPathBytes) {
    *error = "the path is longer than " + std::to_string(kMaxPathBytes) + " bytes";
    return false;
  }
  if (relative.front() == '/') {
    *error = "\"" + relative + "\" is an absolute path; give a path inside the chosen folder";
    return false;
  }
  for (unsigned char c : relative) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      *error = "the path holds a control character or a backslash";
      return false;
    }
  }
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") {
      *error = "\"" + relative + "\" has an empty, \".\" or \"..\" part; name a file below the " +
               "chosen folder";
      return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

bool IsInside(const std::string& path, const std::string& folder) {
  if (path == folder) return true;
  if (folder == "/") return !path.empty() && path.front() == '/';
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

bool FileRoots::Add(const std::string& folder, std::string* error) {
  std::error_code ec;
  const fs::path canonical = fs::canonical(folder.empty() ? "." : folder, ec);
  if (ec || !fs::is_directory(canonical, ec)) {
    *error = "folder " + folder + " does not exist or is not a folder";
    return false;
  }
  const std::string text = canonical.string();
  for (const std::string& f : folders_)
    if (f == text) return true;
  folders_.push_back(text);
  return true;
}

bool FileRoots::Contains(const std::string& path) const {
  for (const std::string& f : folders_)
    if (IsInside(path, f)) return true;
  return false;
}

bool FileRoots::Resolve(size_t root, const std::string& relative, Use use, std::string* path,
                        std::string* error) const {
  if (root >= folders_.size()) {
    *error = "no folder number " + std::to_string(root) + "; there are " +
             std::to_string(folders_.size());
    return false;
  }
  if (!CheckRelative(relative, error)) return false;
  const std::string& base = folders_[root];
  const fs::path joined = fs::path(base) / relative;
  std::error_code ec;
  const fs::path parent = fs::canonical(joined.parent_path(), ec);
  if (ec || !fs::is_directory(parent, ec)) {
    *error = "the folder of \"" + relative + "\" does not exist in " + base;
    return false;
  }
  if (!IsInside(parent.string(), base)) {
    *error = "\"" + relative + "\" leads out of " + base + " through a symbolic link";
    return false;
  }
  const fs::path target = parent / joined.filename();
  struct stat link;
  const bool exists = ::lstat(target.c_str(), &link) == 0;
  if (exists && S_ISLNK(link.st_mode)) {
    const fs::path resolved = fs::canonical(target, ec);
    if (ec || !IsInside(resolved.string(), base)) {
      *error = "\"" + relative + "\" is a symbolic link that leads out of " + base;
      return false;
    }
  }
  struct stat info;
  const bool present = ::stat(target.c_str(), &info) == 0;
  if (use == Use::Read && (!present || !S_ISREG(info.st_mode))) {
    *error = "\"" + relative + "\" " + (present ? "is not a regular file" : "does not exist") +
             " in " + base;
    return false;
  }
  if (use == Use::Write && !CheckOutputPath(target.string(), base, error)) return false;
  *path = target.string();
  return true;
}

bool FileRoots::OutputPath(size_t root, const std::string& relative, std::string* path,
                           std::string* folder, std::string* error) const {
  if (root >= folders_.size()) {
    *error = "no folder number " + std::to_string(root) + "; there are " +
             std::to_string(folders_.size());
    return false;
  }
  if (!CheckRelative(relative, error)) return false;
  *folder = folders_[root];
  *path = (fs::path(*folder) / relative).string();
  return true;
}

}  // namespace vorn::serve
