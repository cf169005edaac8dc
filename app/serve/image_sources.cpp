#include "serve/image_sources.h"

#include <filesystem>

#include "controls_model.h"
#include "default_images.h"
#include "image_io.h"
#include "value_parse.h"

namespace vorn::serve {

bool ImageSources::Bind(const df::Operator& op, const std::vector<std::string>& inputs, int width,
                        int height, std::string* error) {
  bindings_.clear();
  bound_.clear();
  bool sized = false;
  width_ = width, height_ = height;
  for (const std::string& text : inputs) {
    std::string caption, file;
    if (!SplitAssignment(text, &caption, &file, error)) return false;
    df::Input* input = op.FindInputByName(caption);
    if (!input || !input->IsImage()) continue;  // an input of another tool
    Binding b;
    b.id = input->Id();
    b.caption = caption;
    b.file = file;
    std::error_code ec;
    std::optional<FramePattern> pattern;
    std::string patternError;
    if (!std::filesystem::exists(file, ec)) pattern = FramePattern::Parse(file, &patternError);
    if (pattern && pattern->HasFrame()) {
      b.sequence = std::move(pattern);
    } else {
      b.still = ReadImage(file, error);
      if (!b.still) {
        *error = "--input \"" + caption + "\": " + *error;
        return false;
      }
      if (!sized) width_ = b.still->width, height_ = b.still->height, sized = true;
    }
    bindings_.push_back(std::move(b));
    bound_.push_back(text);
  }
  for (const auto& in : op.Inputs()) {
    if (!in->IsImage() || !in->Required()) continue;
    bool bound = false;
    for (const Binding& b : bindings_) bound = bound || b.id == in->Id();
    if (bound) continue;
    Binding b;
    b.id = in->Id();
    b.caption = in->Name();
    b.still = MakeDefaultImage(op.GetRegistry()->ClassName(), width_, height_, 1.0);
    if (!b.still) {
      *error = "not enough memory for a " + std::to_string(width_) + " x " +
               std::to_string(height_) + " built-in image";
      return false;
    }
    bindings_.push_back(std::move(b));
  }
  return true;
}

bool ImageSources::Connect(const df::Operator& op, int frame, df::Request* request,
                           std::vector<ImageRef>* owned, std::string* error) const {
  for (const Binding& b : bindings_) {
    df::Input* input = op.FindInput(b.id);
    if (!input) continue;
    df::Image* image = b.still.get();
    if (b.sequence) {
      ImageRef read = ReadImage(b.sequence->Format(frame), error);
      if (!read) {
        *error = "\"" + b.caption + "\" frame " + std::to_string(frame) + ": " + *error;
        return false;
      }
      image = read.get();
      owned->push_back(std::move(read));
    }
    request->SetInputImage(input, image);
  }
  return true;
}

}  // namespace vorn::serve
