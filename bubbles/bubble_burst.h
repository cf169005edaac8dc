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

// Walks the live list in order: keeps each bubble's age in preTestAge (the
// fade uses it), and bursts the bubbles that meet the test: burst = 1 and
// age = lifetime − trunc(UniformRandom() × burstAfterlife + 1), one draw
// from the calling thread's generator per burst. Process thread only.
// Returns the live list copied into system.movers, for the rest of the
// drawn step; the copy holds until the list next changes.
LiveView DecideBursts(BubbleSystem& system);

}  // namespace bubbles
