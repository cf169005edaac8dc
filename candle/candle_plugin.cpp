#include "candle/candle_plugin.h"

#include <cstring>

#include "candle/candle_presets.h"
#include "candle/flame_colour.h"
#include "framework/lifecycle.h"
#include "framework/values.h"

namespace candle {

using namespace df;

CandlePlugIn::CandlePlugIn(Registry* registry, CArchive* archive, TagList* tags)
    : ThreadedOperator(registry, archive, tags) {
  fw::DeclareControls(*this, kControls, controls_);
  background_ = AddInput(kBackgroundCaption, kTypeImage, kBackgroundId, {});
  matte_ = AddInput(kMatteCaption, kTypeImage, kMatteId, {{INP_Required, 0}});
  output_ = AddOutput("Output", kTypeImage, kOutputId);
  opMode = 2;
  opModeArg = 0;
  if (archive) fw::ReadTrailer(archive);
  needReseed = 1;
}

CandlePlugIn::~CandlePlugIn() = default;

uint32_t CandlePlugIn::Save(CArchive* archive, TagList* tags) {
  return fw::SaveRecord(*this, archive, tags, kCandleClassId);
}

void CandlePlugIn::ReadControls(Request* request) {
  for (int row = 0; row < kControlCount; ++row) {
    if (CachedPoint* p = CachedPointOf(cache_, row)) {
      float x, y;
      fw::ReadPoint(request, controls_[row], x, y);
      p->x = x;
      p->y = y;
    } else if (float* n = CachedNumberOf(cache_, row)) {
      *n = NarrowToFloat(fw::ReadNumber(request, controls_[row], kControls[row].def));
    }
  }
}

uint32_t CandlePlugIn::Process(Request* request) {
  Image* background = fw::ReadImage(request, background_);
  if (!background) return 0;  // nothing to draw over: no output
  Image* matte = fw::ReadImage(request, matte_);
  flameBuffer_ = NewImage(background);
  Image* output = NewImage(background);
  if (!output) {
    if (flameBuffer_) flameBuffer_->Recycle();
    flameBuffer_ = nullptr;
    return 0;
  }
  time_ = NarrowToFloat(request->GetInputTime(background_, 0));
  fw::RecordImage(fields_, *background);
  const bool mismatch = fw::SizesDisagree(background, matte);
  ReadControls(request);
  if (mismatch) {
    fw::DrawMismatchPattern(output);
  } else {
    const FlameFrame frame =
        BuildFrame(cache_, fields_.width, fields_.height, fields_.aspect, time_, matte != nullptr);
    fw::ChooseWorkers(fields_);
    // Without a flame buffer (out of memory) the output is the background.
    const bool drawn = !flameBuffer_ || StartFlameRender(request, frame);
    if (drawn && !fw::Aborted(abortFlag)) {
      composite_ = {&frame, background, matte, output};
      passes_.Run(*this, request, kCompositePass, fw::Split::kRows, fields_);
      composite_ = {};
    }
  }
  if (flameBuffer_) flameBuffer_->Recycle();
  flameBuffer_ = nullptr;
  return fw::Deliver(request, output_, output, abortFlag);
}

bool CandlePlugIn::StartFlameRender(Request* request, const FlameFrame& frame) {
  if (needReseed || time_ < 0.1) {
    SeedGradients(fw::TruncateToInt(cache_.seed), gradients);
    needReseed = 0;
  }
  context_ = MakeChunkContext(frame, gradients);
  return passes_.Run(*this, request, kFlamePass, fw::Split::kColumns, fields_);
}

void CandlePlugIn::ProcessChunk(Request*, long chunk) {
  if (fw::Aborted(abortFlag)) return;
  const fw::ChunkWork work = passes_.Chunk(chunk);
  if (work.pass == kFlamePass && flameBuffer_) {
    RenderFlameColumns(context_, work.band.begin, work.band.end, flameBuffer_->rows, &abortFlag);
  } else if (work.pass == kCompositePass && composite_.frame) {
    const CompositeJob& c = composite_;
    CompositeFlame(*c.frame, flameBuffer_ ? flameBuffer_->rows : nullptr, c.background->rows,
                   c.matte ? c.matte->rows : nullptr, c.output->rows, work.band.begin,
                   work.band.end);
  }
}

void CandlePlugIn::SetPlanned(const Setting& s, double time) {
  if (kControls[s.row].IsPoint())
    fw::SetPoint(controls_[s.row], float(s.x), float(s.y), time, s.flag);
  else
    fw::SetNumber(controls_[s.row], s.x, time, s.flag);
}

void CandlePlugIn::NotifyChanged(Input* input, Parameter* value, double time) {
  if (fw::NotifyBlocked(*this)) return;
  auto chosen = [&] {
    if (value && value->Type() == kTypeNumber) return static_cast<Number*>(value)->value;
    return input ? input->NumberAt(time) : 0.0;
  };
  auto apply = [&](const ChangePlan& plan) {
    if (doc) doc->StartUndo(plan.undoText);
    for (const Setting& s : plan.settings) SetPlanned(s, time);
    if (doc) doc->EndUndo(1);
  };
  int linkRow = fw::kNoRow;
  if (input == controls_[kDemos]) {
    apply(DemoPlan(chosen()));
  } else if (input == controls_[kProportionDemos]) {
    apply(ProportionPlan(chosen()));
  } else if (input == resetSlot_) {
    if (doc) doc->StartUndo(kResetText);
    fw::ResetControls(kControls, controls_, kResetSteps, time);
    if (doc) doc->EndUndo(1);
  } else {
    for (int row : {kBottomLeft, kBottomRight, kTopLeft, kTopRight, kCurvePoint1, kCurvePoint2})
      if (input == controls_[row]) linkRow = row;
    if (linkRow != fw::kNoRow) {
      const LinkPlan plan = PlanLink(linkRow, cache_);
      if (doc) doc->StartUndo(LinkPlan::kUndoText);
      for (int i = 0; i < plan.count; ++i) SetPlanned(plan.settings[i], time);
      if (doc) doc->EndUndo(1);
    }
  }
  Operator::NotifyChanged(input, value, time);
}

}  // namespace candle
