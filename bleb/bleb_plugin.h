// The Bleb operator: declares the controls, reads them per frame, runs the
// warp in two threaded passes and resets every control on request.
#pragma once

#include <atomic>

#include "bleb/bleb_controls.h"
#include "bleb/warp_params.h"
#include "bleb/warp_render.h"
#include "framework/harness.h"
#include "framework/host.h"
#include "framework/passes.h"
#include "framework/tool.h"

namespace bleb {

class BlebPlugIn : public fw::PassTool<kTool> {
 public:
  using PassTool::PassTool;
  // The warp of the request's frame: the map, the integral tables when the
  // sampling needs them, then the sampling, each pass on the workers.
  std::uint32_t ProcessFrame(df::Request* request) override;

 private:
  static constexpr int kMapPass = 1;
  static constexpr int kSamplePass = 2;
  static constexpr int kTableRowPass = 3;     // integral tables: bands of rows
  static constexpr int kTableColumnPass = 4;  // then the bands' carries by columns
  static constexpr int kLastRowPass = 5;      // each map band's last row, checked

  void Render(df::Request* request);
  void RunBand(const fw::ChunkWork& work) override;

  // Per-render fields, written by Process before any chunk runs.
  WarpControls values_;
  df::Image* source_ = nullptr;
  df::Image* target_ = nullptr;
  WarpRender render_;
};

}  // namespace bleb
