#include "render.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "atomic_file.h"
#include "chunk_stats.h"
#include "colour_options.h"
#include "colour_space.h"
#include "composition.h"
#include "controls_model.h"
#include "default_images.h"
#include "frame_chunks.h"
#include "frame_list.h"
#include "image_io.h"
#include "library_messages.h"
#include "output_pattern.h"
#include "progress.h"
#include "signals.h"
#include "value_parse.h"
#include "writer_queue.h"

namespace vorn {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 720;
constexpr long long kMaxWorkers = df::kMaxWorkers;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

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

// An image input and where its pictures come from.
struct ImageBinding {
  df::Input* input = nullptr;
  std::string file;                      // as given; empty for a built-in image
  std::optional<FramePattern> sequence;  // one file per frame
  ImageRef still;                        // one image for every frame
  ReadOptions read;                      // colour space and layer of its files
};

struct WriteJob {
  int frame = 0;
  std::string path;
  ImageRef image;
};

class RenderRun {
 public:
  RenderRun(Host& host, const RenderSettings& s) : host_(host), s_(s) {}

  RenderOutcome Run() {
    RenderOutcome outcome;
    if (!Prepare()) {
      outcome.exitCode = kExitUsage;
      return outcome;
    }
    if (InterruptSignal() != 0) {
      outcome.exitCode = InterruptExitCode(InterruptSignal());
      return outcome;
    }
    if (s_.checkOutputs) {
      outcome.exitCode = ReportMissingOutputs();
      return outcome;
    }
    if (s_.listOutputs) {
      // A failed write to stdout is reported when the program ends.
      for (int f : frames_) std::printf("%s\n", pattern_->Format(f).c_str());
      std::fflush(stdout);
      return outcome;
    }
    if (!chunkNote_.empty()) Note(chunkNote_);
    if (skipped_ > 0)
      Note(std::to_string(skipped_) + " of " + std::to_string(skipped_ + frames_.size()) +
           " frames are written already (--skip-existing); rendering " +
           std::to_string(frames_.size()));
    // The whole request has passed: now the missing folders are made.
    std::string error;
    const bool framesToWrite = pattern_ && !frames_.empty();
    if ((!s_.save.empty() && !MakeOutputFolders(s_.save, s_.root, &error)) ||
        (framesToWrite && !MakeOutputFolders(pattern_->Format(frames_.front()), s_.root, &error))) {
      PrintError(error);
      outcome.exitCode = kExitFailed;
      return outcome;
    }
    if (!s_.save.empty() && !SaveComp()) {
      outcome.exitCode = kExitFailed;
      return outcome;
    }
    if (s_.out.empty() && !s_.noWrite) return outcome;  // --save alone
    if (frames_.empty()) {
      Note("nothing to render");
      return outcome;
    }
    outcome.exitCode = RenderFrames(&outcome.written);
    return outcome;
  }

 private:
  bool Fail(const std::string& message) {
    PrintError(message);
    return false;
  }

  void Note(const std::string& message) const {
    if (s_.quiet) return;
    std::lock_guard lock(StderrMutex());
    std::fprintf(stderr, "vorn: %s\n", message.c_str());
  }

  // A check of the outputs needs the frames and the pattern only; a list of
  // them checks the whole request, as a render would. The whole request is
  // checked even when no frame is left to render (an empty chunk, or every
  // frame written), so that such a task fails as the others would.
  // Problems are reported in the order a user mends them: the tool and the
  // numbers, the output options, the inputs, then the output files.
  bool Prepare() {
    if (!ResolveTool() || !CheckNumbers() || !CheckOutputs()) return false;
    const std::vector<int> asked = frames_;  // before --skip-existing takes any
    // A check lists what is not whole, a folder at a frame's name included.
    if (s_.checkOutputs) return true;
    if (s_.skipExisting) SkipExisting();
    return BindInputs() && CheckOutputPaths(asked) && CheckOverwrites() && ApplyActions();
  }

