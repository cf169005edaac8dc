#include "bubbles/bubbles_plugin.h"

#include <new>

#include "bubbles/bubble_render.h"
#include "bubbles/bubbles_presets.h"
#include "framework/lifecycle.h"
#include "framework/values.h"

namespace bubbles {

using namespace df;

namespace {
constexpr int kBandPass = 1;
}  // namespace

BubblesPlugIn::BubblesPlugIn(Registry* registry, CArchive* archive, TagList* tags)
    : ThreadedOperator(registry, archive, tags) {
  fw::DeclareControls(*this, kControls, controls_);
  birthInput_ = AddInput("Birth", kTypeImage, kBirthId, {});
  burstInput_ = AddInput("Burst(optional)", kTypeImage, kBurstImageId, {{INP_Required, 0}});
  reflectionInput_ =
      AddInput("Reflection(optional)", kTypeImage, kReflectionImageId, {{INP_Required, 0}});
  output_ = AddOutput("Output", kTypeImage, kOutputId);
  opMode = 2;
  opModeArg = 0;
  objFlags |= kBubblesObjFlag;
  if (archive) fw::ReadTrailer(archive);
  tables_.reset(new (std::nothrow) NoiseTables);
  system_ = tables_ ? CreateBubbleSystem(kBlockSize) : nullptr;
  if (system_) system_->abortFlag = &abortFlag;
}

BubblesPlugIn::~BubblesPlugIn() {
  DestroyBubbleSystem(system_);
}

uint32_t BubblesPlugIn::Save(CArchive* archive, TagList* tags) {
  return fw::SaveRecord(*this, archive, tags, kBubblesClassId);
}

void BubblesPlugIn::ReadControls(Request* request) {
  for (int i = 0; i < kNumberFieldCount; ++i) {
    const NumberField& f = kNumberFields[i];
    params_.*f.field = NarrowValue(fw::ReadNumber(request, controls_[f.row], kControls[f.row].def));
  }
  for (int i = 0; i < kPointFieldCount; ++i) {
    const PointField& f = kPointFields[i];
    float x = 0, y = 0;
    fw::ReadPoint(request, controls_[f.row], x, y);
    params_.*f.x = x;
    params_.*f.y = y;
  }
}

uint32_t BubblesPlugIn::Process(Request* request) {
  const Image* birth = fw::ReadImage(request, birthInput_);
  const Image* burst = fw::ReadImage(request, burstInput_);
  const Image* reflection = fw::ReadImage(request, reflectionInput_);
  if (!birth) return 0;  // nothing gives the frame its size: no output
  Image* output = NewImage(birth);
  if (!output) return 0;
  const float time = float(request->GetInputTime(birthInput_, 0));
  fw::RecordImage(fields_, *birth);
  ReadControls(request);

  if (fw::SizesDisagree(birth, burst) || fw::SizesDisagree(birth, reflection)) {
    fw::DrawMismatchPattern(output);
  } else if (system_) {
    request_ = request;
    RunFrame(*system_, requests_, *tables_, params_, {birth, burst, reflection, output, time},
             *this);
    request_ = nullptr;
  }
  // Without a simulation the new image goes out as made: transparent black.
  return fw::Deliver(request, output_, output, abortFlag);
}

void BubblesPlugIn::RenderBands(BubbleSystem&) {
  // The worker count is determined anew for every drawn step.
  fw::ChooseWorkers(fields_);
  passes_.Run(*this, request_, kBandPass, fw::Split::kRows, fields_);
}

void BubblesPlugIn::ProcessChunk(Request*, long chunk) {
  const fw::ChunkWork work = passes_.Chunk(chunk);
  if (work.pass != kBandPass || !system_ || fw::Aborted(abortFlag)) return;
  DrawBand(*system_, work.band.begin, work.band.end);
}

void BubblesPlugIn::ApplyDemoPreset(int n, double time) {
  // Separate value changes, no undo bracket of their own.
  ForEachPresetValue(n,
                     [&](int row, double value) { fw::SetNumber(controls_[row], value, time, 1); });
}

void BubblesPlugIn::NotifyChanged(Input* input, Parameter* value, double time) {
  if (fw::NotifyBlocked(*this)) return;
  const int n = value && value->Type() == kTypeNumber
                    ? fw::TruncateToInt(static_cast<Number*>(value)->value)
                    : 0;
  if (input && input == controls_[kPreroll])
    requests_.prerollRequested.store(1);
  else if (input && input == controls_[kRestart])
    requests_.restartRequested.store(1);
  else if (input && input == controls_[kDemos] && n >= 1 && n <= kPresetCount)
    ApplyDemoPreset(n, time);
  Operator::NotifyChanged(input, value, time);
}

}  // namespace bubbles
