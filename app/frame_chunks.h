// Pieces of a render split across the tasks of a render farm: the K-th of N
// contiguous parts of a frame list, the frames of an input sequence found on
// disk, and whether a frame's output is there.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "output_pattern.h"

namespace vorn {

// At most this many parts, so a typo cannot ask for billions of tasks.
inline constexpr int kMaxChunks = 1000000;

struct ChunkSpec {
  int index = 1;  // K, from 1 to count
  int count = 1;  // N
};

// Parses "K/N" (1 <= K <= N <= kMaxChunks). False, with the reason, otherwise.
bool ParseChunk(std::string_view text, ChunkSpec* chunk, std::string* error);

// The half-open index range [begin, end) of part K of N of a list of `size`
// items: contiguous parts in order, sizes differing by at most one, the
// larger parts first. Parts beyond the list's size are empty.
struct IndexRange {
  size_t begin = 0, end = 0;
};
IndexRange ChunkRange(size_t size, const ChunkSpec& chunk);

// Frames whose file of `pattern` exists in the pattern's folder, increasing.
// The frame field must be in the file name, not in a folder name. An empty
// result is not an error; a folder that cannot be read is.
bool FramesOnDisk(const FramePattern& pattern, std::vector<int>* frames, std::string* error);

enum class SequenceScan { NoSequence, Found, Failed };

// For a render without a frame list: the frames on disk of the first image
// input ("CAPTION=FILE") that names a sequence, i.e. a pattern with a frame
// field that is not itself an existing file. NoSequence when no input does;
// Failed, with the reason, when the sequence has no file or cannot be read.
SequenceScan SequenceFramesOnDisk(const std::vector<std::string>& inputs, std::vector<int>* frames,
                                  std::string* error);

// Whether a frame's output is there: a regular file (or a link to one) that
// is not empty. A file cut to nothing by a crashed copy counts as missing.
bool OutputPresent(const std::string& path);

}  // namespace vorn