  // The tool: by name, or the class of the first --comp when no name is given.
  bool ResolveTool() {
    df::Registry* registry = nullptr;
    std::string error;
    if (!s_.tool.empty()) {
      registry = host_.FindTool(s_.tool, &error);
      if (!registry) return Fail(error);
    } else {
      const RenderAction* comp = nullptr;
      for (const RenderAction& a : s_.actions)
        if (a.kind == RenderAction::Kind::Comp && !comp) comp = &a;
      if (!comp) return Fail("name a tool (or give --comp FILE); tools: " + host_.ToolListText());
      Composition loaded;
      if (!LoadComposition(host_, comp->text, true, &loaded, &error))
        return Fail("--comp: " + error);
      registry = loaded.op->GetRegistry();
    }
    op_ = host_.Doc().CreateOperator(registry, &error);
    if (!op_) return Fail(error);
    if (op_->Outputs().empty() || op_->Outputs()[0]->ValueType() != df::kTypeImage)
      return Fail("the tool \"" + registry->Name() + "\" declares no image output");
    className_ = registry->ClassName();
    toolName_ = registry->Name();
    return true;
  }

  bool CheckNumbers() {
    std::string error;
    if (!s_.frames.empty() && !s_.frame.empty()) return Fail("give --frames or --frame, not both");
    if (!ChooseFrames() || !PlanSteps()) return false;
    if (!s_.size.empty()) {
      int w = 0, h = 0;
      if (!ParseSize(s_.size, kMaxImageSide, kMaxImagePixels, &w, &h, &error))
        return Fail("--size: " + error);
      width_ = w, height_ = h, sizeGiven_ = true;
    }
    if (!s_.aspect.empty()) {
      auto a = ParseNumber(s_.aspect, &error);
      if (!a) return Fail("--aspect: " + error);
      if (*a < 0.01 || *a > 100)
        return Fail("--aspect: " + FormatNumber(*a) +
                    " is outside the allowed range (0.01 to 100)");
      aspect_ = *a;
    }
    if (!s_.writers.empty()) {
      auto n = ParseCount(s_.writers, 1, 16, &error);
      if (!n) return Fail("--writers: " + error);
      writers_ = int(*n);
    }
    if (!s_.workers.empty()) {
      auto n = ParseCount(s_.workers, 1, kMaxWorkers, &error);
      if (!n) return Fail("--workers: " + error);
      // The tools read the chunk count from the environment at every render;
      // the pool runs them on at most one thread per chunk.
      setenv("NUM_PROC_VORN", std::to_string(*n).c_str(), 1);
      host_.App().processorCount = int(*n);
      host_.App().threadCount = std::clamp(int(*n), 1, host_.App().threadCount);
    }
    // By default a writer thread per core. Where encoding is slower than
    // rendering the render waits on the full queue, and its cores write:
    // on 2 cores a 1080p PNG sequence runs at 21 frames/s with two writers
    // against 11-13 with the one the render leaves over (JPEG 64 against
    // 52, TIFF 30 against 20). Where it is faster the writers sleep.
    if (s_.writers.empty()) writers_ = std::clamp(df::AvailableProcessors(), 1, 16);
    return true;
  }

  // The worker count the tools will read: "NUM_PROC_VORN" as they parse it
  // (leading blanks, sign, digits), else the application object's count.
  int RenderWorkers() {
    if (const char* env = std::getenv("NUM_PROC_VORN")) {
      const long n = std::strtol(env, nullptr, 10);
      return n < 1 ? 1 : n > kMaxWorkers ? int(kMaxWorkers) : int(n);
    }
    return std::max(1, host_.App().processorCount);
  }

  // The frames asked for: --frames or --frame, else the frames on disk of an
  // input sequence, else frame 0; then this task's part of them (--chunk).
  bool ChooseFrames() {
    std::string error;
    if (s_.frames.empty() && s_.frame.empty()) {
      switch (SequenceFramesOnDisk(s_.inputs, &frames_, &error)) {
        case SequenceScan::Failed:
          return Fail(error);
        case SequenceScan::Found:
          break;
        case SequenceScan::NoSequence:
          frames_ = {0};
          break;
      }
    } else {
      if (!ParseFrameList(s_.frame.empty() ? s_.frames : s_.frame, &frames_, &error))
        return Fail(std::string(s_.frame.empty() ? "--frames" : "--frame") + ": " + error);
      if (!s_.frame.empty() && frames_.size() != 1)
        return Fail("--frame takes one frame number; use --frames for a list");
    }
    allFrames_ = frames_;
    firstFrame_ = {allFrames_.front()};
    chunkFrames_ = frames_;
    if (s_.chunk.empty()) return true;
    ChunkSpec chunk;
    if (!ParseChunk(s_.chunk, &chunk, &error)) return Fail("--chunk: " + error);
    const IndexRange r = ChunkRange(allFrames_.size(), chunk);
    frames_.assign(allFrames_.begin() + ptrdiff_t(r.begin), allFrames_.begin() + ptrdiff_t(r.end));
    chunkFrames_ = frames_;
    chunkNote_ = "chunk " + std::to_string(chunk.index) + "/" + std::to_string(chunk.count) + ": " +
                 (frames_.empty() ? std::string("no frames")
                                  : "frames " + std::to_string(frames_.front()) + " to " +
                                        std::to_string(frames_.back())) +
                 " (" + std::to_string(frames_.size()) + " of " +
                 std::to_string(allFrames_.size()) + ")";
    return true;
  }

