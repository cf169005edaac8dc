// The frame driver both hosts render through: the pictures of a tool's image
// inputs are bound once (files, sequences read frame by frame, the tool's
// built-in images, the colour space and layer of each file, the pixel
// aspect), then frame t of an operator renders in memory and the image goes
// to whoever asked for it: `vorn render`'s writer queue, `vorn serve`'s viewer
// or its export.
#pragma once

#include <dfsystem/dfsystem.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image_io.h"
#include "image_ref.h"
#include "output_pattern.h"

namespace vorn {

// Size of the built-in images when neither --size nor a file gives one.
inline constexpr int kDefaultImageWidth = 1280;
inline constexpr int kDefaultImageHeight = 720;

// What the user asked of the image inputs.
struct InputChoices {
  std::vector<std::string> inputs;  // "CAPTION=FILE"
  // Pictures held in memory, by caption, bound before the files as stills
  // (the binding takes its own reference); the first gives the size of the
  // built-in images as a file would.
  std::vector<std::pair<std::string, df::Image*>> images;
  std::vector<std::string> colourSpaces;  // --input-colorspace: NAME or CAPTION=NAME
  std::vector<std::string> layers;        // --input-layer: CAPTION=NAME
  std::optional<double> aspect;           // pixel aspect of every input image
  // Size of the built-in images: `size` wins; else the first file's, else
  // `fallbackSize`.
  std::optional<std::pair<int, int>> size;
  std::pair<int, int> fallbackSize{kDefaultImageWidth, kDefaultImageHeight};
  // Pixel aspect of the built-in images when neither `aspect` nor a file
  // gives one.
  double fallbackAspect = 1.0;
  // One `vorn serve` run serves every tool: captions that are not this
  // tool's image inputs are passed over instead of refused.
  bool everyTool = false;
  bool quiet = false;  // no warning about clipped values
  // Image inputs (by id) whose pictures the caller gives at each render (a
  // flow's connections): they get no built-in image.
  std::vector<uint32_t> fed;
};

// An image input and where its pictures come from.
struct InputBinding {
  uint32_t id = 0;  // the input's id: any operator of the tool will do
  std::string caption;
  std::string file;                      // as given; empty for a built-in image
  std::optional<FramePattern> sequence;  // one file per frame
  ImageRef still;                        // one image for every frame
  ReadOptions read;                      // colour space and layer of its files
};

// A warning for the user; the caller decides where it is shown.
using WarningSink = std::function<void(const std::string&)>;

// What rendering one frame gave.
struct RenderedFrame {
  enum class Status {
    Rendered,     // `image` holds the frame
    InputFailed,  // a sequence frame could not be read: `error`, `input`
    NoImage,      // the tool delivered no image (or an empty one)
    NotStarted,   // the caller's hook declined to run Process
  };
  Status status = Status::NotStarted;
  ImageRef image;
  std::chrono::steady_clock::duration took{};  // of Process alone
  std::string error;
  std::string input;  // caption of the input that failed
};

// Pictures a caller gives for image inputs at one render, by input id.
using FedImages = std::vector<std::pair<uint32_t, df::Image*>>;

// Called once the pictures are connected, just before Process: false skips
// the render (a `vorn serve` change waiting to come in).
using BeforeProcess = std::function<bool()>;

class FrameDriver {
 public:
  // Binds each "CAPTION=FILE" to the image input of that caption and gives
  // every required input without a file the tool's built-in image. Stills
  // are read now; a sequence's frames when rendered, but those of
  // `checkFrames` must be readable now (their first gives the size when no
  // still does). False with a message naming the option.
  bool Bind(const df::Operator& op, const InputChoices& choices,
            const std::vector<int>& checkFrames, const WarningSink& warn, std::string* error);

  // Every sequence file of `frames` is there and readable.
  bool CheckSequences(const std::vector<int>& frames, std::string* error) const;

  // The metadata the outputs carry: that of the first image input, in the
  // tool's order, with a file (for a sequence, its file of `frame`).
  ImageMetadata OutputMetadata(const df::Operator& op, int frame) const;

  // Renders frame `frame` of `op`: reads the sequence frames, connects the
  // pictures, runs Process and takes the output image. Warns once (through
  // `warn`) when connected images disagree in size: the tool then draws its
  // mismatch pattern, which is its business, not an error of the host.
  // Safe to call from several threads on different operators. `fed`
  // connects pictures to inputs bound as fed.
  RenderedFrame Render(df::Operator& op, int frame, const WarningSink& warn,
                       const BeforeProcess& before = {}, const FedImages& fed = {}) const;

  const std::vector<InputBinding>& Bindings() const { return bindings_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // The pixel aspect of the built-in images.
  double Aspect() const { return aspect_; }

 private:
  void NoteClipping(const std::string& path, float brightest, const WarningSink& warn) const;
  void WarnMismatch(const df::Operator& op, int frame,
                    std::vector<std::pair<const df::Input*, const df::Image*>> connected,
                    const WarningSink& warn) const;

  std::vector<InputBinding> bindings_;
  int width_ = kDefaultImageWidth, height_ = kDefaultImageHeight;
  double aspect_ = 1.0;
  std::optional<double> aspectOverride_;
  std::vector<ImageMetadata> metadata_;  // of each binding's still
  bool quiet_ = false;
  mutable std::atomic<bool> warnedClipping_{false}, warnedMismatch_{false};
};

// The runtime's output image of a finished request, or null.
ImageRef TakeOutputImage(df::Request& request, df::Operator& op);

// Copies every control value (not images) of `from` onto `to`, an operator
// of the same tool: what a saved composition carries.
void CopyControlValues(const df::Operator& from, df::Operator& to);

}  // namespace vorn
