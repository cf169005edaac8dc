#include "render_loop.h"

#include <algorithm>
#include <mutex>

#include "atomic_file.h"
#include "progress.h"
#include "signals.h"
#include "writer_queue.h"

namespace vorn {

namespace {

using Clock = std::chrono::steady_clock;

struct WriteJob {
  int frame = 0;
  std::string path;
  ImageRef image;
};

}  // namespace

FrameRunResult RunFrames(const FrameRun& run) {
  FrameRunResult result;
  RenderFigures& figures = result.figures;
  const std::string toolName = run.op->GetRegistry()->Name();
  const int total = int(run.frames.size());
  Progress progress(ChooseProgressStyle(stderr, run.quiet), run.frames);
  progress.WatchChunks([] {
    const df::ChunkProgress p = df::CurrentChunkProgress();
    return ChunkCount{p.passes, p.done, p.total};
  });
  const WarningSink warn = [&progress](const std::string& text) {
    progress.Message("vorn: warning: " + text);
  };
  std::mutex writtenMutex;
  std::vector<std::pair<int, std::string>> done;
  std::atomic<long long> writeNanos{0};
  std::string failure;

  std::atomic<int> additiveLight{0};  // frames whose additive light the format clips
  auto writeJob = [&](WriteJob& job, std::string* why) {
    const auto start = Clock::now();
    if (!KeepsAdditiveLight(run.format) && HasAdditiveLight(*job.image)) ++additiveLight;
    // Inside a root, each file is checked again just before it is written.
    const bool ok = (run.root.empty() || CheckOutputPath(job.path, run.root, why)) &&
                    WriteImage(*job.image, job.path, run.format, why, run.write);
    job.image.reset();
    writeNanos +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    if (!ok) {
      *why = "frame " + std::to_string(job.frame) + ": " + *why;
      return false;
    }
    {
      std::lock_guard lock(writtenMutex);
      done.push_back({job.frame, job.path});
    }
    if (run.filesDone) ++*run.filesDone;
    progress.FrameDone(job.frame);
    return true;
  };
  std::optional<WriterQueue<WriteJob>> queue;
  // Room for a frame per writer beside the one being rendered.
  if (run.pattern) queue.emplace(size_t(std::max(2, run.writers)), size_t(run.writers), writeJob);

  const auto runStart = Clock::now();
  WatchAbortFlag(&run.op->abortFlag);
  if (run.steps.size() > run.frames.size() && !run.quiet)
    progress.Message("vorn: \"" + toolName + "\" depends on earlier frames: simulating frames " +
                     std::to_string(run.steps.front()) + " to " + std::to_string(run.steps.back()) +
                     ", writing " + std::to_string(total));
  size_t nextAsked = 0;  // index into run.frames of the next frame to deliver
  auto cancelled = [&run] { return run.cancel && run.cancel->load() != 0; };
  for (int frame : run.steps) {
    if (InterruptSignal() != 0 || cancelled()) break;
    const bool asked = nextAsked < run.frames.size() && run.frames[nextAsked] == frame;
    if (asked) ++nextAsked;
    RenderedFrame rendered = run.driver->Render(*run.op, frame, warn, [&] {
      df::ResetChunkProgress();
      progress.FrameStarted(frame);
      if (run.chunks) run.chunks->FrameStarted();
      return true;
    });
    if (rendered.status == RenderedFrame::Status::InputFailed) {
      failure = "frame " + std::to_string(frame) + ": " + rendered.error;
      break;
    }
    progress.FrameRendered();
    figures.renderTime += rendered.took;
    if (run.frameTimes)
      figures.frameMs.push_back(std::chrono::duration<double, std::milli>(rendered.took).count());
    if (run.chunks) run.chunks->FrameDone(frame);
    ++figures.rendered;
    // A frame during which an interrupt came is discarded even if delivered.
    if (InterruptSignal() != 0 || cancelled()) break;
    if (rendered.status != RenderedFrame::Status::Rendered) {
      failure = "frame " + std::to_string(frame) + ": \"" + toolName + "\" delivered no image" +
                (asked ? "" : " (a frame simulated on the way, not asked for)");
      break;
    }
    if (!asked) continue;  // a step of the simulation only
    if (figures.delivered++ == 0)
      figures.width = rendered.image->width, figures.height = rendered.image->height;
    if (!queue) {
      progress.FrameDone(frame);
      continue;
    }
    if (!queue->Push({frame, run.pattern->Format(frame), std::move(rendered.image)}))
      break;  // a write failed
  }
  // Watched until the queued frames are written: a signal meanwhile still
  // lets them finish.
  std::string writeError;
  if (queue && !queue->Finish(&writeError)) failure = writeError;
  WatchAbortFlag(nullptr);
  figures.wallSeconds = std::chrono::duration<double>(Clock::now() - runStart).count();
  progress.Finish();
  if (additiveLight > 0 && !run.quiet)
    PrintWarning(std::to_string(additiveLight.load()) + " of " + std::to_string(figures.delivered) +
                 " frames had additive light (colour above alpha: light with little coverage) "
                 "that PNG's straight alpha cannot hold; it was clipped to alpha. TIFF and EXR "
                 "keep it (premultiplied), as do DPX and JPEG (the image over black)");

  std::sort(done.begin(), done.end());
  for (auto& [frame, path] : done) result.written.push_back(path);
  figures.written = int(done.size());
  figures.writeNanos = writeNanos.load();
  figures.writers = queue ? run.writers : 0;
  const int writtenCount = queue ? int(done.size()) : figures.delivered;
  if (!failure.empty()) {
    result.exitCode = kExitFailed;
    PrintError(failure);
    PrintError(std::to_string(writtenCount) + " of " + std::to_string(total) + " frames written");
  }
  if (const int sig = InterruptSignal(); sig != 0 && failure.empty()) {
    PrintError(std::string("interrupted by ") + SignalName(sig) +
               ": the frame in progress was discarded; " + std::to_string(writtenCount) + " of " +
               std::to_string(total) + " frames written");
    result.exitCode = InterruptExitCode(sig);
  }
  return result;
}

}  // namespace vorn