  // Leaves the frames whose output is there already. A stepped tool still
  // simulates from the shot's start, but only up to the last frame missing.
  void SkipExisting() {
    std::vector<int> missing;
    const std::vector<char> whole = WholeOutputs(*pattern_, frames_);
    for (size_t i = 0; i < frames_.size(); ++i)
      if (!whole[i]) missing.push_back(frames_[i]);
    skipped_ = frames_.size() - missing.size();
    frames_ = std::move(missing);
    if (!stepped_)
      steps_ = frames_;
    else if (frames_.empty())
      steps_.clear();
    else
      steps_.erase(std::upper_bound(steps_.begin(), steps_.end(), frames_.back()), steps_.end());
  }

  // Prints the output file of every frame that is missing or not whole, one
  // per line on stdout; exit status 1 when there is one.
  int ReportMissingOutputs() {
    std::vector<int> missing;
    const std::vector<char> whole = WholeOutputs(*pattern_, frames_);
    for (size_t i = 0; i < frames_.size(); ++i) {
      if (whole[i]) continue;
      std::printf("%s\n", pattern_->Format(frames_[i]).c_str());
      missing.push_back(frames_[i]);
    }
    std::fflush(stdout);
    if (missing.empty()) {
      Note("all " + std::to_string(frames_.size()) + " outputs are written");
      return kExitOk;
    }
    PrintError(std::to_string(missing.size()) + " of " + std::to_string(frames_.size()) +
               " outputs are missing, empty or not whole: frame" +
               (missing.size() > 1 ? "s " : " ") + FormatFrameList(missing));
    return kExitFailed;
  }

  // The frames whose input files are checked: those rendered; with none
  // left, the frames of this chunk; with none in it, the list's first.
  const std::vector<int>& InputFrames() const {
    if (!steps_.empty()) return steps_;
    if (!chunkFrames_.empty()) return chunkFrames_;
    return firstFrame_;
  }

  // The frames Process runs for. A tool whose frames depend on every frame
  // simulated before is stepped through every frame from the shot's start to
  // the last frame asked for, so that a frame is the same whatever else is
  // asked for; other tools render the frames asked for alone. The shot
  // starts at the whole list's first frame, so every chunk of it agrees.
  bool PlanSteps() {
    std::string error;
    stepped_ = (op_->objFlags & kObjFlagSequential) != 0;
    int shotStart = allFrames_.front();
    if (!s_.shotStart.empty()) {
      auto n = ParseCount(s_.shotStart, INT_MIN, INT_MAX, &error);
      if (!n) return Fail("--shot-start: " + error);
      if (*n > allFrames_.front())
        return Fail("--shot-start " + std::to_string(*n) + " is after the first frame asked for (" +
                    std::to_string(allFrames_.front()) + "); the shot must start at or before it");
      shotStart = int(*n);
      if (!stepped_ && !s_.quiet)
        PrintWarning("--shot-start has no effect: \"" + toolName_ +
                     "\" renders each frame on its own");
    }
    if (!stepped_ || frames_.empty()) {
      steps_ = frames_;
      return true;
    }
    const long long span = (long long)frames_.back() - shotStart + 1;
    if (span > (long long)kMaxFrames)
      return Fail("--shot-start " + std::to_string(shotStart) + ": \"" + toolName_ +
                  "\" would simulate " + std::to_string(span) + " frames to reach frame " +
                  std::to_string(frames_.back()) + "; at most " + std::to_string(kMaxFrames));
    steps_.clear();
    steps_.reserve(size_t(span));
    for (long long f = shotStart; f <= frames_.back(); ++f) steps_.push_back(int(f));
    return true;
  }

