#include "render_loop.h"

#include <algorithm>
#include <mutex>
#include <thread>

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

// The writer threads of a run: each delivered frame is encoded and written
// while the next one renders; the files written are kept in frame order.
class FrameWriters {
 public:
  FrameWriters(const FrameRun& run, Progress& progress)
      : run_(run),
        progress_(progress),
        // The tables the files are converted by are built while the
        // first frame renders.
        prepare_([&run] { PrepareWriting(run.format, run.write); }),
        // Room for a frame per writer beside the one being rendered.
        queue_(size_t(std::max(2, run.writers)), size_t(run.writers),
               [this](WriteJob& job, std::string* why) { return Write(job, why); }) {
    if (run.format == ImageFormat::Exr) SetExrThreads(run.writers);
  }
  ~FrameWriters() { prepare_.join(); }

  // False once a write failed (the frame is dropped).
  bool Push(int frame, ImageRef image) {
    return queue_.Push({frame, run_.pattern->Format(frame), std::move(image)});
  }
  // Waits for the queued frames; false with the first write's failure.
  bool Finish(std::string* error) { return queue_.Finish(error); }

  // The files written in frame order, and the writing figures.
  std::vector<std::string> Written(RenderFigures* figures) {
    std::sort(done_.begin(), done_.end());
    std::vector<std::string> written;
    for (auto& [frame, path] : done_) written.push_back(path);
    figures->written = int(done_.size());
    figures->writeNanos = writeNanos_.load();
    figures->writers = run_.writers;
    return written;
  }
  // Frames whose additive light the format clipped.
  int AdditiveLight() const { return additiveLight_.load(); }

 private:
  bool Write(WriteJob& job, std::string* why) {
    const auto start = Clock::now();
    if (!KeepsAdditiveLight(run_.format) && HasAdditiveLight(*job.image)) ++additiveLight_;
    // Inside a root, each file is checked again just before it is written.
    const bool ok = (run_.root.empty() || CheckOutputPath(job.path, run_.root, why)) &&
                    WriteImage(*job.image, job.path, run_.format, why, run_.write);
    job.image.reset();
    writeNanos_ +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    if (!ok) {
      *why = "frame " + std::to_string(job.frame) + ": " + *why;
      return false;
    }
    {
      std::lock_guard lock(doneMutex_);
      done_.push_back({job.frame, job.path});
    }
    if (run_.filesDone) ++*run_.filesDone;
    progress_.FrameDone(job.frame);
    return true;
  }

  const FrameRun& run_;
  Progress& progress_;
  std::mutex doneMutex_;
  std::vector<std::pair<int, std::string>> done_;
  std::atomic<long long> writeNanos_{0};
  std::atomic<int> additiveLight_{0};
  std::thread prepare_;
  WriterQueue<WriteJob> queue_;  // last: its threads go first
};

// Messages of the run's end: clipped light, the failure, an interrupt.
int ReportEnd(const FrameRun& run, const std::string& failure, int additiveLight, int delivered,
              int written) {
  const std::string total = std::to_string(run.frames.size());
  if (additiveLight > 0 && !run.quiet)
    PrintWarning(std::to_string(additiveLight) + " of " + std::to_string(delivered) +
                 " frames had additive light (colour above alpha: light with little coverage) "
                 "that PNG's straight alpha cannot hold; it was clipped to alpha. TIFF and EXR "
                 "keep it (premultiplied), as do DPX and JPEG (the image over black)");
  if (!failure.empty()) {
    PrintError(failure);
    PrintError(std::to_string(written) + " of " + total + " frames written");
    return kExitFailed;
  }
  if (const int sig = InterruptSignal(); sig != 0) {
    PrintError(std::string("interrupted by ") + SignalName(sig) +
               ": the frame in progress was discarded; " + std::to_string(written) + " of " +
               total + " frames written");
    return InterruptExitCode(sig);
  }
  return kExitOk;
}

}  // namespace

FrameRunResult RunFrames(const FrameRun& run) {
  FrameRunResult result;
  RenderFigures& figures = result.figures;
  const std::string toolName = run.op->GetRegistry()->Name();
  Progress progress(ChooseProgressStyle(stderr, run.quiet), run.frames);
  progress.WatchChunks([] {
    const df::ChunkProgress p = df::CurrentChunkProgress();
    return ChunkCount{p.passes, p.done, p.total};
  });
  const WarningSink warn = [&progress](const std::string& text) {
    progress.Message("vorn: warning: " + text);
  };
  std::optional<FrameWriters> writers;
  if (run.pattern) writers.emplace(run, progress);
  std::string failure;

  const auto runStart = Clock::now();
  WatchAbortFlag(&run.op->abortFlag);
  if (run.steps.size() > run.frames.size() && !run.quiet)
    progress.Message("vorn: \"" + toolName + "\" depends on earlier frames: simulating frames " +
                     std::to_string(run.steps.front()) + " to " + std::to_string(run.steps.back()) +
                     ", writing " + std::to_string(run.frames.size()));
  size_t nextAsked = 0;  // index into run.frames of the next frame to deliver
  auto stopped = [&run] {
    return InterruptSignal() != 0 || (run.cancel && run.cancel->load() != 0);
  };
  for (int frame : run.steps) {
    if (stopped()) break;
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
    if (stopped()) break;
    if (rendered.status != RenderedFrame::Status::Rendered) {
      failure = "frame " + std::to_string(frame) + ": \"" + toolName + "\" delivered no image" +
                (asked ? "" : " (a frame simulated on the way, not asked for)");
      break;
    }
    if (!asked) continue;  // a step of the simulation only
    if (figures.delivered++ == 0)
      figures.width = rendered.image->width, figures.height = rendered.image->height;
    if (!writers)
      progress.FrameDone(frame);
    else if (!writers->Push(frame, std::move(rendered.image)))
      break;  // a write failed
  }
  // Watched until the queued frames are written: a signal meanwhile still
  // lets them finish.
  if (std::string why; writers && !writers->Finish(&why)) failure = why;
  WatchAbortFlag(nullptr);
  figures.wallSeconds = std::chrono::duration<double>(Clock::now() - runStart).count();
  progress.Finish();
  if (writers) result.written = writers->Written(&figures);
  result.exitCode = ReportEnd(run, failure, writers ? writers->AdditiveLight() : 0,
                              figures.delivered, writers ? figures.written : figures.delivered);
  return result;
}

}  // namespace vorn
