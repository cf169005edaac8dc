// The band pass's plan: which rows each chunk draws, and the frame's bubbles
// with the rows they can touch.
//
// The bubbles of a frame gather where they are born and drift, so equal
// bands leave most of the drawing to a few of them, and on many cores the
// other threads wait. A bubble costs about its sprite's visible width on
// each row it covers (the width of the square the sprite is made in, known
// before it is made); the bands here split the frame where the sum of that
// cost (and a row's own cost: the band clears it before drawing, so empty
// stretches are still shared out) reaches each chunk's share. Any split
// draws the same bytes: a band draws what lands in its rows.
//
// With several bands a thread the shares shrink from the first band to the
// last: threads take bands in order as they come free, so the last ones to
// be taken are small, and a band that takes longer than its share (another
// process on the core, a cold cache) holds up its thread's finish by little.
//
// Each band would otherwise walk every living bubble and work out its
// centre and sprite to find the few it touches; the plan lists them once,
// in drawing order, with their first and last rows.
#pragma once

#include <cstdint>
#include <vector>

#include "bubbles/bubble_system.h"

namespace bubbles {

// The frame's sprite rows: each size step's half side from SpriteSide, and
// a spray's reach: a sprite row dy rows from the centre throws between 1
// and 2 times dy × the burst radius away (2 rows spare for the rounding),
// never beyond the frame's height.
SpriteRows SpriteRowsOf(const BubbleSystem& system);

// Where a bubble may draw this frame, rows [drawTop, drawBottom] (none
// where drawTop > drawBottom; the rows its fragments reach for a spray),
// and what drawing it costs: its visible sprite width on each of rows
// [costTop, costEnd) (0 off the image).
struct BubbleRows {
  int32_t drawTop, drawBottom;
  int32_t costTop, costEnd, visible;
};
BubbleRows RowsOf(const BubbleSystem& system, const SpriteRows& rows, const Bubble& bubble);

struct BandPlan {
  // What the bands draw: `count` bubbles in liveList order, each with the
  // rows [tops[i], bottoms[i]] it can touch (none where tops[i] >
  // bottoms[i]). The burst tests' notes where they hold, else the lists
  // below. The rows lie apart from the bubbles so a band can pick out its
  // bubbles several at a time.
  const Bubble* const* bubbles = nullptr;
  const int32_t* tops = nullptr;
  const int32_t* bottoms = nullptr;
  size_t count = 0;
  std::vector<int> bounds;  // chunk k draws rows [bounds[k], bounds[k + 1])

  // The plan's own lists (only the bubbles that can draw), and scratch.
  std::vector<const Bubble*> listed;
  std::vector<int32_t> listedTops, listedBottoms;
  std::vector<int64_t> costs;

  // How many of the bubbles can draw.
  size_t Drawn() const;
};

// The share of a frame's cost held by bands [0, k) of `chunks` run on
// `threads` threads: band i holds (1 + a − 2a × i / (chunks − 1)) / chunks,
// a = 3/4 × (1 − threads / chunks): even shares where each thread takes one
// band, and from nearly 7/4 down to 1/4 of an even share with many bands a
// thread; one band holds it all.
long double BandShares(int k, int chunks, int threads);

// Fills `plan` for `chunks` chunks run on `threads` threads (BandShares):
// chunks + 1 row starts from 0 to
// system.height, in order. False, with the plan's lists empty, when there is
// no image, no chunk, or no memory (the caller then draws equal bands from
// the live list). The vectors keep their memory from frame to frame.
// `live`: the step's live list as an array, when the burst decisions made one.
bool PlanBands(const BubbleSystem& system, int chunks, int threads, BandPlan* plan,
               LiveView live = {});

}  // namespace bubbles
