#include "bubbles/bubbles_plugin.h"

#include <cmath>
#include <memory>
#include <new>

#include "bubbles/bubble_burst.h"
#include "bubbles/bubble_render.h"
#include "bubbles/bubbles_presets.h"
#include "bubbles/simulation_copy.h"
#include "framework/values.h"

namespace bubbles {

using namespace df;

BubblesPlugIn::BubblesPlugIn(Registry* registry, CArchive* archive, TagList* tags)
    : PassTool(registry, archive, tags) {
  tables_.reset(new (std::nothrow) NoiseTables);
  system_ = tables_ ? CreateBubbleSystem(kBlockSize) : nullptr;
  if (system_) system_->abortFlag = &abortFlag;
}

BubblesPlugIn::~BubblesPlugIn() {
  DestroyBubbleSystem(system_);
}

uint32_t BubblesPlugIn::ProcessFrame(Request* request) {
  const Image* birth = fw::ReadImage(request, ImageInput(kBirthImage));
  const Image* burst = fw::ReadImage(request, ImageInput(kBurstImage));
  const Image* reflection = fw::ReadImage(request, ImageInput(kReflectionImage));
  if (!birth) return 0;  // nothing gives the frame its size: no output
  // Not cleared here: each band clears its own rows before drawing into
  // them, on its worker, and whatever else goes out is written below.
  Image* output = NewImage(birth, Image::Contents::kUnwritten);
  if (!output) return 0;
  const float time = float(request->GetInputTime(ImageInput(kBirthImage), 0));
  fw::RecordImage(fields_, *birth);
  params_ = ParametersFrom(ReadValues(request));

  bool written = false;
  if (fw::SizesDisagree(birth, burst) || fw::SizesDisagree(birth, reflection)) {
    fw::DrawMismatchPattern(output);
    written = true;
  } else if (system_ && PrepareFrame(*system_, requests_, *tables_, params_,
                                     {birth, burst, reflection, output, time, true})) {
    written = DrawnStep(request, std::trunc(time), SourceLineOf(params_));
  }
  // Without a simulation, or when the bands did not all run, the frame is
  // transparent black (a cancelled one is not delivered).
  if (!written) fw::ClearRows(output, 0, output->height);
  return fw::Deliver(request, OutputPort(), output, abortFlag);
}

namespace {

class BubblesState final : public SimulationState {
 public:
  SimulationCopy copy;
  size_t Bytes() const override { return sizeof(*this) + copy.Bytes(); }
};

}  // namespace

std::shared_ptr<const SimulationState> BubblesPlugIn::SaveSimulation() {
  if (!system_) return nullptr;
  try {
    auto state = std::make_shared<BubblesState>();
    if (!CopySimulation(*system_, requests_, OwnRandom(), &state->copy)) return nullptr;
    return state;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool BubblesPlugIn::RestoreSimulation(const SimulationState& state) {
  const auto* ours = dynamic_cast<const BubblesState*>(&state);
  if (!ours || !system_ || !RestoreFromCopy(ours->copy, *system_, requests_, *tables_))
    return false;
  OwnRandom() = ours->copy.random;
  return true;
}

bool BubblesPlugIn::SimulationReads(const Input& input) const {
  // The parameters of these rows go to the renderer alone: births, bursts
  // and the update never read them.
  static constexpr int kDrawnOnly[] = {
      kLightRed,    kLightGreen,     kLightBlue,   kLightBrightness,     kLightSource,
      kLightTarget, kLightZ,         kLightSpread, kLightGlisten,        kMinBrightness,
      kShine,       kShineHighlight, kReflections, kReflectionIntensity, kFadeMode};
  for (int row : kDrawnOnly)
    if (&input == Control(row)) return false;
  return true;
}

bool BubblesPlugIn::DrawnStep(Request* request, float time, const SourceLine& line) {
  // The worker count is determined anew for every drawn step. The burst
  // tests and the update are passes too; the update follows the band pass
  // even when it was cancelled.
  fw::ChooseWorkers(fields_);
  // Each pass's chunks carry equal work (bubbles, or planned bands), so as
  // many per thread as there are threads keeps them all busy to the end.
  const int chunks = fw::EqualWorkChunkCount(fields_.workerCount);
  const auto tests = [this, request, chunks](int count) {
    // A cancelled pass may leave bubbles untested: they are tested here,
    // so the afterlives are drawn for every burst as in a whole step.
    if (!RunPassOver(request, kTestPass, count, chunks)) TestBursts(*system_, 0, count);
  };
  LiveView live;
  if (!BeginDrawnStep(*system_, line, &live, tests))
    return false;  // births cancelled: no pass, no update
  bool drawn;
  if (PlanBands(*system_, chunks, fw::ChunkThreads(), &plan_, live))
    drawn = RunPassOver(request, kBandPass, chunks, chunks);  // chunk k: band k
  else
    drawn = RunPass(request, kBandPass, fw::Split::kRows);
  moveTime_ = time;
  if (live.count >= 0) {
    // Each bubble ages and moves on a worker; the ended ones then leave the
    // list here, in order.
    BeginUpdate(*system_, live.count);
    RunPassOver(request, kMovePass, live.count, chunks);
    RemoveEnded(*system_, live.count);
  } else if (!AbortRequested(*system_)) {
    UpdateBubbles(*system_, time);
  }
  return drawn;
}

void BubblesPlugIn::RunBand(const fw::ChunkWork& work) {
  if (!system_) return;
  if (work.pass == kBandPass && plan_.bounds.empty()) {
    fw::ClearRows(system_->outputImage, work.band.begin, work.band.end);
    DrawBand(*system_, work.band.begin, work.band.end);
  } else if (work.pass == kBandPass) {
    const std::vector<int>& rows = plan_.bounds;
    for (int k = work.band.begin; k < work.band.end && k + 1 < int(rows.size()); ++k) {
      fw::ClearRows(system_->outputImage, rows[size_t(k)], rows[size_t(k) + 1]);
      DrawPlannedBand(*system_, plan_, rows[size_t(k)], rows[size_t(k) + 1]);
    }
  } else if (work.pass == kMovePass) {
    StepBubbles(*system_, work.band.begin, work.band.end, moveTime_);
  } else if (work.pass == kTestPass) {
    TestBursts(*system_, work.band.begin, work.band.end);
  }
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
