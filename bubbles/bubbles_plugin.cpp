#include "bubbles/bubbles_plugin.h"

#include <new>

#include "bubbles/bubble_render.h"
#include "bubbles/bubbles_presets.h"
#include "framework/values.h"

namespace bubbles {

using namespace df;

namespace {
constexpr int kBandPass = 1;
}  // namespace

BubblesPlugIn::BubblesPlugIn(Registry* registry, CArchive* archive, TagList* tags)
    : Tool(registry, archive, tags) {
  tables_.reset(new (std::nothrow) NoiseTables);
  system_ = tables_ ? CreateBubbleSystem(kBlockSize) : nullptr;
  if (system_) system_->abortFlag = &abortFlag;
}

BubblesPlugIn::~BubblesPlugIn() {
  DestroyBubbleSystem(system_);
}

uint32_t BubblesPlugIn::Process(Request* request) {
  const Image* birth = fw::ReadImage(request, ImageInput(kBirthImage));
  const Image* burst = fw::ReadImage(request, ImageInput(kBurstImage));
  const Image* reflection = fw::ReadImage(request, ImageInput(kReflectionImage));
  if (!birth) return 0;  // nothing gives the frame its size: no output
  Image* output = NewImage(birth);
  if (!output) return 0;
  const float time = float(request->GetInputTime(ImageInput(kBirthImage), 0));
  fw::RecordImage(fields_, *birth);
  params_ = ParametersFrom(ReadValues(request));

  if (fw::SizesDisagree(birth, burst) || fw::SizesDisagree(birth, reflection)) {
    fw::DrawMismatchPattern(output);
  } else if (system_) {
    request_ = request;
    RunFrame(*system_, requests_, *tables_, params_, {birth, burst, reflection, output, time},
             *this);
    request_ = nullptr;
  }
  // Without a simulation the new image goes out as made: transparent black.
  return fw::Deliver(request, OutputPort(), output, abortFlag);
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

void BubblesPlugIn::Changed(Input* input, Parameter* value, double time) {
  if (input == Control(kPreroll)) {
    requests_.prerollRequested.store(1);
  } else if (input == Control(kRestart)) {
    requests_.restartRequested.store(1);
  } else if (input == Control(kDemos) && value && value->Type() == kTypeNumber) {
    Apply(DemoPreset(fw::TruncateToInt(static_cast<Number*>(value)->value)), time);
  }
}

}  // namespace bubbles
