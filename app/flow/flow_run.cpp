#include "flow/flow_run.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "atomic_file.h"
#include "colour_space.h"
#include "file_bytes.h"
#include "flow/flow_file.h"
#include "flow/flow_render.h"
#include "flow/flow_steps.h"
#include "frame_chunks.h"
#include "frame_list.h"
#include "image_io.h"
#include "progress.h"
#include "render_job.h"
#include "signals.h"
#include "value_parse.h"

namespace vorn::flow {

namespace {

using Clock = std::chrono::steady_clock;

// One file written each frame: a node's image, where and how.
struct Output {
  size_t node = 0;
  FramePattern pattern;
  ImageFormat format = ImageFormat::Png;
  WriteOptions write;
};

struct FlowJob {
  Flow flow;
  std::vector<int> allFrames, frames, steps;
  std::string chunkNote;
  size_t skipped = 0;
  std::vector<Output> outputs;
  std::vector<bool> needed, stepped;  // nodes rendered at frames asked for; at the other steps
  std::optional<std::pair<int, int>> size;
};

bool Fail(const std::string& message) {
  PrintError(message);
  return false;
}

// Options that set up one tool's inputs or values have no place in a flow,
// whose file holds them.
bool CheckOptions(const RenderSettings& s) {
  if (!s.inputs.empty()) return Fail("--input does not apply to a flow: its plates are Read nodes");
  for (const RenderAction& a : s.actions)
    if (a.kind != RenderAction::Kind::Comp)
      return Fail(std::string(a.kind == RenderAction::Kind::Set ? "--set" : "--preset") +
                  " does not apply to a flow: its values are in the flow file");
  if (std::count_if(s.actions.begin(), s.actions.end(),
                    [](const RenderAction& a) { return a.kind == RenderAction::Kind::Comp; }) > 1)
    return Fail("--comp: give one flow");
  if (!s.aspect.empty() || !s.inputColourSpaces.empty() || !s.inputLayers.empty())
    return Fail(
        "--aspect, --input-colorspace and --input-layer do not apply to a flow: "
        "a Read node holds its colour space and layer");
  if (s.out.empty() &&
      (!s.compression.empty() || !s.bitDepth.empty() || !s.outputColourSpace.empty()))
    return Fail(
        "--compression, --bit-depth and --output-colorspace go with --out; a Write "
        "node holds its own");
  return true;
}

bool ChooseNumbers(Host& host, const RenderSettings& s, FlowJob& job) {
  std::string error;
  if (!s.workers.empty() && !ApplyWorkerCount(host, s.workers, &error))
    return Fail("--workers: " + error);
  if (!s.size.empty()) {
    int w = 0, h = 0;
    if (!ParseSize(s.size, kMaxImageSide, kMaxImagePixels, &w, &h, &error))
      return Fail("--size: " + error);
    job.size = std::pair{w, h};
  }
  // The frames: --frames or --frame, else the shot; then this task's part.
  if (!s.frames.empty() || !s.frame.empty()) {
    if (!ParseFrameList(s.frame.empty() ? s.frames : s.frame, &job.allFrames, &error))
      return Fail(std::string(s.frame.empty() ? "--frames" : "--frame") + ": " + error);
  } else {
    for (long long f = job.flow.shot.first; f <= job.flow.shot.last; ++f)
      job.allFrames.push_back(int(f));
  }
  job.frames = job.allFrames;
  if (s.chunk.empty()) return true;
  ChunkSpec chunk;
  if (!ParseChunk(s.chunk, &chunk, &error)) return Fail("--chunk: " + error);
  const IndexRange r = ChunkRange(job.allFrames.size(), chunk);
  job.frames.assign(job.allFrames.begin() + ptrdiff_t(r.begin),
                    job.allFrames.begin() + ptrdiff_t(r.end));
  job.chunkNote = "chunk " + std::to_string(chunk.index) + "/" + std::to_string(chunk.count) +
                  ": " +
                  (job.frames.empty() ? std::string("no frames")
                                      : "frames " + std::to_string(job.frames.front()) + " to " +
                                            std::to_string(job.frames.back())) +
                  " (" + std::to_string(job.frames.size()) + " of " +
                  std::to_string(job.allFrames.size()) + ")";
  return true;
}

bool MakeOutput(size_t node, const std::string& file, const std::string& compression,
                const std::string& bitDepth, const std::string& colourSpace,
                const std::string& what, size_t frameCount, Output* out) {
  std::string error;
  auto pattern = FramePattern::Parse(file, &error);
  if (!pattern) return Fail(what + ": " + error);
  auto format = OutputFormatFor(file);
  if (!format)
    return Fail(what + " \"" + file + "\": cannot tell the file format; end the name in " +
                OutputFormatsText());
  if (frameCount > 1 && !pattern->HasFrame())
    return Fail(what + " \"" + file + "\" names one file for " + std::to_string(frameCount) +
                " frames; put # (or @, %04d) where the frame number goes");
  if (pattern->FrameInFolder()) return Fail(what + " \"" + file + "\": " + kFrameInFolderText);
  if (!ParseCompression(*format, compression, &out->write.compression, &error))
    return Fail(what + ": compression \"" + compression + "\": " + error);
  if (!ParseBitDepth(*format, bitDepth, &out->write.depth, &error))
    return Fail(what + ": bit depth \"" + bitDepth + "\": " + error);
  if (!colourSpace.empty() && !CheckColourSpace(colourSpace, &error))
    return Fail(what + ": colorspace: " + error);
  out->write.colourSpace = colourSpace;
  out->node = node;
  out->pattern = std::move(*pattern);
  out->format = *format;
  return true;
}

std::string NodeList(const Flow& flow) {
  std::string list;
  for (const Node& n : flow.nodes) list += (list.empty() ? "\"" : ", \"") + n.name + "\"";
  return list;
}

bool ChooseOutputs(const RenderSettings& s, FlowJob& job) {
  Flow& flow = job.flow;
  const size_t count = job.allFrames.size();
  if (flow.nodes.empty()) return Fail("the flow has no node");
  if (!s.node.empty() || !s.out.empty()) {
    const Node* node = s.node.empty() ? flow.DefaultNode() : flow.Find(s.node);
    if (!node) return Fail("--node: no node is named \"" + s.node + "\"; nodes: " + NodeList(flow));
    const size_t index = size_t(flow.IndexOf(node->name));
    Output out;
    if (!s.out.empty()) {
      if (!MakeOutput(index, s.out, s.compression, s.bitDepth, s.outputColourSpace, "--out", count,
                      &out))
        return false;
    } else if (node->kind == NodeKind::Write) {
      const WriteSettings& w = node->write;
      if (!MakeOutput(index, w.file, w.compression, w.bitDepth, w.colourSpace,
                      "Write node \"" + node->name + "\"", count, &out))
        return false;
    } else {
      return Fail("--node \"" + s.node + "\" is not a Write node: give --out PATTERN");
    }
    job.outputs.push_back(std::move(out));
  } else {
    for (size_t i = 0; i < flow.nodes.size(); ++i) {
      const Node& node = flow.nodes[i];
      if (node.kind != NodeKind::Write) continue;
      Output out;
      const WriteSettings& w = node.write;
      if (!MakeOutput(i, w.file, w.compression, w.bitDepth, w.colourSpace,
                      "Write node \"" + node.name + "\"", count, &out))
        return false;
      job.outputs.push_back(std::move(out));
    }
    if (job.outputs.empty() && !s.noWrite)
      return Fail("the flow has no Write node: give --out PATTERN (and --node NAME)");
  }
  return true;
}

// Nodes rendered at frames asked for (everything upstream of an output), and
// at the steps between them (the sequential nodes among those, with what
// feeds them); then the frames Process runs for.
bool ChooseSteps(const RenderSettings& s, FlowJob& job) {
  Flow& flow = job.flow;
  std::vector<size_t> targets;
  for (const Output& o : job.outputs) targets.push_back(o.node);
  if (targets.empty()) targets.push_back(size_t(flow.IndexOf(flow.DefaultNode()->name)));
  const NodePlan plan = PlanNodes(flow, targets);
  job.needed = plan.needed;
  job.stepped = plan.stepped;
  int shotStart = flow.shot.simulationStart;
  std::string error;
  if (!s.shotStart.empty()) {
    auto n = ParseCount(s.shotStart, INT_MIN, INT_MAX, &error);
    if (!n) return Fail("--shot-start: " + error);
    shotStart = int(*n);
  }
  if (job.allFrames.empty()) return true;
  if (s.skipExisting) {
    std::vector<int> left;
    for (int f : job.frames) {
      const bool all = std::all_of(job.outputs.begin(), job.outputs.end(), [&](const Output& o) {
        return OutputPresent(o.pattern.Format(f));
      });
      if (!all) left.push_back(f);
    }
    job.skipped = job.frames.size() - left.size();
    job.frames = std::move(left);
  }
  if (!PlanFlowSteps(plan, shotStart, job.allFrames.front(), job.frames, &job.steps, &error))
    return Fail(error);
  return true;
}

// The metadata each output carries: that of the file of the first Read node
// (in the flow's order) upstream of it, as a one-tool render carries its
// first input file's.
void ChooseMetadata(FlowJob& job, int frame) {
  for (Output& o : job.outputs) {
    const std::vector<bool> upstream = job.flow.Upstream({o.node});
    for (size_t i = 0; i < job.flow.nodes.size(); ++i) {
      const Node& node = job.flow.nodes[i];
      if (!upstream[i] || node.kind != NodeKind::Read) continue;
      std::string path = node.read.file, error;
      auto pattern = FramePattern::Parse(path, &error);
      const long long f = (long long)frame + node.read.frameOffset;
      if (pattern && pattern->HasFrame() && !OutputPresent(path) && f >= INT_MIN && f <= INT_MAX)
        path = pattern->Format(int(f));
      ImageInfo info;
      if (ReadImageInfo(path, &info, &error, {node.read.colourSpace, node.read.layer}))
        o.write.metadata = info.metadata;
      break;
    }
  }
}

// No file is written twice, and none over a file a Read node reads.
bool CheckFiles(const RenderSettings& s, const FlowJob& job) {
  std::set<std::string> folders, files;
  std::string error;
  for (int f : job.frames)
    for (const Output& o : job.outputs) {
      const std::string path = o.pattern.Format(f);
      if (!CheckOutputPath(path, s.root, &error, &folders))
        return Fail("node \"" + job.flow.nodes[o.node].name + "\": frame " + std::to_string(f) +
                    ": " + error);
      if (!files.insert(path).second)
        return Fail("\"" + path + "\" would be written twice (frame " + std::to_string(f) + ")");
    }
  if (!s.save.empty() && !CheckOutputPath(s.save, s.root, &error)) return Fail("--save: " + error);
  for (const Node& node : job.flow.nodes) {
    if (node.kind != NodeKind::Read) continue;
    auto pattern = FramePattern::Parse(node.read.file, &error);
    for (int f : job.steps) {
      const long long ff = (long long)f + node.read.frameOffset;
      const std::string path = pattern && pattern->HasFrame() && ff >= INT_MIN && ff <= INT_MAX
                                   ? pattern->Format(int(ff))
                                   : node.read.file;
      if (files.count(path))
        return Fail("\"" + path + "\" is read by node \"" + node.name +
                    "\" and would be written over");
      if (!pattern || !pattern->HasFrame()) break;
    }
  }
  return true;
}

int RenderFlowFrames(const RenderSettings& s, FlowJob& job, FlowRenderer& renderer,
                     RenderOutcome* outcome) {
  Progress progress(ChooseProgressStyle(stderr, s.quiet), job.frames);
  size_t next = 0;
  int exitCode = kExitOk;
  std::string failure;
  const auto start = Clock::now();
  for (int frame : job.steps) {
    if (InterruptSignal() != 0 || (s.cancel && s.cancel->load() != 0)) break;
    const bool asked = next < job.frames.size() && job.frames[next] == frame;
    if (asked) ++next, progress.FrameStarted(frame);
    if (!renderer.Render(frame, asked ? job.needed : job.stepped, &failure)) break;
    if (asked) progress.FrameRendered();
    if (!asked || InterruptSignal() != 0) continue;
    if (s.noWrite) {
      progress.FrameDone(frame);
      continue;
    }
    for (const Output& o : job.outputs) {
      const df::Image* image = renderer.ImageOf(o.node);
      const std::string path = o.pattern.Format(frame);
      std::string why;
      if (!image || image->width < 1 || image->height < 1) {
        failure = "frame " + std::to_string(frame) + ": node \"" + job.flow.nodes[o.node].name +
                  "\" gave no image";
        break;
      }
      if ((!s.root.empty() && !CheckOutputPath(path, s.root, &why)) ||
          !WriteImage(*image, path, o.format, &why, o.write)) {
        failure = "frame " + std::to_string(frame) + ": " + why;
        break;
      }
      outcome->written.push_back(path);
      if (s.filesDone) ++*s.filesDone;
    }
    if (!failure.empty()) break;
    progress.FrameDone(frame);
  }
  progress.Finish();
  if (!failure.empty()) {
    PrintError(failure);
    PrintError(std::to_string(outcome->written.size()) + " files written");
    exitCode = kExitFailed;
  } else if (const int sig = InterruptSignal(); sig != 0) {
    PrintError(std::string("interrupted by ") + SignalName(sig) + "; " +
               std::to_string(outcome->written.size()) + " files written");
    exitCode = InterruptExitCode(sig);
  }
  if (s.stats) {
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("flow         %zu nodes, %zu frames asked, %zu rendered, %.3f s\n",
                job.flow.nodes.size(), job.frames.size(), job.steps.size(), wall);
    for (size_t i = 0; i < job.flow.nodes.size(); ++i)
      std::printf("  node %-20s %6ld renders  %10.3f ms\n", job.flow.nodes[i].name.c_str(),
                  renderer.RenderCount(i),
                  std::chrono::duration<double, std::milli>(renderer.RenderTime(i)).count());
    std::fflush(stdout);
  }
  return exitCode;
}

}  // namespace

bool IsFlowFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string error;
  return ReadFileBytes(path, kMaxCompositionBytes, &bytes, &error) && LooksLikeFlowText(bytes);
}