  bool CheckOutputs() {
    std::string error;
    for (auto [given, name] : {std::pair{s_.skipExisting, "--skip-existing"},
                               {s_.listOutputs, "--list-outputs"},
                               {s_.checkOutputs, "--check-outputs"}}) {
      if (!given) continue;
      if (s_.out.empty()) return Fail(std::string(name) + " needs --out PATTERN");
      if (s_.noWrite) return Fail(std::string(name) + " and --no-write cannot go together");
    }
    if (s_.listOutputs && s_.checkOutputs)
      return Fail("give --list-outputs or --check-outputs, not both");
    if (s_.out.empty() && s_.save.empty() && !s_.noWrite)
      return Fail("nothing to write: give --out PATTERN (or --save FILE)");
    if (!s_.out.empty() && !s_.noWrite) {
      auto pattern = FramePattern::Parse(s_.out, &error);
      if (!pattern) return Fail("--out: " + error);
      auto format = OutputFormatFor(s_.out);
      if (!format)
        return Fail("--out \"" + s_.out + "\": cannot tell the file format; end the name in " +
                    OutputFormatsText());
      if (allFrames_.size() > 1 && !pattern->HasFrame())
        return Fail("--out \"" + s_.out + "\" names one file for " +
                    std::to_string(allFrames_.size()) +
                    " frames; put # (or @, %04d) where the frame number goes, e.g. "
                    "render.#.png");
      if (pattern->FrameInFolder()) return Fail("--out \"" + s_.out + "\": " + kFrameInFolderText);
      if (!ParseCompression(*format, s_.compression, &writeOptions_.compression, &error))
        return Fail("--compression \"" + s_.compression + "\": " + error);
      if (!ParseBitDepth(*format, s_.bitDepth, &writeOptions_.depth, &error))
        return Fail("--bit-depth \"" + s_.bitDepth + "\": " + error);
      if (!s_.outputColourSpace.empty() && !CheckColourSpace(s_.outputColourSpace, &error))
        return Fail("--output-colorspace: " + error);
      writeOptions_.colourSpace = s_.outputColourSpace;
      pattern_ = std::move(pattern);
      format_ = *format;
    }
    return true;
  }

  // Every file of this run (each frame asked for, and --save), before
  // anything is written.
  bool CheckOutputPaths(const std::vector<int>& frames) {
    std::string error;
    if (pattern_) {
      std::set<std::string> folders;
      for (int f : frames)
        if (!CheckOutputPath(pattern_->Format(f), s_.root, &error, &folders))
          return Fail("--out: frame " + std::to_string(f) + ": " + error);
    }
    if (!s_.save.empty() && !CheckOutputPath(s_.save, s_.root, &error))
      return Fail("--save: " + error);
    return true;
  }

  bool BindInputs() {
    std::string error;
    InputReadChoices choices;
    if (!choices.Parse(*op_, s_.inputColourSpaces, s_.inputLayers, &error)) return Fail(error);
    for (const std::string& text : s_.inputs) {
      std::string caption, file;
      if (!SplitAssignment(text, &caption, &file, &error))
        return Fail("--input " + error + " (CAPTION=FILE)");
      df::Input* input = FindImageInput(*op_, caption, &error);
      if (!input) return Fail("--input \"" + text + "\": " + error);
      for (const ImageBinding& b : bindings_)
        if (b.input == input) return Fail("--input: \"" + caption + "\" is given twice");
      if (file.empty()) return Fail("--input \"" + text + "\": no file after '='");
      ImageBinding binding;
      binding.input = input;
      binding.file = file;
      binding.read = choices.For(input);
      std::error_code ec;
      std::optional<FramePattern> pattern;
      std::string patternError;
      if (!std::filesystem::exists(file, ec)) pattern = FramePattern::Parse(file, &patternError);
      if (pattern && pattern->HasFrame()) {
        // A sequence: every frame's file must be there and readable now;
        // with no frame left to render, those of the frames asked for.
        for (int f : InputFrames()) {
          ImageInfo info;
          if (!ReadImageInfo(pattern->Format(f), &info, &error, binding.read))
            return Fail("--input \"" + caption + "\" frame " + std::to_string(f) + ": " + error);
          NoteFileSize(info);
          if (f == InputFrames().front()) NoteMetadata(input, info.metadata);
        }
        binding.sequence = std::move(pattern);
      } else {
        float brightest = 0;
        ImageMetadata metadata;
        binding.still = ReadImage(file, &error, binding.read, &brightest, &metadata);
        if (!binding.still) return Fail("--input \"" + caption + "\": " + error);
        NoteClipping(file, brightest);
        NoteFileSize(
            {binding.still->width, binding.still->height, binding.still->aspect, metadata});
        NoteMetadata(input, metadata);
      }
      bindings_.push_back(std::move(binding));
    }
    if (!sizeGiven_ && !fileSize_) width_ = kDefaultWidth, height_ = kDefaultHeight;
    const double aspect = aspect_ ? *aspect_ : fileAspect_.value_or(1.0);
    for (ImageBinding& b : bindings_)
      if (b.still && aspect_) b.still->aspect = *aspect_;
    // Required inputs without a file get the tool's built-in image.
    for (df::Input* input : ImageInputs(*op_)) {
      if (!input->Required()) continue;
      bool bound = false;
      for (const ImageBinding& b : bindings_) bound = bound || b.input == input;
      if (bound) continue;
      ImageBinding binding;
      binding.input = input;
      binding.still = MakeDefaultImage(className_, width_, height_, aspect);
      if (!binding.still)
        return Fail("not enough memory for a " + std::to_string(width_) + " x " +
                    std::to_string(height_) + " " + DefaultImageName(className_));
      bindings_.push_back(std::move(binding));
    }
    return true;
  }

