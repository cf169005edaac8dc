// Atomic replacement of output files. The content is written to a temporary
// file in the destination's folder and renamed over the destination only when
// every byte was written and synced, so a reader never sees a partial file
// and a failed or cancelled write leaves nothing but what was there before.
// Temporary names are unpredictable and created exclusively, never through a
// symbolic link, so nobody can make vorn write elsewhere by planting one.
#pragma once

#include <cstddef>
#include <set>
#include <string>

namespace vorn {

// The alignment (in memory and in the file) of the blocks a large file is
// written in past the page cache.
inline constexpr size_t kDirectAlign = 4096;

class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();  // discards the file unless it was committed
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates the temporary file that will become `path`. False with the reason.
  bool Create(const std::string& path, std::string* error);
  // Writes all of `data`; false with the reason (a full disk, say).
  bool Write(const void* data, size_t size, std::string* error);
  // Write for a whole file's content in one call: a large file's whole
  // blocks go past the page cache where the file system allows it, straight
  // from `data` when it is aligned to kDirectAlign.
  bool WriteWhole(const void* data, size_t size, std::string* error);
  // The open descriptor, for writers that need one; -1 when none.
  int Descriptor() const { return fd_; }
  // Syncs, closes and renames over the destination. On failure the temporary
  // file is removed and the destination left as it was.
  bool Commit(std::string* error);
  // Closes and removes the temporary file.
  void Discard();
  const std::string& TempPath() const { return temp_; }

 private:
  size_t WriteDirect(const void* data, size_t size);

  std::string path_, temp_;
  int fd_ = -1;
  int slot_ = -1;
};

// A private folder (mode 0700, unpredictable name) in the destination's
// folder, for programs that write a file by name: they write FilePath(), and
// Commit renames it over the destination.
class TemporaryFolder {
 public:
  TemporaryFolder() = default;
  ~TemporaryFolder();  // removes the folder and what it holds unless committed
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  // `name` is the file name the program writes inside, e.g. "out.mp4".
  bool Create(const std::string& path, const std::string& name, std::string* error);
  const std::string& FilePath() const { return file_; }
  bool Commit(std::string* error);
  void Discard();

 private:
  std::string path_, folder_, file_;
  int fileSlot_ = -1, folderSlot_ = -1;
};

// Writes `size` bytes as `path`, atomically. False with the reason.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size,
                         std::string* error);

// A hidden name for a temporary beside `fileName` (the last part of a path):
// a shortened copy of the name, a marker and `random`, and the extension, so
// that it stays within the 255 bytes a folder entry may have.
std::string TemporaryName(const std::string& fileName, const std::string& random);

// The check every output file passes before anything is written. `path`
// may be written when: its name has at most 255 bytes and the path fewer
// than PATH_MAX; what is at the name now is a regular file (replaced), a
// link to one or nothing (a folder, a device, a pipe or a socket is never
// replaced); the existing part of its folder chain consists of folders
// (links resolved), the deepest of which is writable; and, when `root` is
// given (absolute, links resolved), the existing folders and any link at the
// name resolve inside `root`. Folders that do not exist yet are allowed:
// MakeOutputFolders makes them once the whole request has passed. A folder
// already passed is skipped when `checkedFolders` holds it. False with the
// reason.
bool CheckOutputPath(const std::string& path, const std::string& root, std::string* error,
                     std::set<std::string>* checkedFolders = nullptr);

// Makes the missing folders of `path`'s folder chain, like `mkdir -p`; with
// `root`, each folder made or met must resolve inside it. False with the
// reason.
bool MakeOutputFolders(const std::string& path, const std::string& root, std::string* error);

// A path made absolute and normal, with the links of its existing part
// resolved: two paths that name the same file (or would) have the same key.
std::string PathKey(const std::string& path);

}  // namespace vorn
