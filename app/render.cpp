#include "render.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "atomic_file.h"
#include "chunk_count.h"
#include "flow/flow_file.h"
#include "flow/flow_run.h"
#include "flow/tool_flow.h"
#include "render_job.h"
#include "render_loop.h"
#include "signals.h"
#include "value_parse.h"

namespace vorn {

namespace {

// The worker count the tools will read: "NUM_PROC_VORN" as they parse it
// (leading blanks, sign, digits), else the application object's count.
int RenderWorkers(Host& host) {
  if (const char* env = std::getenv("NUM_PROC_VORN")) {
    const long n = std::strtol(env, nullptr, 10);
    return n < 1 ? 1 : n > df::kMaxWorkers ? df::kMaxWorkers : int(n);
  }
  return std::max(1, host.App().processorCount);
}

// Unless the user set the chunk count ("NUM_PROC_VORN", --workers), one near
// kChunksPerThread per pool thread whose bands split the frame evenly.
// VORN_CHUNK_THREADS plans it for another thread count (the pool stays as
// it is): with --stats, the model then shows how a machine of that many
// cores would fare with the chunks vorn would choose there.
bool ChooseChunks(Host& host, int width, int height) {
  if (std::getenv("NUM_PROC_VORN")) return true;
  int threads = std::max(1, host.App().threadCount);
  if (const char* given = std::getenv("VORN_CHUNK_THREADS"); given && *given) {
    std::string why;
    const std::optional<long long> n = ParseCount(given, 1, df::kMaxWorkers, &why);
    if (!n) {
      PrintError("VORN_CHUNK_THREADS is \"" + std::string(given) +
                 "\"; it takes a whole number of threads from 1 to " +
                 std::to_string(df::kMaxWorkers));
      return false;
    }
    threads = int(*n);
  }
  const long long wanted =
      std::min<long long>((long long)threads * kChunksPerThread, df::kMaxWorkers);
  host.App().processorCount = ChooseChunkCount(width, height, int(wanted), threads);
  host.App().chunkThreads = threads;
  return true;
}

// Renders the frames of a checked request and writes them; with --stats,
// prints the figures.
int RenderFrames(Host& host, const RenderSettings& s, RenderJob& job,
                 std::vector<std::string>* written) {
  host.PrepareFrameMemory(job.driver.Width(), job.driver.Height());
  if (!ChooseChunks(host, job.driver.Width(), job.driver.Height())) return kExitUsage;
  ChunkStats chunks;
  if (std::string why; s.stats && !chunks.Start(s.statsTrace, &why)) {
    PrintError("--stats-trace: " + why);
    return kExitUsage;
  }
  FrameRun run;
  run.op = job.op.get();
  run.driver = &job.driver;
  run.steps = job.steps;
  run.frames = job.frames;
  run.pattern = job.pattern ? &*job.pattern : nullptr;
  run.format = job.format;
  run.write = job.write;
  run.writers = job.writers;
  run.root = s.root;
  run.quiet = s.quiet;
  run.filesDone = s.filesDone;
  run.cancel = s.cancel;
  run.chunks = &chunks;
  run.frameTimes = s.stats;
  FrameRunResult result = RunFrames(run);
  *written = std::move(result.written);
  if (!s.stats) return result.exitCode;
  PrintRenderFigures(result.figures, RenderWorkers(host), std::max(1, host.App().threadCount),
                     chunks);
  if (std::string why; !chunks.Finish(&why)) {
    PrintError(why);
    if (result.exitCode == kExitOk) result.exitCode = kExitFailed;
  }
  std::fflush(stdout);
  return result.exitCode;
}

// The flow a render without a tool name renders: its first --comp, when
// that is a flow file; else "".
std::string FlowPath(const RenderSettings& s) {
  if (!s.tool.empty()) return "";
  for (const RenderAction& a : s.actions)
    if (a.kind == RenderAction::Kind::Comp) return flow::IsFlowFile(a.text) ? a.text : "";
  return "";
}

// --save: a flow file (NAME.flow.json) or the operator's record.
bool Save(Host& host, const RenderSettings& s, RenderJob& job) {
  if (!flow::SavesFlow(s.save)) return SaveComposition(host, job, s.save);
  flow::Flow saved;
  std::string error;
  if (!flow::FlowOfRender(host, s, job, &saved, &error) ||
      !flow::SaveFlow(host, saved, s.save, &error)) {
    PrintError("--save: " + error);
    return false;
  }
  return true;
}

}  // namespace

RenderOutcome RunRender(Host& host, const RenderSettings& s) {
  if (const std::string path = FlowPath(s); !path.empty())
    return flow::RunFlowRender(host, s, path);
  RenderOutcome outcome;
  if (!s.node.empty()) {
    PrintError("--node names a node of a flow: give --comp FLOW and no tool");
    outcome.exitCode = kExitUsage;
    return outcome;
  }
  RenderJob job;
  if (!CheckRenderRequest(host, s, &job)) {
    outcome.exitCode = kExitUsage;
    return outcome;
  }
  if (InterruptSignal() != 0) {
    outcome.exitCode = InterruptExitCode(InterruptSignal());
    return outcome;
  }
  if (s.checkOutputs) {
    outcome.exitCode = ReportMissingOutputs(job, s.quiet);
    return outcome;
  }
  if (s.listFrames) {
    for (int f : job.frames) std::printf("%d\n", f);
    std::fflush(stdout);
    return outcome;
  }
  if (s.listOutputs) {
    // A failed write to stdout is reported when the program ends.
    for (int f : job.frames) std::printf("%s\n", job.pattern->Format(f).c_str());
    std::fflush(stdout);
    return outcome;
  }
  auto note = [&](const std::string& message) {
    if (!s.quiet) PrintNote(message);
  };
  if (!job.chunkNote.empty()) note(job.chunkNote);
  if (job.skipped > 0)
    note(std::to_string(job.skipped) + " of " + std::to_string(job.skipped + job.frames.size()) +
         " frames are written already (--skip-existing); rendering " +
         std::to_string(job.frames.size()));
  // The whole request has passed: now the missing folders are made.
  std::string error;
  const bool framesToWrite = job.pattern && !job.frames.empty();
  if ((!s.save.empty() && !MakeOutputFolders(s.save, s.root, &error)) ||
      (framesToWrite &&
       !MakeOutputFolders(job.pattern->Format(job.frames.front()), s.root, &error))) {
    PrintError(error);
    outcome.exitCode = kExitFailed;
    return outcome;
  }
  if (!s.save.empty() && !Save(host, s, job)) {
    outcome.exitCode = kExitFailed;
    return outcome;
  }
  if (s.out.empty() && !s.noWrite) return outcome;  // --save alone
  if (job.frames.empty()) {
    note("nothing to render");
    return outcome;
  }
  outcome.exitCode = RenderFrames(host, s, job, &outcome.written);
  return outcome;
}

}  // namespace vorn
