// How a render is cut into chunks: chunk k of n covers extent / n rows (or
// columns), and the last chunk runs to the end.
#pragma once

namespace fw {

struct Band {
  int begin;
  int end;
};

// The rows (or columns) of every chunk but the last: extent / workers.
constexpr int PerChunk(int workers, int extent) {
  return workers < 1 || extent <= 0 ? 0 : extent / workers;
}

// Rows (or columns) [begin, end) of chunk k of `workers` chunks of `per`
// (PerChunk) over `extent`; the last chunk runs to `extent`, and chunks
// beyond the extent are empty.
constexpr Band ChunkBand(long chunk, int workers, int per, int extent) {
  if (workers < 1 || extent <= 0 || chunk < 0 || chunk >= workers) return {0, 0};
  const int begin = int(chunk) * per;
  const int end = chunk == workers - 1 ? extent : begin + per;
  return {begin, end};
}

constexpr Band ChunkBand(long chunk, int workers, int extent) {
  return ChunkBand(chunk, workers, PerChunk(workers, extent), extent);
}

}  // namespace fw
