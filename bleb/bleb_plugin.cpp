#include "bleb/bleb_plugin.h"

#include "bleb/warp_sample.h"
#include "framework/lifecycle.h"
#include "framework/values.h"

namespace bleb {

using namespace df;

BlebPlugIn::BlebPlugIn(Registry* registry, CArchive* archive, TagList* tags)
    : ThreadedOperator(registry, archive, tags) {
  fw::DeclareControls(*this, kControls, controls_);
  input_ = AddInput("Input", kTypeImage, kInputId, {});
  output_ = AddOutput("Output", kTypeImage, kOutputId);
  opMode = 2;
  opModeArg = 0;
  if (archive) fw::ReadTrailer(archive);
}

BlebPlugIn::~BlebPlugIn() = default;

uint32_t BlebPlugIn::Save(CArchive* archive, TagList* tags) {
  return fw::SaveRecord(*this, archive, tags, kBlebClassId);
}

void BlebPlugIn::ReadControls(Request* request) {
  auto number = [&](int row) {
    return static_cast<float>(fw::ReadNumber(request, controls_[row], kControls[row].def));
  };
  fw::ReadPoint(request, controls_[kCentre], values_.centerX, values_.centerY);
  values_.scale = number(kScale);
  values_.rotate = number(kRotate);
  values_.fillMode = fw::TruncateToInt(fw::ReadNumber(request, controls_[kFill]));
  for (int n = 0; n < kLobes; ++n) {
    values_.amplitude[n] = number(AmplitudeRow(n));
    values_.lobeAngle[n] = -number(AngleRow(n));
    values_.sharpness[n] = number(SharpRow(n));
  }
}

uint32_t BlebPlugIn::Process(Request* request) {
  source_ = fw::ReadImage(request, input_);
  if (!source_) return 0;  // nothing to warp: no output
  target_ = NewImage(source_);
  if (!target_) return 0;
  fw::RecordImage(fields_, *source_);
  ReadControls(request);
  Render(request);
  const uint32_t result = fw::Deliver(request, output_, target_, abortFlag);
  source_ = target_ = nullptr;
  return result;
}

void BlebPlugIn::Render(Request* request) {
  if (!CanWarp(fields_.width, fields_.height)) {
    CopyImage(source_->rows, target_->rows, fields_.width, fields_.height);
    return;
  }
  const WarpParams params = MakeWarpParams(values_, fields_.width, fields_.height, fields_.aspect);
  // Out of memory: nothing is drawn and the output goes out as created.
  if (render_.Prepare(params, source_->rows, &abortFlag)) {
    fw::ChooseWorkers(fields_);
    // The integral tables, when the warp needs them, are built by the
    // workers in two passes of their own between the map and the sampling.
    if (passes_.Run(*this, request, kMapPass, fw::Split::kRows, fields_) &&
        render_.PrepareSampling(&abortFlag, false, false, true) &&
        (!render_.TablesPending() ||
         (passes_.Run(*this, request, kTableRowPass, fw::Split::kRows, fields_) &&
          passes_.Run(*this, request, kTableColumnPass, fw::Split::kColumns, fields_))) &&
        passes_.Run(*this, request, kSamplePass, fw::Split::kRows, fields_))
      render_.Finish(target_->rows);
  }
  // The buffers are per render.
  render_.Release();
}

void BlebPlugIn::ProcessChunk(Request*, long chunk) {
  if (fw::Aborted(abortFlag)) return;
  const fw::ChunkWork work = passes_.Chunk(chunk);
  if (work.pass == kMapPass)
    render_.MapRows(work.band.begin, work.band.end, &abortFlag);
  else if (work.pass == kSamplePass)
    render_.SampleRows(target_->rows, work.band.begin, work.band.end, &abortFlag);
  else if (work.pass == kTableRowPass)
    render_.TableRows(work.band.begin, work.band.end, &abortFlag);
  else if (work.pass == kTableColumnPass)
    render_.TableColumns(work.band.begin, work.band.end, fields_.workerCount, &abortFlag);
}

void BlebPlugIn::NotifyChanged(Input* input, Parameter* value, double time) {
  if (fw::NotifyBlocked(*this)) return;
  if (doc) doc->StartUndo("Reset Bleb");
  fw::ResetControls(kControls, controls_, kResetSteps, time);
  if (doc) doc->EndUndo(1);
  Operator::NotifyChanged(input, value, time);
}

}  // namespace bleb
