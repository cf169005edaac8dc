// The burst decision: once per rendered frame, before the bands start, every
// living bubble inside the burst region (or in its last frame of life) may
// burst, and then dies within "Burst Afterlife" frames.
#pragma once

#include "bubbles/bubble_system.h"

namespace bubbles {

// Whether the bubble meets the burst test this frame: bursts on, a burst
// image, the centre inside the image, the centre's red byte above 128 or the
// bubble in its last frame, and the random table at the centre pixel below
// the burst quantity.
bool BurstTest(const BubbleSystem& system, const Bubble& bubble);

// The burst decisions of a drawn step, over the live list as ListLive
// listed it in system.movers (`count` of them): BeginBurstTests, then
// TestBursts, over any split
// of [0, count) among threads, keeps each bubble's age in preTestAge (the
// fade uses it), bursts (burst = 1) those that meet the test and notes each
// one's facts; a second test of a bubble before the settling changes
// nothing. Then SettleBursts, on the Process thread, once every one was
// tested, draws in list order the afterlife of each bubble burst by its
// test: age = lifetime − trunc(UniformRandom() × burstAfterlife + 1), one
// draw from the calling thread's generator per burst; the facts then hold
// (factCount) until the bubbles move.
void BeginBurstTests(BubbleSystem& system);
void TestBursts(const BubbleSystem& system, int begin, int end);
void SettleBursts(BubbleSystem& system, int count);

// All of it on the calling thread, after listing the live list: returns
// the list as an array for the rest of the drawn step; without memory for
// it, the list is followed and the view is empty (count -1).
LiveView DecideBursts(BubbleSystem& system);

}  // namespace bubbles
