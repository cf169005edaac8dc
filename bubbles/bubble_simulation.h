// One frame of the bubble simulation: restart and preroll requests, then one
// step of births, the render pass and the update of every living bubble.
#pragma once

#include <atomic>

#include "bubbles/bubble_system.h"
#include "bubbles/frame_parameters.h"
#include "framework/host.h"
#include "framework/noise.h"

namespace bubbles {

// The line along which bubbles are born, in fractions of the frame.
struct SourceLine {
  double leftX = 0, leftY = 0;
  double rightX = 0, rightY = 0;
};
SourceLine SourceLineOf(const FrameParameters& p);

// The noise gradients and the table of uniform numbers, built once per
// operator from the seed 667.
struct NoiseTables {
  fw::Gradient gradients[fw::kGradientCount];
  float randomTable[fw::kRandomTableSize];
};

// Seeds the calling thread's generator with 667 and fills the tables.
void BuildTables(NoiseTables& tables);

// Requests the change handler raises for the next frame, and whether the
// tables are still to be built. The flags are written from the handler's
// thread and read and cleared by PrepareFrame, each in one indivisible access.
struct FrameRequests {
  std::atomic<int> restartRequested{0};
  std::atomic<int> prerollRequested{0};
  int tablesPending = 1;
};

// The frame's images (burst and reflection may be null, all of the birth
// image's size) and its time. `outputCleared` says the output is already
// transparent black (a new image from the runtime is): clearing it again
// would be a serial pass over the whole frame before the parallel one.
struct FrameImages {
  const df::Image* birth = nullptr;
  const df::Image* burst = nullptr;
  const df::Image* reflection = nullptr;
  df::Image* output = nullptr;
  float time = 0;
  bool outputCleared = false;
};

// Prepares the frame (tables on first use, derived fields, images, the
// output cleared unless it already is), honours a pending restart, then a pending preroll of silent
// steps. False once the system's abortFlag is set at one of its checks: the frame then has no drawn
// step, and an abort during the preroll keeps the request. A frame goes on with the drawn step at
// time trunc(images.time): BeginDrawnStep, the band pass (DrawBand over every band), UpdateBubbles.
bool PrepareFrame(BubbleSystem& system, FrameRequests& requests, NoiseTables& tables,
                  const FrameParameters& params, const FrameImages& images);

// A silent step, as in a preroll: births, then the update; draws nothing.
// `time` feeds the swirl's third noise coordinate.
void StepSimulation(BubbleSystem& system, float time, const SourceLine& line);

// A drawn step up to its band pass: births, then on this thread the burst
// decisions and the sprites the bands will read. False when the render was
// cancelled during the births: the step then ends without band pass and
// update.
// `live`, when given, receives the live list as an array for the rest of
// the step.
bool BeginDrawnStep(BubbleSystem& system, const SourceLine& line, LiveView* live = nullptr);

// The births of one step. False when the render was cancelled during them:
// the step then ends without render pass and update.
bool BirthBubbles(BubbleSystem& system, const SourceLine& line);

// Ages, moves, grows and removes every living bubble; draws no random numbers.
// AgeBubbles then MoveBubbles over every mover, on the calling thread.
void UpdateBubbles(BubbleSystem& system, float time);

// The first half of the update: every living bubble ages, and those at the
// end of their life go back to the pool; the others are listed in
// system.movers (kListed). kCancelled: the render was cancelled and the
// update ends. kUnlisted: no memory for the list; MoveBubbles(system, -1, -1,
// time) then moves them from the live list on one thread.
enum class Aged { kListed, kUnlisted, kCancelled };
// `live`: the step's live list as an array, when the burst decisions made
// one (the list must not have changed since).
Aged AgeBubbles(BubbleSystem& system, LiveView live = {});

// The second half: movers [begin, end) are slowed in the gather region,
// moved under gravity and friction, grown by their type, pushed by the wind
// and stirred by the swirl. Each bubble's move reads only itself and the
// frame's parameters, tables and burst image, so any split of the list among
// threads gives the same bubbles. begin = end = -1: every living bubble,
// from the live list.
void MoveBubbles(const BubbleSystem& system, int begin, int end, float time);

}  // namespace bubbles