  // No file is written twice or over an input of the same run: --save and a
  // frame of --out, or a frame over an image it is made from.
  bool CheckOverwrites() {
    auto key = [](const std::string& path) { return PathKey(path); };
    std::map<std::string, std::string> inputs;  // file -> what it is
    for (const ImageBinding& b : bindings_) {
      if (b.file.empty()) continue;
      const std::string what = "the image of \"" + b.input->Name() + "\"";
      if (!b.sequence) {
        inputs.emplace(key(b.file), what);
        continue;
      }
      for (int f : steps_) inputs.emplace(key(b.sequence->Format(f)), what);
    }
    const std::string save = s_.save.empty() ? std::string() : key(s_.save);
    if (!save.empty() && inputs.count(save))
      return Fail("--save " + s_.save + " is also " + inputs[save] + "; name another file");
    if (!pattern_) return true;
    for (int f : frames_) {
      const std::string path = pattern_->Format(f);
      const std::string k = key(path);
      if (k == save)
        return Fail("--save and --out both name " + path +
                    "; the composition would be lost under frame " + std::to_string(f));
      if (auto it = inputs.find(k); it != inputs.end())
        return Fail("--out: frame " + std::to_string(f) + " would be written over " + path +
                    ", which is " + it->second + "; name another file");
    }
    return true;
  }

  // The outputs carry the metadata of the first image input (in the tool's
  // order) that has a file.
  void NoteMetadata(const df::Input* input, const ImageMetadata& metadata) {
    const std::vector<df::Input*> order = ImageInputs(*op_);
    const auto rank = [&](const df::Input* in) {
      return std::find(order.begin(), order.end(), in) - order.begin();
    };
    if (metadataInput_ && rank(metadataInput_) <= rank(input)) return;
    metadataInput_ = input;
    writeOptions_.metadata = metadata;
  }

  // Values above 1 are clipped in the tools' 8-bit images: said once a run.
  void NoteClipping(const std::string& path, float brightest) {
    if (warnedClipping_ || !(brightest > 1.0f + 0.5f / 255) || s_.quiet) return;
    warnedClipping_ = true;
    if (progress_)
      progress_->Message("vorn: warning: " + ClippedValuesWarning(path, brightest));
    else
      PrintWarning(ClippedValuesWarning(path, brightest));
  }

  void NoteFileSize(const ImageInfo& info) {
    if (fileSize_) return;
    fileSize_ = true;
    fileAspect_ = info.aspect;
    if (!sizeGiven_) width_ = info.width, height_ = info.height;
  }

  bool ApplyActions() {
    // Settings and button presses act before the first frame rendered: for a
    // stepped tool, the shot's first step.
    const double t0 = steps_.empty() ? allFrames_.front() : steps_.front();
    std::string error;
    for (const RenderAction& a : s_.actions) {
      switch (a.kind) {
        case RenderAction::Kind::Set: {
          std::string caption, value;
          if (!SplitAssignment(a.text, &caption, &value, &error)) return Fail("--set " + error);
          df::Input* input = FindControl(*op_, caption, &error);
          if (!input) return Fail("--set \"" + a.text + "\": " + error);
          ParsedValue parsed;
          if (!ParseControlValue(SpecOf(*input), value, &parsed, &error) ||
              !ApplyValue(input, parsed, t0, &error))
            return Fail("--set \"" + a.text + "\": \"" + caption + "\": " + error);
          break;
        }
        case RenderAction::Kind::Preset: {
          df::Input* combo = FindPresetCombo(*op_);
          if (!combo)
            return Fail("--preset \"" + a.text + "\": the tool \"" + toolName_ + "\" has no \"" +
                        kPresetCaption + "\" combo of presets");
          ParsedValue parsed;
          if (a.text.find('@') != std::string::npos ||
              !ParseControlValue(SpecOf(*combo), a.text, &parsed, &error)) {
            if (a.text.find('@') != std::string::npos)
              error = "a preset is chosen once; items: " + QuotedList(combo->ComboItems());
            return Fail("--preset \"" + a.text + "\": " + error);
          }
          if (!ApplyValue(combo, parsed, t0, &error))
            return Fail("--preset \"" + a.text + "\": " + error);
          break;
        }
        case RenderAction::Kind::Comp:
          if (!LoadComp(a.text)) return false;
          break;
      }
    }
    return true;
  }

