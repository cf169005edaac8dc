// The bubble renderer: what each frame draws of the living bubbles. Before
// the bands start, the burst decisions and PrepareSprites settle everything
// the bands share; then DrawBand draws every living bubble
// into one band of rows, on any number of workers at once, reading only.
#pragma once

#include <cstddef>

#include "bubbles/bubble_blit.h"
#include "bubbles/bubble_system.h"

namespace bubbles {

// Makes (or remakes for a new width) the sprite of every living bubble's
// size step of the current type, from the bubbles' facts where they hold
// for `live`. Process thread, before the bands.
void PrepareSprites(BubbleSystem& system, LiveView live = {});

// Whether system.facts hold for every bubble of `live`.
inline bool FactsHold(const BubbleSystem& system, LiveView live) {
  return live.count >= 0 && system.factCount == live.count && live.items == system.movers;
}

// The centre pixel of a bubble: trunc(width × x + 0.5), trunc(height × y +
// 0.5), kept within ±kFarPixel (any such bubble lies wholly off the image).
inline constexpr int kFarPixel = 1 << 29;
int CentreColumn(const BubbleSystem& system, const Bubble& bubble);
int CentreRow(const BubbleSystem& system, const Bubble& bubble);

// Centre, faded colours (from the age before this frame's burst test), light
// factor and level, and light vector of a bubble.
BubbleLook LookOfBubble(const BubbleSystem& system, const Bubble& bubble);

// The frame's shading constants: shine powers, minimum brightness, the
// reflection image when reflections are on and it is present, the row step.
BlitShade ShadeOfFrame(const BubbleSystem& system);

// One bubble into rows [firstRow, endRow): its sprite as a disc, or as a
// spray of fragments once it has burst or has left the gather region.
void DrawBubble(const BubbleSystem& system, const Bubble& bubble, int firstRow, int endRow);

// Every living bubble into rows [firstRow, endRow), newest first, so older
// bubbles cover newer ones. Stops before the next bubble once the render is
// cancelled.
void DrawBand(const BubbleSystem& system, int firstRow, int endRow);

// The same from a band plan's list (band_balance.h): only the listed bubbles
// whose rows meet the band are drawn, in the list's order.
struct BandPlan;
void DrawPlannedBand(const BubbleSystem& system, const BandPlan& plan, int firstRow, int endRow);

}  // namespace bubbles
