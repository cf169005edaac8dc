// A small tool built only for the tests: it exercises every part of the
// framework (declaration patterns, registration, save/load, change handling,
// threaded bands, the mismatch pattern, abort) without any real image work.
//
// PROBE_KIND in the environment changes it for host tests:
//   "sequence"  frames depend on the frames before, as in a simulation: the
//               operator sets objFlags 0x20, every pixel holds the number of
//               steps since the last restart (blue: low byte, green: high
//               byte) and the frame number (red: low byte); "Poke" restarts
//               with ten steps of preroll before the next frame. A Process on
//               another thread than the first delivers nothing.
//   "linked"    "Where" notifies, and a notified change of it sets "Level"
//               to 0, as linked points move each other.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "framework/harness.h"
#include "framework/lifecycle.h"
#include "framework/tile.h"
#include "framework/values.h"
#include "tests/probe/probe_tags.h"

namespace {

using namespace df;

constexpr uint32_t kProbeClassId = 0x8001FF01;
constexpr uint32_t kSequentialFlag = 0x20;
constexpr int kPrerollSteps = 10;

std::string ProbeKind() {
  const char* kind = std::getenv("PROBE_KIND");
  return kind ? kind : "";
}

class ProbePlugIn : public ThreadedOperator {
 public:
  ProbePlugIn(Registry* registry, CArchive* archive, TagList* tags)
      : ThreadedOperator(registry, archive, tags) {
    AddControlPage("Controls", 0);
    level = AddInput("Level", kTypeNumber, FourCC("Levl"), probe::Slider(0.0, 0.5, 1.0));
    mode = AddInput("Mode", kTypeNumber, FourCC("Mode"), probe::Combo({"Chunks", "Fill", "Copy"}));
    const std::string kind = ProbeKind();
    sequence = kind == "sequence";
    linked = kind == "linked";
    TagList whereTags = probe::PointControl(kPointPreview, 0.5, 0.5);
    if (linked) whereTags.Append(TagItem{INP_Notify, 1});
    where = AddInput("Where", kTypePoint, FourCC("Wher"), whereTags);
    delay = AddInput("Delay", kTypeNumber, FourCC("Dely"), probe::Slider(0.0, 0.0, 1000.0));
    AddControlPage("Presets", 0);
    demos = AddInput("Demos", kTypeNumber, FourCC("Demo"), probe::PresetCombo({"Dim", "Bright"}));
    poke = AddInput("Poke", kTypeNumber, FourCC("Poke"), probe::PushButton());
    input = AddInput("Input", kTypeImage, ImageInputId(1), {});
    matte = AddInput("Matte(optional)", kTypeImage, ImageInputId(2), probe::OptionalImage());
    output = AddOutput("Output", kTypeImage, OutputId(1));
    opMode = 2;
    opModeArg = 0;
    if (sequence) objFlags |= kSequentialFlag;
    if (archive) fw::ReadTrailer(archive);
  }

  uint32_t Save(CArchive* archive, TagList* tags) override {
    return fw::SaveRecord(*this, archive, tags, kProbeClassId);
  }

  uint32_t Process(Request* request) override {
    source = fw::ReadImage(request, input);
    Image* matteImage = fw::ReadImage(request, matte);
    if (!source) return 0;
    target = NewImage(source);
    if (!target) return 0;
    if (sequence) return ProcessStep(request);
    fw::RecordImage(fields, *source);
    levelValue = float(fw::ReadNumber(request, level));
    modeValue = fw::TruncateToInt(fw::ReadNumber(request, mode));
    delayMs = fw::TruncateToInt(fw::ReadNumber(request, delay));
    if (fw::SizesDisagree(source, matteImage)) {
      fw::DrawMismatchPattern(target);
    } else {
      fw::ChooseWorkers(fields);
      DoMultiProcess(request, fields.workerCount);
    }
    return fw::Deliver(request, output, target, abortFlag);
  }

