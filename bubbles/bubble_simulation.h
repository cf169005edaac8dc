// One frame of the bubble simulation: restart and preroll requests, then one
// step of births, the render pass and the update of every living bubble.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

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
// image's size) and its time. `outputCleared` says the caller sees to the
// output's ground itself (a cleared image from the runtime, or bands that
// clear their own rows): clearing it here would be a serial pass over the
// whole frame before the parallel one.
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

// Runs TestBursts over every one of the first `count` movers, split among
// threads as the caller likes.
using BurstTestRun = std::function<void(int count)>;

// A drawn step up to its band pass: births, then the burst decisions (their
// tests through `tests` where given and the list could be listed, else on
// this thread) and the sprites the bands will read. False when the render
// was cancelled during the births: the step then ends without band pass and
// update. `live`, when given, receives the live list as an array for the
// rest of the step.
bool BeginDrawnStep(BubbleSystem& system, const SourceLine& line, LiveView* live = nullptr,
                    const BurstTestRun& tests = {});

// The births of one step. False when the render was cancelled during them:
// the step then ends without render pass and update.
bool BirthBubbles(BubbleSystem& system, const SourceLine& line);

// Ages, moves, grows and removes every living bubble on the calling thread;
// draws no random numbers. The live list is listed (ListLive), then as below;
// without memory for the list, the list is followed.
void UpdateBubbles(BubbleSystem& system, float time);

// The update split among threads, over the first `count` of system.movers,
// the live list as ListLive or DecideBursts listed it (the list must not
// have changed since): BeginUpdate, StepBubbles over any split of
// [0, count), then RemoveEnded.
//
// StepBubbles: each of movers [begin, end) ages; one at the end of its life
// is only marked, the others are slowed in the gather region, moved under
// gravity and friction, grown by their type, pushed by the wind and stirred
// by the swirl. A bubble's step reads and writes only itself (and its mark)
// besides the frame's parameters, tables and burst image, so any split
// gives the same bubbles. RemoveEnded: the marked bubbles go back to the
// pool in list order, and movers keeps the others, in order.
void BeginUpdate(BubbleSystem& system, int count);
void StepBubbles(const BubbleSystem& system, int begin, int end, float time);
void RemoveEnded(BubbleSystem& system, int count);

}  // namespace bubbles
