// The Bubbles operator: declares the controls, reads them per frame, runs the
// simulation with its threaded render pass and turns button presses and demo
// presets into requests and control changes.
#pragma once

#include <memory>

#include "bubbles/band_balance.h"
#include "bubbles/bubble_simulation.h"
#include "bubbles/bubble_system.h"
#include "bubbles/bubbles_controls.h"
#include "bubbles/frame_parameters.h"
#include "framework/harness.h"
#include "framework/host.h"
#include "framework/passes.h"
#include "framework/tool.h"

namespace bubbles {

class BubblesPlugIn : public fw::PassTool<kTool> {
 public:
  BubblesPlugIn(df::Registry* registry, df::CArchive* archive, df::TagList* tags);
  ~BubblesPlugIn() override;

  // One frame: its preparation, then the drawn step's births, its band pass
  // on the workers and its update.
  std::uint32_t ProcessFrame(df::Request* request) override;

  // Between frames: a copy of the simulation (bubbles, counters, requests,
  // generator state), and taking one back.
  std::shared_ptr<const df::SimulationState> SaveSimulation() override;
  bool RestoreSimulation(const df::SimulationState& state) override;
  // False for the light, shine, reflection and fade controls: only the
  // drawing reads them.
  bool SimulationReads(const df::Input& input) const override;

  // Read-only views for tests: the simulation (null when it could not be
  // made) and the pending requests.
  const BubbleSystem* System() const { return system_; }
  const FrameRequests& Requests() const { return requests_; }

 private:
  static constexpr int kBandPass = 1;
  static constexpr int kMovePass = 2;  // the update's steps, over the listed bubbles
  static constexpr int kTestPass = 3;  // the burst tests, over the listed bubbles

  // Button presses become requests for the next frame; "Demos" applies a preset.
  void Changed(df::Input* input, df::Parameter* value, double time) override;

  // The drawn step at `time`, after the frame's preparation: true when its
  // band pass ran to its end (every row of the output then written).
  bool DrawnStep(df::Request* request, float time, const SourceLine& line);
  // One band of the drawn step's pass, or a share of its moves.
  void RunBand(const fw::ChunkWork& work) override;

  // Simulation state, kept from frame to frame; null when it could not be
  // made, and the operator then delivers transparent frames.
  BubbleSystem* system_ = nullptr;
  std::unique_ptr<NoiseTables> tables_;
  FrameRequests requests_;

  // Per-render fields, written by Process before any chunk runs.
  FrameParameters params_;
  float moveTime_ = 0;  // the drawn step's time, for the move pass
  // The band pass's plan: bands balanced by drawing work and the bubbles
  // each may draw (empty: equal bands from the live list).
  BandPlan plan_;
};

}  // namespace bubbles
