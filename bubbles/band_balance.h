// Row bands of about equal drawing work for the band pass. The bubbles of a
// frame gather where they are born and drift, so equal bands leave most of
// the drawing to a few of them, and on many cores the other threads wait.
// A bubble costs about its sprite's width on each row it covers; the bands
// here split the frame where the sum of that cost (and one unit a row, so
// empty stretches are still shared out) reaches each chunk's share. Any
// split draws the same bytes: a band draws what lands in its rows.
#pragma once

#include <cstdint>
#include <vector>

#include "bubbles/bubble_system.h"

namespace bubbles {

// Fills `bounds` with chunks + 1 row starts from 0 to system.height, in
// order: chunk k draws rows [bounds[k], bounds[k + 1]). False, with
// `bounds` left empty, when there is no image, no chunk, or no memory
// (the caller then cuts equal bands). `costs` is scratch kept between
// frames.
bool BalanceBands(const BubbleSystem& system, int chunks, std::vector<int>* bounds,
                  std::vector<int64_t>* costs);

}  // namespace bubbles