  // Takes every control value of a saved record, as if loaded, keeping this
  // operator (and so anything the tool was asked to do before).
  bool LoadComp(const std::string& path) {
    Composition loaded;
    std::string error;
    if (!LoadComposition(host_, path, true, &loaded, &error)) return Fail("--comp: " + error);
    if (loaded.op->GetRegistry() != op_->GetRegistry())
      return Fail("--comp: " + path + " is a \"" + loaded.op->GetRegistry()->Name() +
                  "\" composition, but the tool is \"" + toolName_ + "\"");
    for (const std::string& line : AdjustedValues(loaded))
      PrintWarning("--comp " + path + ": " + line);
    for (df::Input* from : ControlInputs(*loaded.op)) {
      df::Input* to = op_->FindInput(from->Id());
      if (to && to->ValueType() == from->ValueType()) to->RestoreState(from->State());
    }
    return true;
  }

  bool SaveComp() {
    std::vector<uint8_t> bytes;
    std::string error;
    {
      df::CArchive archive(&bytes);
      if (!host_.Doc().SaveOperator(op_.get(), archive, &error) || !archive.Flush())
        return Fail("--save: cannot save the composition: " +
                    (error.empty() ? std::string("the record could not be made") : error));
    }
    if (!WriteFileAtomically(s_.save, bytes.data(), bytes.size(), &error))
      return Fail("--save: " + error);
    return true;
  }

  // Connects the images of one frame; sequence frames are read into `owned`.
  // Warns once when connected images disagree in size: the tool then draws
  // its mismatch pattern, which is its business, not an error of the host.
  bool FrameImages(int frame, df::Request* request, std::vector<ImageRef>* owned,
                   std::string* error) {
    std::vector<std::pair<const df::Input*, const df::Image*>> connected;
    for (ImageBinding& b : bindings_) {
      df::Image* image = b.still.get();
      if (b.sequence) {
        float brightest = 0;
        ImageRef read = ReadImage(b.sequence->Format(frame), error, b.read, &brightest);
        if (!read) return false;
        NoteClipping(b.sequence->Format(frame), brightest);
        if (aspect_) read->aspect = *aspect_;
        image = read.get();
        owned->push_back(std::move(read));
      }
      request->SetInputImage(b.input, image);
      connected.push_back({b.input, image});
    }
    if (warnedMismatch_ || connected.size() < 2) return true;
    const std::vector<df::Input*> order = ImageInputs(*op_);
    auto rank = [&](const df::Input* in) {
      return std::find(order.begin(), order.end(), in) - order.begin();
    };
    std::sort(connected.begin(), connected.end(),
              [&](const auto& a, const auto& b) { return rank(a.first) < rank(b.first); });
    const auto& [mainInput, main] = connected.front();
    for (const auto& [input, image] : connected) {
      if (image->width == main->width && image->height == main->height) continue;
      warnedMismatch_ = true;
      const std::string text =
          "image sizes disagree at frame " + std::to_string(frame) + ": \"" + mainInput->Name() +
          "\" is " + std::to_string(main->width) + " x " + std::to_string(main->height) + ", \"" +
          input->Name() + "\" is " + std::to_string(image->width) + " x " +
          std::to_string(image->height) + "; \"" + toolName_ + "\" renders its mismatch pattern";
      if (progress_)
        progress_->Message("vorn: warning: " + text);
      else
        PrintWarning(text);
      break;
    }
    return true;
  }

  int RenderFrames(std::vector<std::string>* written);