RenderOutcome RunFlowRender(Host& host, const RenderSettings& s, const std::string& path) {
  RenderOutcome outcome;
  outcome.exitCode = kExitUsage;
  FlowJob job;
  std::string error;
  if (!CheckOptions(s)) return outcome;
  if (!LoadFlow(host, path, &job.flow, &error)) {
    PrintError("--comp: " + error);
    return outcome;
  }
  if (!ChooseNumbers(host, s, job) || !ChooseOutputs(s, job) || !ChooseSteps(s, job))
    return outcome;
  if (s.listFrames) {
    for (int f : job.frames) std::printf("%d\n", f);
    std::fflush(stdout);
    outcome.exitCode = kExitOk;
    return outcome;
  }
  if (s.listOutputs || s.checkOutputs) {
    int missing = 0;
    for (int f : job.frames)
      for (const Output& o : job.outputs) {
        const std::string file = o.pattern.Format(f);
        if (s.checkOutputs && OutputPresent(file)) continue;
        ++missing;
        std::printf("%s\n", file.c_str());
      }
    std::fflush(stdout);
    outcome.exitCode = s.checkOutputs && missing > 0 ? kExitFailed : kExitOk;
    return outcome;
  }
  if (!s.noWrite && !CheckFiles(s, job)) return outcome;
  FlowRenderer renderer;
  // A Read's files are checked for the frames it renders: every step when
  // it feeds a sequential node, else the frames asked for (with none left,
  // the whole list's).
  const std::vector<int>& check = job.steps.empty() ? job.allFrames : job.steps;
  const std::vector<int>& asked = job.frames.empty() ? job.allFrames : job.frames;
  const auto frames = [&](size_t node) -> const std::vector<int>& {
    return job.stepped[node] ? check : asked;
  };
  const auto warn = [](const std::string& text) { PrintWarning(text); };
  if (!renderer.Prepare(job.flow, job.size, frames, warn, &error)) {
    PrintError(error);
    return outcome;
  }
  // Each frame renders once here: the cache would only hold memory.
  renderer.SetCacheBytes(0);
  if (!job.steps.empty()) renderer.SetSimulationStart(job.steps.front());
  renderer.SimulationsRestarted();  // the operators were loaded for this run
  ChooseMetadata(job, check.empty() ? 0 : check.front());
  outcome.exitCode = kExitOk;
  if (InterruptSignal() != 0) {
    outcome.exitCode = InterruptExitCode(InterruptSignal());
    return outcome;
  }
  if (!job.chunkNote.empty() && !s.quiet) PrintNote(job.chunkNote);
  if (job.skipped > 0 && !s.quiet)
    PrintNote(std::to_string(job.skipped) + " of " +
              std::to_string(job.skipped + job.frames.size()) +
              " frames are written already (--skip-existing); rendering " +
              std::to_string(job.frames.size()));
  // The whole request has passed: now the folders are made and files written.
  if (!s.save.empty() &&
      (!MakeOutputFolders(s.save, s.root, &error) || !SaveFlow(host, job.flow, s.save, &error))) {
    PrintError("--save: " + error);
    outcome.exitCode = kExitFailed;
    return outcome;
  }
  if (!s.noWrite && !job.frames.empty())
    for (const Output& o : job.outputs)
      if (!MakeOutputFolders(o.pattern.Format(job.frames.front()), s.root, &error)) {
        PrintError(error);
        outcome.exitCode = kExitFailed;
        return outcome;
      }
  if (job.frames.empty()) {
    if (!s.quiet) PrintNote("nothing to render");
    return outcome;
  }
  host.PrepareFrameMemory(renderer.Width(), renderer.Height());
  outcome.exitCode = RenderFlowFrames(s, job, renderer, &outcome);
  return outcome;
}

}  // namespace vorn::flow
