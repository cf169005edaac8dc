// The band pass's plan: which rows each chunk draws, and the frame's bubbles
// with the rows they can touch.
//
// The bubbles of a frame gather where they are born and drift, so equal
// bands leave most of the drawing to a few of them, and on many cores the
// other threads wait. A bubble costs about its sprite's visible width on
// each row it covers; the bands here split the frame where the sum of that
// cost (and a row's own cost: the band clears it before drawing, so empty
// stretches are still shared out) reaches each chunk's share. Any split
// draws the same bytes: a band draws what lands in its rows.
//
// The shares shrink from the first band to the last (the first carries 7
// times the last's): threads take bands in order as they come free, so the
// last ones to be taken are small, and a band that takes longer than its
// share (another process on the core, a cold cache) holds up its thread's
// finish by little.
//
// Each band would otherwise walk every living bubble and work out its
// centre and sprite to find the few it touches; the plan lists them once,
// in drawing order, with their first and last rows.
#pragma once

#include <cstdint>
#include <vector>

#include "bubbles/bubble_system.h"

namespace bubbles {

// The bubbles that may draw this frame, in liveList order, and the rows
// [tops[i], bottoms[i]] each can touch (the whole frame for a spray, whose
// fragments fly). The rows lie apart from the bubbles so a band can pick
// out its bubbles several at a time.
struct BandPlan {
  std::vector<const Bubble*> bubbles;
  std::vector<int32_t> tops, bottoms;
  std::vector<int> bounds;     // chunk k draws rows [bounds[k], bounds[k + 1])
  std::vector<int64_t> costs;  // scratch
};

// The share of a frame's cost held by bands [0, k) of `chunks`: band i
// holds (7/4 − 3/2 × i / (chunks − 1)) / chunks, from 7/4 of an even share
// down to 1/4; one band holds it all.
long double BandShares(int k, int chunks);

// Fills `plan` for `chunks` chunks: chunks + 1 row starts from 0 to
// system.height, in order. False, with the plan's lists empty, when there is
// no image, no chunk, or no memory (the caller then draws equal bands from
// the live list). The vectors keep their memory from frame to frame.
// `live`: the step's live list as an array, when the burst decisions made one.
bool PlanBands(const BubbleSystem& system, int chunks, BandPlan* plan, LiveView live = {});

}  // namespace bubbles
