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

namespace bleb {

inline constexpr std::uint32_t kBlebClassId = 0x8001008C;

class BlebPlugIn : public df::ThreadedOperator {
 public:
  BlebPlugIn(df::Registry* registry, df::CArchive* archive, df::TagList* tags);
  ~BlebPlugIn() override;

  std::uint32_t Save(df::CArchive* archive, df::TagList* tags) override;
  std::uint32_t Process(df::Request* request) override;
  // The reset, whichever input it is called for.
  void NotifyChanged(df::Input* input, df::Parameter* value, double time) override;
  void ProcessChunk(df::Request* request, long chunk) override;

 private:
  void ReadControls(df::Request* request);
  void Render(df::Request* request);

  df::Input* controls_[kControlCount] = {};
  df::Input* input_ = nullptr;
  df::Output* output_ = nullptr;

  // Per-render fields, written by Process before any chunk runs.
  fw::RenderFields fields_;
  WarpControls values_;
  df::Image* source_ = nullptr;
  df::Image* target_ = nullptr;
  static constexpr int kMapPass = 1;
  static constexpr int kSamplePass = 2;
  static constexpr int kTableRowPass = 3;     // integral tables: bands of rows
  static constexpr int kTableColumnPass = 4;  // then the bands' carries by columns
  fw::RenderPasses passes_;
  WarpRender render_;
};

}  // namespace bleb
