// The checks of a render request, in the order a user mends them: the tool
// and the numbers, the output options, the inputs, then the output files.
// The whole request is checked even when no frame is left to render (an
// empty chunk, or every frame written), so that such a task fails as the
// others would.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <set>

#include "atomic_file.h"
#include "colour_space.h"
#include "composition.h"
#include "flow/flow_run.h"
#include "frame_chunks.h"
#include "frame_list.h"
#include "progress.h"
#include "render_job.h"
#include "value_parse.h"

namespace vorn {

namespace {

bool Fail(const std::string& message) {
  PrintError(message);
  return false;
}

// The tool: by name, or the class of the first --comp when no name is given.
bool ResolveTool(Host& host, const RenderSettings& s, RenderJob& job) {
  df::Registry* registry = nullptr;
  std::string error;
  if (!s.tool.empty()) {
    registry = host.FindTool(s.tool, &error);
    if (!registry) return Fail(error);
  } else {
    const auto comp = std::find_if(s.actions.begin(), s.actions.end(), [](const RenderAction& a) {
      return a.kind == RenderAction::Kind::Comp;
    });
    if (comp == s.actions.end())
      return Fail("name a tool (or give --comp FILE); tools: " + host.ToolListText());
    Composition loaded;
    if (!LoadComposition(host, comp->text, true, &loaded, &error)) return Fail("--comp: " + error);
    registry = loaded.op->GetRegistry();
  }
  job.op = host.Doc().CreateOperator(registry, &error);
  if (!job.op) return Fail(error);
  if (job.op->Outputs().empty() || job.op->Outputs()[0]->ValueType() != df::kTypeImage)
    return Fail("the tool \"" + registry->Name() + "\" declares no image output");
  job.className = registry->ClassName();
  job.toolName = registry->Name();
  job.stepped = (job.op->objFlags & kObjFlagSequential) != 0;
  return true;
}

// The frames asked for: --frames or --frame, else the frames on disk of an
// input sequence, else frame 0; then this task's part of them (--chunk).
bool ChooseFrames(const RenderSettings& s, RenderJob& job) {
  std::string error;
  std::vector<int>& frames = job.frames;
  if (s.frames.empty() && s.frame.empty()) {
    switch (SequenceFramesOnDisk(s.inputs, &frames, &error)) {
      case SequenceScan::Failed:
        return Fail(error);
      case SequenceScan::Found:
        break;
      case SequenceScan::NoSequence:
        frames = {0};
        break;
    }
  } else {
    if (!ParseFrameList(s.frame.empty() ? s.frames : s.frame, &frames, &error))
      return Fail(std::string(s.frame.empty() ? "--frames" : "--frame") + ": " + error);
    if (!s.frame.empty() && frames.size() != 1)
      return Fail("--frame takes one frame number; use --frames for a list");
  }
  job.allFrames = frames;
  job.firstFrame = {job.allFrames.front()};
  job.chunkFrames = frames;
  if (s.chunk.empty()) return true;
  ChunkSpec chunk;
  if (!ParseChunk(s.chunk, &chunk, &error)) return Fail("--chunk: " + error);
  const IndexRange r = ChunkRange(job.allFrames.size(), chunk);
  frames.assign(job.allFrames.begin() + ptrdiff_t(r.begin),
                job.allFrames.begin() + ptrdiff_t(r.end));
  job.chunkFrames = frames;
  job.chunkNote =
      "chunk " + std::to_string(chunk.index) + "/" + std::to_string(chunk.count) + ": " +
      (frames.empty()
           ? std::string("no frames")
           : "frames " + std::to_string(frames.front()) + " to " + std::to_string(frames.back())) +
      " (" + std::to_string(frames.size()) + " of " + std::to_string(job.allFrames.size()) + ")";
  return true;
}

// The shot the last --comp was saved for: its first frame and the size and
// aspect of the built-in images (none for a composition saved without them).
bool SavedShot(Host& host, const RenderSettings& s, ShotSettings* shot, std::string* from) {
  for (auto a = s.actions.rbegin(); a != s.actions.rend(); ++a) {
    if (a->kind != RenderAction::Kind::Comp) continue;
    // A flow's values applied to one tool bring no saved shot of their own.
    if (flow::IsFlowFile(a->text)) return true;
    Composition comp;
    std::string error;
    if (!LoadComposition(host, a->text, false, &comp, &error)) return Fail("--comp: " + error);
    *shot = comp.shot;
    *from = a->text;
    return true;
  }
  return true;
}

// The shot starts at the whole list's first frame, so that every chunk of
// it agrees, unless --shot-start or the composition says otherwise.
bool ChooseSteps(const RenderSettings& s, const ShotSettings& saved, const std::string& savedFrom,
                 RenderJob& job) {
  std::string error;
  int shotStart = job.allFrames.front();
  if (s.shotStart.empty() && job.stepped && saved.firstFrame) {
    if (*saved.firstFrame > job.allFrames.front())
      return Fail("--comp " + savedFrom + " was made for a shot that starts at frame " +
                  std::to_string(*saved.firstFrame) + ", after the first frame asked for (" +
                  std::to_string(job.allFrames.front()) +
                  "); give --shot-start to start the shot elsewhere");
    shotStart = *saved.firstFrame;
  }
  if (!s.shotStart.empty()) {
    auto n = ParseCount(s.shotStart, INT_MIN, INT_MAX, &error);
    if (!n) return Fail("--shot-start: " + error);
    if (*n > job.allFrames.front())
      return Fail("--shot-start " + std::to_string(*n) + " is after the first frame asked for (" +
                  std::to_string(job.allFrames.front()) + "); the shot must start at or before it");
    shotStart = int(*n);
    if (!job.stepped && !s.quiet)
      PrintWarning("--shot-start has no effect: \"" + job.toolName +
                   "\" renders each frame on its own");
  }
  job.shotStart = shotStart;
  if (!PlanSteps(job.stepped, shotStart, job.toolName, job.frames, &job.steps, &error))
    return Fail("--shot-start " + std::to_string(shotStart) + ": " + error);
  return true;
}

bool CheckNumbers(Host& host, const RenderSettings& s, RenderJob& job) {
  std::string error;
  if (!s.frames.empty() && !s.frame.empty()) return Fail("give --frames or --frame, not both");
  ShotSettings saved;
  std::string savedFrom;
  if (!SavedShot(host, s, &saved, &savedFrom)) return false;
  if (!ChooseFrames(s, job) || !ChooseSteps(s, saved, savedFrom, job)) return false;
  // The images of the composition's shot, unless a file or an option says
  // otherwise (as in the viewer it was saved from).
  if (saved.size) job.inputs.fallbackSize = *saved.size;
  if (saved.aspect) job.inputs.fallbackAspect = *saved.aspect;
  if (!s.size.empty()) {
    int w = 0, h = 0;
    if (!ParseSize(s.size, kMaxImageSide, kMaxImagePixels, &w, &h, &error))
      return Fail("--size: " + error);
    job.inputs.size = {w, h};
  }
  if (!s.aspect.empty()) {
    job.inputs.aspect = ParsePixelAspect(s.aspect, &error);
    if (!job.inputs.aspect) return Fail("--aspect: " + error);
  }
  if (!s.writers.empty()) {
    auto n = ParseCount(s.writers, 1, 16, &error);
    if (!n) return Fail("--writers: " + error);
    job.writers = int(*n);
  }
  if (!s.workers.empty() && !ApplyWorkerCount(host, s.workers, &error))
    return Fail("--workers: " + error);
  // By default a writer thread per core. Where encoding is slower than
  // rendering the render waits on the full queue, and its cores write:
  // on 2 cores a 1080p PNG sequence runs at 21 frames/s with two writers
  // against 11-13 with the one the render leaves over (JPEG 64 against
  // 52, TIFF 30 against 20). Where it is faster the writers sleep.
  if (s.writers.empty()) job.writers = std::clamp(df::AvailableProcessors(), 1, 16);
  return true;
}

bool CheckOutputs(const RenderSettings& s, RenderJob& job) {
  std::string error;
  for (auto [given, name] : {std::pair{s.skipExisting, "--skip-existing"},
                             {s.listOutputs, "--list-outputs"},
                             {s.checkOutputs, "--check-outputs"}}) {
    if (!given) continue;
    if (s.out.empty()) return Fail(std::string(name) + " needs --out PATTERN");
    if (s.noWrite) return Fail(std::string(name) + " and --no-write cannot go together");
  }
  if (s.listOutputs && s.checkOutputs)
    return Fail("give --list-outputs or --check-outputs, not both");
  if (s.out.empty() && s.save.empty() && !s.noWrite)
    return Fail("nothing to write: give --out PATTERN (or --save FILE)");
  if (s.out.empty() || s.noWrite) return true;
  auto pattern = FramePattern::Parse(s.out, &error);
  if (!pattern) return Fail("--out: " + error);
  auto format = OutputFormatFor(s.out);
  if (!format)
    return Fail("--out \"" + s.out + "\": cannot tell the file format; end the name in " +
                OutputFormatsText());
  if (job.allFrames.size() > 1 && !pattern->HasFrame())
    return Fail("--out \"" + s.out + "\" names one file for " +
                std::to_string(job.allFrames.size()) +
                " frames; put # (or @, %04d) where the frame number goes, e.g. render.#.png");
  if (pattern->FrameInFolder()) return Fail("--out \"" + s.out + "\": " + kFrameInFolderText);
  if (!ParseCompression(*format, s.compression, &job.write.compression, &error))
    return Fail("--compression \"" + s.compression + "\": " + error);
  if (!ParseBitDepth(*format, s.bitDepth, &job.write.depth, &error))
    return Fail("--bit-depth \"" + s.bitDepth + "\": " + error);
  if (!s.outputColourSpace.empty() && !CheckColourSpace(s.outputColourSpace, &error))
    return Fail("--output-colorspace: " + error);
  job.write.colourSpace = s.outputColourSpace;
  job.pattern = std::move(pattern);
  job.format = *format;
  return true;
}

// The frames whose input files are checked: those rendered; with none
// left, the frames of this chunk; with none in it, the list's first.
const std::vector<int>& InputFrames(const RenderJob& job) {
  if (!job.steps.empty()) return job.steps;
  if (!job.chunkFrames.empty()) return job.chunkFrames;
  return job.firstFrame;
}

bool BindInputs(const RenderSettings& s, RenderJob& job) {
  job.inputs.inputs = s.inputs;
  job.inputs.colourSpaces = s.inputColourSpaces;
  job.inputs.layers = s.inputLayers;
  job.inputs.quiet = s.quiet;
  const auto warn = [](const std::string& text) { PrintWarning(text); };
  std::string error;
  if (!job.driver.Bind(*job.op, job.inputs, InputFrames(job), warn, &error)) return Fail(error);
  job.write.metadata = job.driver.OutputMetadata(*job.op, InputFrames(job).front());
  return true;
}

// Every file of this run (each frame asked for, and --save), before
// anything is written.
bool CheckOutputPaths(const RenderSettings& s, const RenderJob& job,
                      const std::vector<int>& frames) {
  std::string error;
  if (job.pattern) {
    std::set<std::string> folders;
    for (int f : frames)
      if (!CheckOutputPath(job.pattern->Format(f), s.root, &error, &folders))
        return Fail("--out: frame " + std::to_string(f) + ": " + error);
  }
  if (!s.save.empty() && !CheckOutputPath(s.save, s.root, &error)) return Fail("--save: " + error);
  return true;
}

}  // namespace

bool ApplyWorkerCount(Host& host, const std::string& workers, std::string* error) {
  auto n = ParseCount(workers, 1, df::kMaxWorkers, error);
  if (!n) return false;
  // The tools read the chunk count from the environment at every render;
  // the pool runs them on at most one thread per chunk.
  setenv("NUM_PROC_VORN", std::to_string(*n).c_str(), 1);
  host.App().processorCount = int(*n);
  host.App().threadCount = std::clamp(int(*n), 1, host.App().threadCount);
  return true;
}

bool PlanSteps(bool stepped, int shotStart, const std::string& toolName,
               const std::vector<int>& frames, std::vector<int>* steps, std::string* error) {
  if (!stepped || frames.empty()) {
    *steps = frames;
    return true;
  }
  const long long span = (long long)frames.back() - shotStart + 1;
  if (span > (long long)kMaxFrames) {
    *error = "\"" + toolName + "\" would simulate " + std::to_string(span) +
             " frames to reach frame " + std::to_string(frames.back()) + "; at most " +
             std::to_string(kMaxFrames);
    return false;
  }
  steps->clear();
  steps->reserve(size_t(span));
  for (long long f = shotStart; f <= frames.back(); ++f) steps->push_back(int(f));
  return true;
}

bool CheckRenderRequest(Host& host, const RenderSettings& s, RenderJob* job) {
  if (!ResolveTool(host, s, *job) || !CheckNumbers(host, s, *job) || !CheckOutputs(s, *job))
    return false;
  const std::vector<int> asked = job->frames;  // before --skip-existing takes any
  // A check lists what is not whole, a folder at a frame's name included.
  if (s.checkOutputs) return true;
  if (s.skipExisting) SkipExisting(*job);
  std::string error;
  if (!BindInputs(s, *job) || !CheckOutputPaths(s, *job, asked)) return false;
  if (!CheckOverwrites(job->driver, job->steps, job->pattern ? &*job->pattern : nullptr,
                       job->frames, s.save, &error))
    return Fail(error);
  return ApplyActions(host, s, *job);
}

}  // namespace vorn