  Host& host_;
  const RenderSettings& s_;
  df::OperatorPtr op_;
  std::string className_, toolName_;
  std::vector<int> allFrames_;                 // the whole list asked for, increasing
  std::vector<int> frames_;                    // this chunk of them, less the frames skipped
  std::vector<int> chunkFrames_, firstFrame_;  // this chunk; the list's first frame
  size_t skipped_ = 0;                         // frames left because their output is there
  std::string chunkNote_;
  std::vector<int> steps_;  // rendered, increasing; frames_ is a subset
  bool stepped_ = false;
  int width_ = kDefaultWidth, height_ = kDefaultHeight;
  bool sizeGiven_ = false, fileSize_ = false;
  std::optional<double> aspect_, fileAspect_;
  std::optional<FramePattern> pattern_;
  ImageFormat format_ = ImageFormat::Png;
  WriteOptions writeOptions_;
  const df::Input* metadataInput_ = nullptr;
  bool warnedClipping_ = false;
  int writers_ = 1;
  std::vector<ImageBinding> bindings_;
  bool warnedMismatch_ = false;
  Progress* progress_ = nullptr;
};

int RenderRun::RenderFrames(std::vector<std::string>* written) {
  const int total = int(frames_.size());
  host_.PrepareFrameMemory(width_, height_);
  ChunkStats chunkStats;
  if (std::string why; s_.stats && !chunkStats.Start(s_.statsTrace, &why)) {
    PrintError("--stats-trace: " + why);
    return kExitUsage;
  }
  Progress progress(ChooseProgressStyle(stderr, s_.quiet), frames_);
  progress_ = &progress;
  progress.WatchChunks([] {
    const df::ChunkProgress p = df::CurrentChunkProgress();
    return ChunkCount{p.passes, p.done, p.total};
  });
  std::mutex writtenMutex;
  std::vector<std::pair<int, std::string>> done;
  std::atomic<long long> writeNanos{0};
  std::string failure;
  int exitCode = kExitOk;

  std::atomic<int> additiveLight{0};  // frames whose additive light the format clips
  auto writeJob = [&](WriteJob& job, std::string* why) {
    const auto start = Clock::now();
    if (!KeepsAdditiveLight(format_) && HasAdditiveLight(*job.image)) ++additiveLight;
    // Inside a root, each file is checked again just before it is written.
    const bool ok = (s_.root.empty() || CheckOutputPath(job.path, s_.root, why)) &&
                    WriteImage(*job.image, job.path, format_, why, writeOptions_);
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
    if (s_.filesDone) ++*s_.filesDone;
    progress.FrameDone(job.frame);
    return true;
  };
  std::optional<WriterQueue<WriteJob>> queue;
  // Room for a frame per writer beside the one being rendered.
  if (!s_.noWrite) queue.emplace(size_t(std::max(2, writers_)), size_t(writers_), writeJob);

  df::Output* output = op_->Outputs()[0].get();
  const auto runStart = Clock::now();
  Clock::duration renderTime{};
  int rendered = 0, delivered = 0, outWidth = 0, outHeight = 0;
  std::vector<double> frameMs;  // each frame's render, for --stats
  WatchAbortFlag(&op_->abortFlag);
  if (stepped_ && steps_.size() > frames_.size() && !s_.quiet)
    progress.Message("vorn: \"" + toolName_ + "\" depends on earlier frames: simulating frames " +
                     std::to_string(steps_.front()) + " to " + std::to_string(steps_.back()) +
                     ", writing " + std::to_string(total));
  size_t nextAsked = 0;  // index into frames_ of the next frame to deliver
  auto cancelled = [this] { return s_.cancel && s_.cancel->load() != 0; };
  for (int frame : steps_) {
    if (InterruptSignal() != 0 || cancelled()) break;
    const bool asked = nextAsked < frames_.size() && frames_[nextAsked] == frame;
    if (asked) ++nextAsked;
    std::vector<ImageRef> owned;
    df::Request request(op_.get(), frame);
    std::string error;
    if (!FrameImages(frame, &request, &owned, &error)) {
      failure = "frame " + std::to_string(frame) + ": " + error;
      exitCode = kExitFailed;
      break;
    }
    df::ResetChunkProgress();
    progress.FrameStarted(frame);
    chunkStats.FrameStarted();
    const auto start = Clock::now();
    op_->Process(&request);
    const auto took = Clock::now() - start;
    progress.FrameRendered();
    renderTime += took;
    if (s_.stats) frameMs.push_back(1000.0 * Seconds(took));
    chunkStats.FrameDone(frame);
    ++rendered;
    // A frame during which an interrupt came is discarded even if delivered.
    if (InterruptSignal() != 0 || cancelled()) break;
    df::Parameter* value = request.TakeOutputData(output);
    ImageRef image;
    if (value && value->Type() == df::kTypeImage)
      image.reset(static_cast<df::Image*>(value));
    else if (value)
      value->Recycle();
    if (!image || image->width < 1 || image->height < 1) {
      failure = "frame " + std::to_string(frame) + ": \"" + toolName_ + "\" delivered no image" +
                (asked ? "" : " (a frame simulated on the way, not asked for)");
      exitCode = kExitFailed;
      break;
    }
    if (!asked) continue;  // a step of the simulation only
    if (delivered++ == 0) outWidth = image->width, outHeight = image->height;
    if (!queue) {
      progress.FrameDone(frame);
      continue;
    }
    if (!queue->Push({frame, pattern_->Format(frame), std::move(image)})) break;  // write failed
  }
  // Watched until the queued frames are written: a signal meanwhile still
  // lets them finish.
  std::string writeError;
  if (queue && !queue->Finish(&writeError)) {
    failure = writeError;
    exitCode = kExitFailed;
  }
  WatchAbortFlag(nullptr);
  const double wall = Seconds(Clock::now() - runStart);
  progress.Finish();
  progress_ = nullptr;
  if (additiveLight > 0 && !s_.quiet)
    PrintWarning(std::to_string(additiveLight.load()) + " of " + std::to_string(delivered) +
                 " frames had additive light (colour above alpha: light with little coverage) "
                 "that PNG's straight alpha cannot hold; it was clipped to alpha. TIFF and EXR "
                 "keep it (premultiplied), as do DPX and JPEG (the image over black)");

  std::sort(done.begin(), done.end());
  for (auto& [frame, path] : done) written->push_back(path);
  const int writtenCount = queue ? int(done.size()) : delivered;
  if (!failure.empty()) {
    PrintError(failure);
    PrintError(std::to_string(writtenCount) + " of " + std::to_string(total) + " frames written");
  }
  if (const int sig = InterruptSignal(); sig != 0 && failure.empty()) {
    PrintError(std::string("interrupted by ") + SignalName(sig) +
               ": the frame in progress was discarded; " + std::to_string(writtenCount) + " of " +
               std::to_string(total) + " frames written");
    exitCode = InterruptExitCode(sig);
  }
  if (s_.stats) {
    // "frames" counts the frames delivered (written, or rendered under
    // --no-write) and "sequence" their rate; "simulated" and "render" count
    // every call of Process, simulation steps not asked for included;
    // "workers" is the chunk count a pass is cut into, "threads" the pool's.
    std::printf(
        "frames %d  simulated %d  size %dx%d  workers %d  threads %d  wall %.3f s  "
        "sequence %.2f frames/s  render %.2f ms/frame (%.2f frames/s)  write %.2f ms/frame  "
        "writer threads %d\n",
        delivered, rendered, outWidth, outHeight, RenderWorkers(),
        std::max(1, host_.App().threadCount), wall, wall > 0 ? delivered / wall : 0.0,
        rendered ? 1000.0 * Seconds(renderTime) / rendered : 0.0,
        Seconds(renderTime) > 0 ? rendered / Seconds(renderTime) : 0.0,
        done.empty() ? 0.0 : writeNanos.load() / 1e6 / double(done.size()), queue ? writers_ : 0);
    // The first frames fault in fresh memory and warm the caches; the median
    // is the steady rate of a long sequence.
    if (!frameMs.empty()) {
      const double first = frameMs.front();
      std::sort(frameMs.begin(), frameMs.end());
      const size_t n = frameMs.size();
      const double median = n % 2 ? frameMs[n / 2] : (frameMs[n / 2 - 1] + frameMs[n / 2]) / 2;
      std::printf("render per frame: first %.2f ms  median %.2f ms  fastest %.2f ms\n", first,
                  median, frameMs.front());
    }
    for (const std::string& line : chunkStats.ModelLines()) std::printf("%s\n", line.c_str());
    if (std::string why; !chunkStats.Finish(&why)) {
      PrintError(why);
      if (exitCode == kExitOk) exitCode = kExitFailed;
    }
    std::fflush(stdout);
  }
  return exitCode;
}

}  // namespace

RenderOutcome RunRender(Host& host, const RenderSettings& settings) {
  RenderRun run(host, settings);
  return run.Run();
}

}  // namespace vorn
