#include "frame_chunks.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "frame_list.h"
#include "value_parse.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

// Frame numbers a file name may hold: every run of digits, read with and
// without a '-' in front of it (the '-' may be a separator or a sign).
void CandidateNumbers(std::string_view name, std::vector<int>* out) {
  out->clear();
  size_t i = 0;
  while (i < name.size()) {
    if (name[i] < '0' || name[i] > '9') {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < name.size() && name[j] >= '0' && name[j] <= '9') ++j;
    int value = 0;
    const char* begin = name.data() + i;
    if (std::from_chars(begin, name.data() + j, value).ec == std::errc()) {
      out->push_back(value);
      if (i > 0 && name[i - 1] == '-') out->push_back(-value);
    } else if (i > 0 && name[i - 1] == '-' &&
               std::from_chars(begin - 1, name.data() + j, value).ec == std::errc()) {
      out->push_back(value);  // INT_MIN reads only with its sign
    }
    i = j;
  }
}

}  // namespace

bool ParseChunk(std::string_view text, ChunkSpec* chunk, std::string* error) {
  const std::string quoted = "\"" + std::string(text) + "\"";
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos) {
    *error = quoted + " is not K/N (part K of N, e.g. 3/8)";
    return false;
  }
  std::string why;
  const auto count = ParseCount(Trim(text.substr(slash + 1)), 1, kMaxChunks, &why);
  if (!count) {
    *error = quoted + ": the part count N must be a whole number from 1 to " +
             std::to_string(kMaxChunks);
    return false;
  }
  const auto index = ParseCount(Trim(text.substr(0, slash)), 1, *count, &why);
  if (!index) {
    *error = quoted + ": the part K must be a whole number from 1 to " + std::to_string(*count);
    return false;
  }
  chunk->index = int(*index);
  chunk->count = int(*count);
  return true;
}

IndexRange ChunkRange(size_t size, const ChunkSpec& chunk) {
  const size_t n = size_t(std::max(chunk.count, 1));
  const size_t k = size_t(std::clamp(chunk.index, 1, int(n))) - 1;
  const size_t base = size / n, extra = size % n;
  IndexRange r;
  r.begin = k * base + std::min(k, extra);
  r.end = r.begin + base + (k < extra ? 1 : 0);
  return r;
}

bool FramesOnDisk(const FramePattern& pattern, std::vector<int>* frames, std::string* error) {
  frames->clear();
  const fs::path sample = pattern.Format(0);
  const fs::path folder = sample.parent_path();
  for (int f : {1, -1, 123456789})
    if (fs::path(pattern.Format(f)).parent_path() != folder) {
      *error = "the frame number is part of a folder name; give --frames";
      return false;
    }
  const fs::path where = folder.empty() ? fs::path(".") : folder;
  std::error_code ec;
  fs::directory_iterator it(where, ec);
  if (ec) {
    *error = "cannot read the folder " + where.string() + ": " + ec.message();
    return false;
  }
  std::vector<int> numbers;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    CandidateNumbers(name, &numbers);
    for (int f : numbers) {
      // The name must be exactly the pattern's name of that frame.
      if (fs::path(pattern.Format(f)).filename() != name) continue;
      if (frames->size() >= kMaxFrames) {
        *error = "more than " + std::to_string(kMaxFrames) + " files in " + where.string() +
                 " belong to the sequence; give --frames";
        return false;
      }
      frames->push_back(f);
      break;
    }
  }
  if (ec) {
    *error = "cannot read the folder " + where.string() + ": " + ec.message();
    return false;
  }
  std::sort(frames->begin(), frames->end());
  frames->erase(std::unique(frames->begin(), frames->end()), frames->end());
  return true;
}

SequenceScan SequenceFramesOnDisk(const std::vector<std::string>& inputs, std::vector<int>* frames,
                                  std::string* error) {
  for (const std::string& text : inputs) {
    std::string caption, file, ignored;
    if (!SplitAssignment(text, &caption, &file, &ignored) || file.empty()) continue;
    std::error_code ec;
    if (fs::exists(file, ec)) continue;  // one file, even if its name has a '#'
    auto pattern = FramePattern::Parse(file, &ignored);
    if (!pattern || !pattern->HasFrame()) continue;
    std::string why;
    if (!FramesOnDisk(*pattern, frames, &why)) {
      *error = "--input \"" + text + "\": " + why;
      return SequenceScan::Failed;
    }
    if (frames->empty()) {
      const std::string folder = fs::path(pattern->Format(0)).parent_path().string();
      *error = "--input \"" + text + "\": no file of the sequence is in " +
               (folder.empty() ? std::string("the current folder") : folder) + "; give --frames";
      return SequenceScan::Failed;
    }
    return SequenceScan::Found;
  }
  return SequenceScan::NoSequence;
}

bool OutputPresent(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

}  // namespace vorn
