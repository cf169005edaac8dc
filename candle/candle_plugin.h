// The Candle operator: declares the controls, takes their values at every
// render, draws the flame into a buffer in strips of columns on the workers,
// composites it over the background, and applies presets, the reset and the
// outline-point links when controls change.
#pragma once

#include <cstdint>

#include "candle/candle_controls.h"
#include "candle/candle_presets.h"
#include "candle/flame_columns.h"
#include "candle/flame_field.h"
#include "framework/harness.h"
#include "framework/host.h"
#include "framework/noise.h"
#include "framework/passes.h"
#include "framework/tool.h"

namespace candle {

class CandlePlugIn : public fw::PassTool<kTool> {
 public:
  using PassTool::PassTool;
  std::uint32_t ProcessFrame(df::Request* request) override;

 private:
  // The presets and the outline-point links.
  void Changed(df::Input* input, df::Parameter* value, double time) override;
  // Seeds the noise when due and runs the column strips on the workers,
  // which write every pixel of the flame buffer. False when cancelled.
  bool StartFlameRender(df::Request* request, const FlameFrame& frame);
  void RunBand(const fw::ChunkWork& work) override;

  // The controls as the last render took them; the declared defaults until then.
  ControlCache cache_ = DefaultCache();
  int needReseed = 1;
  fw::Gradient gradients[fw::kGradientCount] = {};

  // Per-render fields, written by Process before any chunk runs.
  float time_ = 0;
  df::Image* flameBuffer_ = nullptr;
  FlameChunkContext context_;

  // The flame is drawn in strips of columns, then composited over the
  // background in bands of rows.
  static constexpr int kFlamePass = 1;
  static constexpr int kCompositePass = 2;
  struct CompositeJob {
    const FlameFrame* frame = nullptr;
    const df::Image* background = nullptr;
    const df::Image* matte = nullptr;
    df::Image* output = nullptr;
  };
  CompositeJob composite_;
};

}  // namespace candle