  void NotifyChanged(Input* changed, Parameter* value, double time) override {
    if (fw::NotifyBlocked(*this)) return;
    if (changed == nullptr) {
      doc->StartUndo("Reset Probe");
      fw::SetNumber(level, 0.5, time, 1);
      fw::SetNumber(mode, 0, time, 1);
      fw::SetPoint(where, 0.5f, 0.5f, time, 1);
      fw::SetNumber(delay, 0, time, 1);
      doc->EndUndo(1);
    } else if (changed == demos && value) {
      const bool bright = static_cast<Number*>(value)->value >= 0.5;
      doc->StartUndo("Probe Demo");
      fw::SetNumber(level, bright ? 0.75 : 0.25, time, 1);
      doc->EndUndo(1);
    } else if (changed == poke) {
      if (sequence)
        prerollPending = true;
      else
        fw::SetNumber(level, 1.0, time, 0);
    } else if (changed == where && linked) {
      fw::SetNumber(level, 0.0, time, 0);
    }
    Operator::NotifyChanged(changed, value, time);
  }

  void ProcessChunk(Request*, long chunk) override {
    if (fw::Aborted(abortFlag)) return;
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    const fw::Band band = fw::RowBand(fields, chunk);
    const uint8_t fill = modeValue == 1 ? uint8_t(levelValue * 255.0f) : uint8_t(chunk);
    for (int y = band.begin; y < band.end; ++y) {
      if (fw::Aborted(abortFlag)) return;
      const size_t bytes = size_t(fields.width) * 4;
      if (modeValue == 2)
        std::memcpy(target->rows[y], source->rows[y], bytes);
      else
        std::memset(target->rows[y], fill, bytes);
    }
  }

  // One step of the "sequence" kind: the picture tells the steps taken.
  uint32_t ProcessStep(Request* request) {
    if (!processThread) processThread = std::this_thread::get_id();
    if (*processThread != std::this_thread::get_id()) {
      target->Recycle();
      return 0;
    }
    if (prerollPending) steps = kPrerollSteps;
    prerollPending = false;
    ++steps;
    const long frame = long(request->Time());
    for (int y = 0; y < target->height; ++y)
      for (int x = 0; x < target->width; ++x) {
        uint8_t* p = target->rows[y] + size_t(x) * 4;
        p[0] = uint8_t(steps & 0xFF);
        p[1] = uint8_t((steps >> 8) & 0xFF);
        p[2] = uint8_t(frame & 0xFF);
        p[3] = 255;
      }
    return fw::Deliver(request, output, target, abortFlag);
  }

  bool sequence = false;
  bool linked = false;
  bool prerollPending = false;
  long steps = 0;
  std::optional<std::thread::id> processThread;

  Input* level;
  Input* mode;
  Input* where;
  Input* delay;
  Input* demos;
  Input* poke;
  Input* input;
  Input* matte;
  Output* output;

  fw::RenderFields fields;
  Image* source = nullptr;
  Image* target = nullptr;
  float levelValue = 0;
  int modeValue = 0;
  int delayMs = 0;
};

Registry gProbeRegistry(&ClassRegistry, "ProbePlugIn",
                        {{REG_InitFunc, &Operator::RegInit},
                         {REG_CleanupFunc, &Operator::RegCleanup},
                         {REG_CreateFunc, &fw::CreateOperator<ProbePlugIn>},
                         {REG_ClassID, kProbeClassId},
                         {REG_OpType, 3},
                         {REG_TileBitmap, fw::kTileBitmapId},
                         {REG_PackName, "Vorn_Test"},
                         {REG_ShortName, "Prb"},
                         {REG_Description, "Test probe"},
                         {REG_Name, "Probe"},
                         {REG_HelpFile, "Probe.hlp"},
                         {REG_ToolCode, 0x0101FF01}},
                        {fw::TileResource()});

}  // namespace
