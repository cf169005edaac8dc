// What makes a tool known to the host and what it declares, as one constexpr
// declaration next to its control table: the registration record, the
// controls, the image inputs and the output. Tool<kDecl> is the operator base
// every tool derives from: it declares from the declaration, saves and loads
// the record's trailer, reads a frame's control values and applies sets of
// control changes. Each operator keeps its own random generator state, which
// the thread running its Process draws from.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "framework/control_changes.h"
#include "framework/control_values.h"
#include "framework/controls.h"
#include "framework/lifecycle.h"
#include "framework/passes.h"
#include "framework/random.h"
#include "framework/tile.h"

namespace fw {

// An image input, declared after the controls.
struct ImageRow {
  const char* caption = "";
  uint32_t id = 0;
  bool required = true;  // false: declared with INP_Required 0
};

inline constexpr int kMaxImageInputs = 4;

// The registration record's values.
struct ToolRecord {
  const char* className = "";
  uint32_t classId = 0;
  const char* packName = "";
  const char* shortName = "";
  const char* description = "";
  const char* name = "";
  const char* helpFile = "";
  uint32_t toolCode = 0;
};

struct ToolDeclaration {
  ToolRecord record;
  // Declared in this order: the controls, the image inputs, the output.
  std::span<const ControlRow> controls;
  std::span<const ImageRow> images;
  // What a reset request (a change that names no input) sets; by default
  // nothing.
  ChangeSet reset;
  // Set on every operator, e.g. df::kObjFlagSequential.
  uint32_t objFlags = 0;
  const char* outputCaption = "Output";
  uint32_t outputId = df::OutputId(1);
};

// The record's tags: hooks, creation function, class id, operator type 3, the
// tile bitmap, then the names, help file and tool code.
df::TagList RegistrationTags(const ToolDeclaration& tool, df::CreateFunc create);

// The registration of Op, for a library-level object:
//   df::Registry gRegistry = fw::Register<MyPlugIn>(kTool);
template <class Op>
df::Registry Register(const ToolDeclaration& tool) {
  return df::Registry(&df::ClassRegistry, tool.record.className,
                      RegistrationTags(tool, &CreateOperator<Op>), {TileResource()});
}

// Declares the controls into controls[row], the image inputs into images[n]
// and the output, and sets the operator's mode and flags.
void DeclareTool(df::Operator& op, const ToolDeclaration& tool, df::Input** controls,
                 df::Input** images, df::Output*& output);

// Tools inherit its constructor unless they make more than their declaration.
template <const ToolDeclaration& kDecl>
class Tool : public df::ThreadedOperator {
 public:
  static constexpr size_t kRows = kDecl.controls.size();
  using Values = ControlValues<kRows>;

  Tool(df::Registry* registry, df::CArchive* archive, df::TagList* tags)
      : ThreadedOperator(registry, archive, tags) {
    static_assert(kDecl.images.size() <= size_t(kMaxImageInputs));
    DeclareTool(*this, kDecl, controls_.data(), images_, output_);
    if (archive) ReadTrailer(archive);
  }

  std::uint32_t Save(df::CArchive* archive, df::TagList* tags) override {
    return SaveRecord(*this, archive, tags, kDecl.record.classId);
  }
  // Nothing under the document's notification guard; otherwise the declared
  // reset for a reset request, the tool's own handling for a changed input,
  // then the base handling.
  void NotifyChanged(df::Input* input, df::Parameter* value, double time) final {
    if (NotifyBlocked(*this)) return;
    if (!input)
      Apply(kDecl.reset, time);
    else
      Changed(input, value, time);
    Operator::NotifyChanged(input, value, time);
  }
  // The tool's frame, drawing from the operator's own generator state.
  std::uint32_t Process(df::Request* request) final {
    RandomScope scope(random_);
    return ProcessFrame(request);
  }

 protected:
  // One frame: what Process does for the tool; by default nothing. Chunks
  // run on worker threads and must not draw from the generator (KeyedDraw
  // serves them).
  virtual std::uint32_t ProcessFrame(df::Request*) { return 0; }
  // A change of one of the tool's notifying inputs.
  virtual void Changed(df::Input*, df::Parameter*, double) {}

  // The control values of the request's frame.
  Values ReadValues(df::Request* request) const {
    return Values::Read(request, kDecl.controls.template first<kRows>(), controls_.data());
  }
  void Apply(const ChangeSet& set, double time) {
    ApplyChanges(*this, kDecl.controls, controls_.data(), set, time);
  }
  df::Input* Control(int row) const { return controls_[size_t(row)]; }
  df::Input* ImageInput(int n) const { return images_[n]; }
  df::Output* OutputPort() const { return output_; }
  // The generator state Process draws from, for a tool that saves and
  // restores its simulation.
  RandomState& OwnRandom() { return random_; }

 private:
  RandomState random_;
  std::array<df::Input*, kRows> controls_{};
  df::Input* images_[kMaxImageInputs] = {};
  df::Output* output_ = nullptr;
};

// A tool that renders in numbered passes over bands of rows or strips of
// columns: Process records the image in `fields_`, chooses the workers and
// runs each pass with RunPass; every chunk of a pass comes to RunBand unless
// the render was cancelled.
template <const ToolDeclaration& kDecl>
class PassTool : public Tool<kDecl> {
 public:
  using Tool<kDecl>::Tool;
  void ProcessChunk(df::Request*, long chunk) final {
    if (Aborted(this->abortFlag)) return;
    RunBand(passes_.Chunk(chunk));
  }

 protected:
  virtual void RunBand(const ChunkWork& work) = 0;
  // Runs pass `number` over `split`: false when cancelled.
  bool RunPass(df::Request* request, int number, Split split) {
    return passes_.Run(*this, request, number, split, fields_);
  }
  // Runs pass `number` over `items` things of the tool's own, split evenly
  // into `chunks` chunks (by default the render's worker count).
  bool RunPassOver(df::Request* request, int number, int items, int chunks = 0) {
    return passes_.RunOver(*this, request, number, items, fields_, chunks);
  }

  // Per-render fields, written by Process before any chunk runs.
  RenderFields fields_;

 private:
  RenderPasses passes_;
};

}  // namespace fw
