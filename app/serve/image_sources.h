// The pictures of a tool's image inputs in `vorn serve`: a file named with
// --input (one image, or a sequence read frame by frame) or, for a required
// input without one, the tool's built-in image.
#pragma once

#include <dfsystem/dfsystem.h>

#include <optional>
#include <string>
#include <vector>

#include "image_ref.h"
#include "output_pattern.h"

namespace vorn::serve {

class ImageSources {
 public:
  // Binds each "CAPTION=FILE" to the image input of that caption; inputs of
  // other tools are skipped (one run serves every tool). Stills are read now;
  // a sequence's frames when rendered. Built-in images take the size of the
  // first file, else width x height. False, with the reason, for a file that
  // cannot be read.
  bool Bind(const df::Operator& op, const std::vector<std::string>& inputs, int width, int height,
            std::string* error);
  // Connects the pictures of `frame` to a request on `op` (inputs are matched
  // by id, so any operator of the tool will do). Sequence frames are read into
  // `owned`.
  bool Connect(const df::Operator& op, int frame, df::Request* request,
               std::vector<ImageRef>* owned, std::string* error) const;

  // The "CAPTION=FILE" texts bound to this tool's inputs.
  const std::vector<std::string>& Bound() const { return bound_; }
  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  struct Binding {
    uint32_t id = 0;
    std::string caption, file;
    std::optional<FramePattern> sequence;
    ImageRef still;
  };
  std::vector<Binding> bindings_;
  std::vector<std::string> bound_;
  int width_ = 0, height_ = 0;
};

}  // namespace vorn::serve
