// The chunk count the host asks the tools for when the user sets none.
//
// A tool cuts a pass into N bands of extent / N rows (or columns) and gives
// the last band the leftover: 1080 rows in 64 chunks are 63 bands of 16 and
// one of 72, which then finishes alone long after the others. Near the
// wanted count, the host picks a count whose bands split the frame's height
// and width evenly, or nearly.
#pragma once

namespace vorn {

// The efficiency (0 to 1) of `chunks` bands of equal cost per row over
// `extent` rows, handed in order to whichever of `threads` threads is free
// first: the ideal time (extent ÷ threads) over the time the last band ends.
double EvenCostEfficiency(int extent, int chunks, int threads);

// A chunk count from 3/4 to 3/2 of `wanted` (at least 1, at most the
// runtime's limit) with the best EvenCostEfficiency on `threads` threads for
// the worse of `width` and `height`; among equals, the nearest to `wanted`,
// then the larger.
int ChooseChunkCount(int width, int height, int wanted, int threads);

}  // namespace vorn
