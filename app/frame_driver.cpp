#include "frame_driver.h"

#include <algorithm>
#include <filesystem>

#include "colour_options.h"
#include "controls_model.h"
#include "default_images.h"
#include "value_parse.h"

namespace vorn {

namespace {

// Position of an input in the tool's declaration order.
ptrdiff_t Rank(const df::Operator& op, const df::Input* input) {
  const std::vector<df::Input*> order = ImageInputs(op);
  return std::find(order.begin(), order.end(), input) - order.begin();
}

}  // namespace

bool FrameDriver::Bind(const df::Operator& op, const InputChoices& choices,
                       const std::vector<int>& checkFrames, const WarningSink& warn,
                       std::string* error) {
  bindings_.clear();
  metadata_.clear();
  quiet_ = choices.quiet;
  aspectOverride_ = choices.aspect;
  std::tie(width_, height_) = choices.size.value_or(choices.fallbackSize);
  auto fail = [&](const std::string& message) {
    *error = message;
    return false;
  };
  std::string why;
  InputReadChoices reading;
  if (!reading.Parse(op, choices.colourSpaces, choices.layers, choices.everyTool, &why))
    return fail(why);
  // The first file read gives the size and the aspect of the built-in images.
  bool fileSize = false;
  std::optional<double> fileAspect;
  auto noteSize = [&](int width, int height, double aspect) {
    if (fileSize) return;
    fileSize = true;
    fileAspect = aspect;
    if (!choices.size) width_ = width, height_ = height;
  };
  for (const auto& [caption, image] : choices.images) {
    df::Input* input = op.FindInputByName(caption);
    if (!input || !input->IsImage()) {
      FindImageInput(op, caption, &why);
      return fail("input \"" + caption + "\": " + why);
    }
    for (const InputBinding& b : bindings_)
      if (b.id == input->Id()) return fail("input \"" + caption + "\" is given twice");
    InputBinding binding;
    binding.id = input->Id();
    binding.caption = caption;
    image->AddRef();
    binding.still.reset(image);
    noteSize(image->width, image->height, image->aspect);
    if (choices.aspect) binding.still->aspect = *choices.aspect;
    bindings_.push_back(std::move(binding));
    metadata_.push_back({});
  }
  for (const std::string& text : choices.inputs) {
    std::string caption, file;
    if (!SplitAssignment(text, &caption, &file, &why))
      return fail("--input " + why + " (CAPTION=FILE)");
    df::Input* input = op.FindInputByName(caption);
    if (!input || !input->IsImage()) {
      if (choices.everyTool) continue;  // an input of another tool
      input = FindImageInput(op, caption, &why);
      return fail("--input \"" + text + "\": " + why);
    }
    for (const InputBinding& b : bindings_)
      if (b.id == input->Id()) return fail("--input: \"" + caption + "\" is given twice");
    if (file.empty()) return fail("--input \"" + text + "\": no file after '='");
    InputBinding binding;
    binding.id = input->Id();
    binding.caption = caption;
    binding.file = file;
    binding.read = reading.For(input);
    ImageMetadata metadata;
    // A name that is not a file is a sequence when it holds a frame number.
    std::error_code ec;
    std::optional<FramePattern> pattern;
    std::string patternError;
    if (!std::filesystem::exists(file, ec)) pattern = FramePattern::Parse(file, &patternError);
    if (pattern && pattern->HasFrame()) {
      for (int f : checkFrames) {
        ImageInfo info;
        if (!ReadImageInfo(pattern->Format(f), &info, &why, binding.read))
          return fail("--input \"" + caption + "\" frame " + std::to_string(f) + ": " + why);
        noteSize(info.width, info.height, info.aspect);
      }
      binding.sequence = std::move(pattern);
    } else {
      float brightest = 0;
      binding.still = ReadImage(file, &why, binding.read, &brightest, &metadata);
      if (!binding.still) return fail("--input \"" + caption + "\": " + why);
      NoteClipping(file, brightest, warn);
      noteSize(binding.still->width, binding.still->height, binding.still->aspect);
      if (choices.aspect) binding.still->aspect = *choices.aspect;
    }
    bindings_.push_back(std::move(binding));
    metadata_.push_back(metadata);
  }
  aspect_ = choices.aspect ? *choices.aspect : fileAspect.value_or(choices.fallbackAspect);
  // Required inputs without a file get the tool's built-in image.
  const std::string className = op.GetRegistry()->ClassName();
  for (df::Input* input : ImageInputs(op)) {
    if (!input->Required()) continue;
    if (std::find(choices.fed.begin(), choices.fed.end(), input->Id()) != choices.fed.end())
      continue;
    if (std::any_of(bindings_.begin(), bindings_.end(),
                    [&](const InputBinding& b) { return b.id == input->Id(); }))
      continue;
    InputBinding binding;
    binding.id = input->Id();
    binding.caption = input->Name();
    binding.still = MakeDefaultImage(className, width_, height_, aspect_);
    if (!binding.still)
      return fail("not enough memory for a " + std::to_string(width_) + " x " +
                  std::to_string(height_) + " " + DefaultImageName(className));
    bindings_.push_back(std::move(binding));
    metadata_.push_back({});
  }
  return true;
}

bool FrameDriver::CheckSequences(const std::vector<int>& frames, std::string* error) const {
  for (const InputBinding& b : bindings_) {
    if (!b.sequence) continue;
    for (int f : frames) {
      ImageInfo info;
      std::string why;
      if (!ReadImageInfo(b.sequence->Format(f), &info, &why, b.read)) {
        *error = "--input \"" + b.caption + "\" frame " + std::to_string(f) + ": " + why;
        return false;
      }
    }
  }
  return true;
}

ImageMetadata FrameDriver::OutputMetadata(const df::Operator& op, int frame) const {
  const InputBinding* first = nullptr;
  size_t index = 0;
  for (size_t i = 0; i < bindings_.size(); ++i) {
    const InputBinding& b = bindings_[i];
    if (b.file.empty()) continue;
    if (first && Rank(op, op.FindInput(first->id)) <= Rank(op, op.FindInput(b.id))) continue;
    first = &b;
    index = i;
  }
  if (!first) return {};
  if (!first->sequence) return metadata_[index];
  ImageInfo info;
  std::string why;
  if (!ReadImageInfo(first->sequence->Format(frame), &info, &why, first->read)) return {};
  return info.metadata;
}

// Values above 1 are clipped in the tools' 8-bit images: said once.
void FrameDriver::NoteClipping(const std::string& path, float brightest,
                               const WarningSink& warn) const {
  if (quiet_ || !(brightest > 1.0f + 0.5f / 255) || warnedClipping_.exchange(true)) return;
  if (warn) warn(ClippedValuesWarning(path, brightest));
}

void FrameDriver::WarnMismatch(const df::Operator& op, int frame,
                               std::vector<std::pair<const df::Input*, const df::Image*>> connected,
                               const WarningSink& warn) const {
  if (warnedMismatch_.load() || connected.size() < 2) return;
  std::sort(connected.begin(), connected.end(),
            [&](const auto& a, const auto& b) { return Rank(op, a.first) < Rank(op, b.first); });
  const auto& [mainInput, main] = connected.front();
  for (const auto& [input, image] : connected) {
    if (image->width == main->width && image->height == main->height) continue;
    if (warnedMismatch_.exchange(true)) return;
    if (warn)
      warn("image sizes disagree at frame " + std::to_string(frame) + ": \"" + mainInput->Name() +
           "\" is " + std::to_string(main->width) + " x " + std::to_string(main->height) + ", \"" +
           input->Name() + "\" is " + std::to_string(image->width) + " x " +
           std::to_string(image->height) + "; \"" + op.GetRegistry()->Name() +
           "\" renders its mismatch pattern");
    return;
  }
}

RenderedFrame FrameDriver::Render(df::Operator& op, int frame, const WarningSink& warn,
                                  const BeforeProcess& before, const FedImages& fed) const {
  RenderedFrame out;
  std::vector<ImageRef> owned;  // sequence frames, read for this frame
  df::Request request(&op, frame);
  std::vector<std::pair<const df::Input*, const df::Image*>> connected;
  for (const InputBinding& b : bindings_) {
    df::Input* input = op.FindInput(b.id);
    if (!input) continue;
    df::Image* image = b.still.get();
    if (b.sequence) {
      const std::string path = b.sequence->Format(frame);
      float brightest = 0;
      ImageRef read = ReadImage(path, &out.error, b.read, &brightest);
      if (!read) {
        out.status = RenderedFrame::Status::InputFailed;
        out.input = b.caption;
        return out;
      }
      NoteClipping(path, brightest, warn);
      if (aspectOverride_) read->aspect = *aspectOverride_;
      image = read.get();
      owned.push_back(std::move(read));
    }
    request.SetInputImage(input, image);
    connected.push_back({input, image});
  }
  for (const auto& [id, image] : fed) {
    df::Input* input = op.FindInput(id);
    if (!input || !image) continue;
    request.SetInputImage(input, image);
    connected.push_back({input, image});
  }
  WarnMismatch(op, frame, std::move(connected), warn);
  if (before && !before()) return out;
  PressButtonsAt(op, frame);
  const auto start = std::chrono::steady_clock::now();
  op.Process(&request);
  out.took = std::chrono::steady_clock::now() - start;
  out.image = TakeOutputImage(request, op);
  if (!out.image || out.image->width < 1 || out.image->height < 1) {
    out.image.reset();
    out.status = RenderedFrame::Status::NoImage;
  } else {
    out.status = RenderedFrame::Status::Rendered;
  }
  return out;
}

ImageRef TakeOutputImage(df::Request& request, df::Operator& op) {
  df::Parameter* value = request.TakeOutputData(op.Outputs()[0].get());
  ImageRef image;
  if (value && value->Type() == df::kTypeImage)
    image.reset(static_cast<df::Image*>(value));
  else if (value)
    value->Recycle();
  return image;
}

void CopyControlValues(const df::Operator& from, df::Operator& to) {
  for (const auto& in : from.Inputs()) {
    if (in->IsImage()) continue;
    df::Input* target = to.FindInput(in->Id());
    if (target && target->ValueType() == in->ValueType()) target->RestoreState(in->State());
  }
}

}  // namespace vorn
