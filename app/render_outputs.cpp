// The output files of a render on disk: which frames are written already,
// and which files a run must not write over.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <thread>

#include "atomic_file.h"
#include "frame_chunks.h"
#include "frame_list.h"
#include "render_job.h"

namespace vorn {

namespace {

// Whether a frame's output file counts as written: a regular file, not
// empty, that reads back whole (every pixel decoded).
bool OutputWhole(const std::string& path) {
  if (!OutputPresent(path)) return false;
  std::string error;
  return ReadImage(path, &error) != nullptr;
}

// OutputWhole for each frame's file, decoded on a thread per core: a
// requeued task of a long sequence reads every file it keeps.
std::vector<char> WholeOutputs(const FramePattern& pattern, const std::vector<int>& frames) {
  std::vector<char> whole(frames.size(), 0);
  std::atomic<size_t> next{0};
  auto check = [&] {
    for (size_t i = next++; i < frames.size(); i = next++)
      whole[i] = OutputWhole(pattern.Format(frames[i]));
  };
  const size_t threads =
      std::min(frames.size(), size_t(std::clamp(df::AvailableProcessors(), 1, 16)));
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < threads; ++t) helpers.emplace_back(check);
  check();
  for (std::thread& t : helpers) t.join();
  return whole;
}

}  // namespace

// A stepped tool still simulates from the shot's start, but only up to the
// last frame missing.
void SkipExisting(RenderJob& job) {
  std::vector<int> missing;
  const std::vector<char> whole = WholeOutputs(*job.pattern, job.frames);
  for (size_t i = 0; i < job.frames.size(); ++i)
    if (!whole[i]) missing.push_back(job.frames[i]);
  job.skipped = job.frames.size() - missing.size();
  job.frames = std::move(missing);
  if (!job.stepped)
    job.steps = job.frames;
  else if (job.frames.empty())
    job.steps.clear();
  else
    job.steps.erase(std::upper_bound(job.steps.begin(), job.steps.end(), job.frames.back()),
                    job.steps.end());
}

int ReportMissingOutputs(const RenderJob& job, bool quiet) {
  std::vector<int> missing;
  const std::vector<char> whole = WholeOutputs(*job.pattern, job.frames);
  for (size_t i = 0; i < job.frames.size(); ++i) {
    if (whole[i]) continue;
    std::printf("%s\n", job.pattern->Format(job.frames[i]).c_str());
    missing.push_back(job.frames[i]);
  }
  std::fflush(stdout);
  if (missing.empty()) {
    if (!quiet) PrintNote("all " + std::to_string(job.frames.size()) + " outputs are written");
    return kExitOk;
  }
  PrintError(std::to_string(missing.size()) + " of " + std::to_string(job.frames.size()) +
             " outputs are missing, empty or not whole: frame" + (missing.size() > 1 ? "s " : " ") +
             FormatFrameList(missing));
  return kExitFailed;
}

bool CheckOverwrites(const FrameDriver& driver, const std::vector<int>& steps,
                     const FramePattern* pattern, const std::vector<int>& frames,
                     const std::string& save, std::string* error) {
  std::map<std::string, std::string> inputs;  // file -> what it is
  for (const InputBinding& b : driver.Bindings()) {
    if (b.file.empty()) continue;
    const std::string what = "the image of \"" + b.caption + "\"";
    if (!b.sequence) {
      inputs.emplace(PathKey(b.file), what);
      continue;
    }
    for (int f : steps) inputs.emplace(PathKey(b.sequence->Format(f)), what);
  }
  const std::string saveKey = save.empty() ? std::string() : PathKey(save);
  if (!saveKey.empty() && inputs.count(saveKey)) {
    *error = "--save " + save + " is also " + inputs[saveKey] + "; name another file";
    return false;
  }
  if (!pattern) return true;
  for (int f : frames) {
    const std::string path = pattern->Format(f);
    const std::string k = PathKey(path);
    if (k == saveKey) {
      *error = "--save and --out both name " + path +
               "; the composition would be lost under frame " + std::to_string(f);
      return false;
    }
    if (auto it = inputs.find(k); it != inputs.end()) {
      *error = "--out: frame " + std::to_string(f) + " would be written over " + path +
               ", which is " + it->second + "; name another file";
      return false;
    }
  }
  return true;
}

}  // namespace vorn
