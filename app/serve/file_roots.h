// The folders `vorn serve` may read and write: the current folder, the
// folders of the files named on its command line and each --root. The page
// names a file by a root's index and a path relative to it; the path is
// checked before anything touches the file system.
#pragma once

#include <string>
#include <vector>

namespace vorn::serve {

class FileRoots {
 public:
  // Adds a folder, made absolute with symbolic links resolved; a folder
  // already present is not added twice. False, with the reason, when it is
  // not an existing folder.
  bool Add(const std::string& folder, std::string* error);
  const std::vector<std::string>& Folders() const { return folders_; }

  enum class Use { Read, Write };

  // The file `relative` inside root `root`, as a path with every folder
  // resolved. Refused with the reason: an unknown root; an empty, absolute
  // or over-long path; a part that is empty, "." or ".."; a NUL, backslash or
  // control character; a folder that does not exist or a symbolic link that
  // leads out of the root; for reading, a file that is not a regular file;
  // for writing, what CheckOutputPath refuses (a folder, a device...).
  bool Resolve(size_t root, const std::string& relative, Use use, std::string* path,
               std::string* error) const;

  // An output path of root `root`, not resolved: `relative` passes the
  // checks of Resolve that need no file system, and `folder` is the root.
  // The writer checks each file it makes (CheckOutputPath with the root),
  // so that a pattern's frames and missing folders are checked one by one.
  bool OutputPath(size_t root, const std::string& relative, std::string* path, std::string* folder,
                  std::string* error) const;

  // Whether `path` (absolute, normal) lies inside one of the roots.
  bool Contains(const std::string& path) const;

 private:
  std::vector<std::string> folders_;
};

// Whether `path` is `folder` or lies below it (both absolute and normal).
bool IsInside(const std::string& path, const std::string& folder);

}  // namespace vorn::serve
