#include "candle/candle_plugin.h"

#include <cstring>

#include "candle/candle_presets.h"
#include "candle/flame_colour.h"
#include "framework/values.h"

namespace candle {

using namespace df;

uint32_t CandlePlugIn::ProcessFrame(Request* request) {
  Image* background = fw::ReadImage(request, ImageInput(kBackgroundImage));
  if (!background) return 0;  // nothing to draw over: no output
  Image* matte = fw::ReadImage(request, ImageInput(kMatteImage));
  flameBuffer_ = NewImage(background);
  // Not cleared: the composite writes every pixel, and whatever else goes
  // out is written below.
  Image* output = NewImage(background, Image::Contents::kUnwritten);
  if (!output) {
    if (flameBuffer_) flameBuffer_->Recycle();
    flameBuffer_ = nullptr;
    return 0;
  }
  time_ = NarrowToFloat(request->GetInputTime(ImageInput(kBackgroundImage), 0));
  fw::RecordImage(fields_, *background);
  const bool mismatch = fw::SizesDisagree(background, matte);
  cache_ = CacheFrom(ReadValues(request));
  bool written = false;
  if (mismatch) {
    fw::DrawMismatchPattern(output);
    written = true;
  } else {
    const FlameFrame frame =
        BuildFrame(cache_, fields_.width, fields_.height, fields_.aspect, time_, matte != nullptr);
    fw::ChooseWorkers(fields_);
    // Without a flame buffer (out of memory) the output is the background.
    const bool drawn = !flameBuffer_ || StartFlameRender(request, frame);
    if (drawn && !fw::Aborted(abortFlag)) {
      composite_ = {&frame, background, matte, output};
      written = RunPass(request, kCompositePass, fw::Split::kRows);
      composite_ = {};
    }
  }
  // A render cut short goes out transparent black (a cancelled one not at all).
  if (!written) fw::ClearRows(output, 0, output->height);
  if (flameBuffer_) flameBuffer_->Recycle();
  flameBuffer_ = nullptr;
  return fw::Deliver(request, OutputPort(), output, abortFlag);
}

bool CandlePlugIn::StartFlameRender(Request* request, const FlameFrame& frame) {
  if (needReseed || time_ < 0.1) {
    SeedGradients(fw::TruncateToInt(cache_.seed), gradients);
    needReseed = 0;
  }
  context_ = MakeChunkContext(frame, gradients);
  return RunPass(request, kFlamePass, fw::Split::kColumns);
}

void CandlePlugIn::RunBand(const fw::ChunkWork& work) {
  if (work.pass == kFlamePass && flameBuffer_) {
    RenderFlameColumns(context_, work.band.begin, work.band.end, flameBuffer_->rows, &abortFlag);
  } else if (work.pass == kCompositePass && composite_.frame) {
    const CompositeJob& c = composite_;
    CompositeFlame(*c.frame, flameBuffer_ ? flameBuffer_->rows : nullptr, c.background->rows,
                   c.matte ? c.matte->rows : nullptr, c.output->rows, work.band.begin,
                   work.band.end);
  }
}

void CandlePlugIn::Changed(Input* input, Parameter* value, double time) {
  auto chosen = [&] {
    if (value && value->Type() == kTypeNumber) return static_cast<Number*>(value)->value;
    return input ? input->NumberAt(time) : 0.0;
  };
  if (input == Control(kDemos)) {
    Apply(DemoPlan(chosen()), time);
  } else if (input == Control(kProportionDemos)) {
    Apply(ProportionPlan(chosen()), time);
  } else {
    for (int row : {kBottomLeft, kBottomRight, kTopLeft, kTopRight, kCurvePoint1, kCurvePoint2})
      if (input == Control(row)) Apply(PlanLink(row, cache_).Changes(), time);
  }
}

}  // namespace candle
