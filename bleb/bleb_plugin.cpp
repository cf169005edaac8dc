#include "bleb/bleb_plugin.h"

#include "bleb/warp_sample.h"
#include "framework/values.h"

namespace bleb {

using namespace df;

uint32_t BlebPlugIn::ProcessFrame(Request* request) {
  source_ = fw::ReadImage(request, ImageInput(0));
  if (!source_) return 0;  // nothing to warp: no output
  // Not cleared: the sampling writes every pixel, and whatever else goes out
  // is written in Render.
  target_ = NewImage(source_, Image::Contents::kUnwritten);
  if (!target_) return 0;
  fw::RecordImage(fields_, *source_);
  values_ = WarpControlsFrom(ReadValues(request));
  Render(request);
  const uint32_t result = fw::Deliver(request, OutputPort(), target_, abortFlag);
  source_ = target_ = nullptr;
  return result;
}

void BlebPlugIn::Render(Request* request) {
  if (!CanWarp(fields_.width, fields_.height)) {
    CopyImage(source_->rows, target_->rows, fields_.width, fields_.height);
    return;
  }
  bool written = false;
  const WarpParams params = MakeWarpParams(values_, fields_.width, fields_.height, fields_.aspect);
  // Out of memory: nothing is drawn and the output goes out transparent black.
  if (render_.Prepare(params, source_->rows, &abortFlag)) {
    fw::ChooseWorkers(fields_);
    // The integral tables, when the warp needs them, are built by the
    // workers in two passes of their own between the map and the sampling.
    // The bands' last rows are checked on the workers too: on the Process
    // thread they are a serial step that grows with the chunk count.
    if (RunPass(request, kMapPass, fw::Split::kRows) &&
        RunPass(request, kLastRowPass, fw::Split::kRows) &&
        render_.PrepareSampling(&abortFlag, false, false, true) &&
        (!render_.TablesPending() || (RunPass(request, kTableRowPass, fw::Split::kRows) &&
                                      RunPass(request, kTableColumnPass, fw::Split::kColumns))) &&
        RunPass(request, kSamplePass, fw::Split::kRows)) {
      render_.Finish(target_->rows);
      written = true;
    }
  }
  // The buffers are per render.
  render_.Release();
  if (!written) fw::ClearRows(target_, 0, target_->height);
}

void BlebPlugIn::RunBand(const fw::ChunkWork& work) {
  if (work.pass == kMapPass)
    render_.MapRows(work.band.begin, work.band.end, &abortFlag);
  else if (work.pass == kLastRowPass)
    render_.CheckLastRow(work.band.begin, work.band.end);
  else if (work.pass == kSamplePass)
    render_.SampleRows(target_->rows, work.band.begin, work.band.end, &abortFlag);
  else if (work.pass == kTableRowPass)
    render_.TableRows(work.band.begin, work.band.end, &abortFlag);
  else if (work.pass == kTableColumnPass)
    render_.TableColumns(work.band.begin, work.band.end, fields_.workerCount, &abortFlag);
}

}  // namespace bleb
