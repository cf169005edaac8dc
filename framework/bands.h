// How a render is cut into chunks: chunk k of n covers extent / n rows (or
// columns), and the last chunk runs to the end.
#pragma once

namespace fw {

struct Band {
  int begin;
  int end;
};

// Rows (or columns) [begin, end) of chunk k of `workers` over `extent`; the
// last chunk runs to `extent`, and chunks beyond the extent are empty.
constexpr Band ChunkBand(long chunk, int workers, int extent) {
  if (workers < 1 || extent <= 0 || chunk < 0 || chunk >= workers) return {0, 0};
  const int per = extent / workers;
  const int begin = int(chunk) * per;
  const int end = chunk == workers - 1 ? extent : begin + per;
  return {begin, end};
}

}  // namespace fw
