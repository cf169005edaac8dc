#include "flow/flow_render.h"

#include <algorithm>
#include <climits>
#include <filesystem>

#include "colour_space.h"
#include "controls_model.h"
#include "default_images.h"
#include "flow/merge.h"
#include "frame_chunks.h"

namespace vorn::flow {

namespace {

using Clock = std::chrono::steady_clock;

bool FileThere(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// What tells a file's bytes apart without reading them: its path, size and
// time of last change.
std::string FileIdentity(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return path + "\n(none)";
  const auto time = std::filesystem::last_write_time(path, ec);
  return path + "\n" + std::to_string(size) + "\n" +
         std::to_string(ec ? 0 : (long long)time.time_since_epoch().count());
}

// The file frame of flow frame `frame`, or nothing beyond the int range.
std::optional<int> FileFrame(int frame, int offset) {
  const long long f = (long long)frame + offset;
  if (f < INT_MIN || f > INT_MAX) return std::nullopt;
  return int(f);
}

}  // namespace

bool FlowRenderer::Prepare(Flow& flow, const std::optional<std::pair<int, int>>& size,
                           const NodeFrames& checkFrames, const WarningSink& warn,
                           std::string* error) {
  flow_ = &flow;
  warn_ = warn;
  const size_t n = flow.nodes.size();
  order_ = flow.Order();
  drivers_ = std::vector<FrameDriver>(n);
  stills_.clear();
  stills_.resize(n);
  sequences_.assign(n, std::nullopt);
  onDisk_.assign(n, {});
  sequenceSize_.assign(n, std::nullopt);
  reading_.assign(n, {});
  images_.assign(n, nullptr);
  owned_.clear();
  owned_.resize(n);
  counts_.assign(n, 0);
  times_.assign(n, {});
  simulationStart_ = flow.shot.simulationStart;
  stillIdentity_.assign(n, {});
  chain_.assign(n, {});
  keys_.assign(n, {});
  trusted_.assign(n, false);
  stepping_.assign(n, {});
  std::optional<std::pair<int, int>> readSize;
  std::optional<double> readAspect;
  auto fail = [&](const Node& node, const std::string& message) {
    *error = "node \"" + node.name + "\": " + message;
    return false;
  };
  std::string why;
  for (size_t i = 0; i < n; ++i) {
    const Node& node = flow.nodes[i];
    if (node.kind != NodeKind::Read) continue;
    const ReadSettings& r = node.read;
    if (!r.colourSpace.empty() && !CheckColourSpace(r.colourSpace, &why))
      return fail(node, "colorspace: " + why);
    reading_[i] = {r.colourSpace, r.layer};
    auto noteSize = [&](int w, int h, double aspect) {
      if (!sequenceSize_[i]) sequenceSize_[i] = {w, h};
      if (!readSize) readSize = {w, h}, readAspect = aspect;
    };
    if (FileThere(r.file)) {
      stillIdentity_[i] = FileIdentity(r.file);
      stills_[i] = ReadImage(r.file, &why, reading_[i]);
      if (!stills_[i]) return fail(node, why);
      noteSize(stills_[i]->width, stills_[i]->height, stills_[i]->aspect);
      continue;
    }
    auto pattern = FramePattern::Parse(r.file, &why);
    if (!pattern) return fail(node, "file \"" + r.file + "\": " + why);
    if (!pattern->HasFrame()) return fail(node, "file \"" + r.file + "\" is not there");
    // The frames on disk: the nearest's candidates, and a size for black.
    if (r.missing != MissingFrame::Error) {
      if (!FramesOnDisk(*pattern, &onDisk_[i], &why)) return fail(node, why);
      if (r.missing == MissingFrame::Nearest && onDisk_[i].empty())
        return fail(node, "no frame of \"" + r.file + "\" is on disk (missingFrame \"nearest\")");
    }
    for (int f : checkFrames(i)) {
      const auto ff = FileFrame(f, r.frameOffset);
      const std::string path = ff ? pattern->Format(*ff) : std::string();
      if (!ff || !FileThere(path)) {
        if (r.missing == MissingFrame::Error)
          return fail(node, "frame " + std::to_string(f) + ": \"" +
                                (ff ? path : r.file + " frame out of range") +
                                "\" is not there (missingFrame \"error\")");
        continue;
      }
      ImageInfo info;
      if (!ReadImageInfo(path, &info, &why, reading_[i]))
        return fail(node, "frame " + std::to_string(f) + ": " + why);
      noteSize(info.width, info.height, info.aspect);
    }
    if (!sequenceSize_[i] && !onDisk_[i].empty()) {
      ImageInfo info;
      if (ReadImageInfo(pattern->Format(onDisk_[i].front()), &info, &why, reading_[i]))
        noteSize(info.width, info.height, info.aspect);
    }
    sequences_[i] = std::move(pattern);
  }
  std::tie(width_, height_) =
      size        ? *size
      : flow.size ? *flow.size
                  : readSize.value_or(std::pair{kDefaultImageWidth, kDefaultImageHeight});
  aspect_ = readAspect.value_or(1.0);
  for (size_t i = 0; i < n; ++i) {
    Node& node = flow.nodes[i];
    if (node.kind == NodeKind::Tool) {
      InputChoices choices;
      choices.size = std::pair{width_, height_};
      choices.aspect = aspect_;
      choices.quiet = true;
      for (const df::Input* input : ImageInputs(*node.op))
        if (flow.Source(node, input->Name())) choices.fed.push_back(input->Id());
      if (!drivers_[i].Bind(*node.op, choices, {}, warn, &why)) return fail(node, why);
    } else if (node.kind == NodeKind::Merge || node.kind == NodeKind::Write) {
      // An open required input gets the built-in image.
      const std::string input = node.kind == NodeKind::Merge ? "B" : "Image";
      if (flow.Source(node, input)) continue;
      stills_[i] = MakeDefaultImage(ClassOf(node), width_, height_, aspect_);
      if (!stills_[i])
        return fail(node, "not enough memory for a " + std::to_string(width_) + " x " +
                              std::to_string(height_) + " image");
    }
  }
  return true;
}

void FlowRenderer::SimulationRestarted(size_t node) {
  if (node < stepping_.size()) stepping_[node] = {Steps::Fresh, 0, {}};
}

void FlowRenderer::SimulationsRestarted() {
  for (Stepping& s : stepping_) s = {Steps::Fresh, 0, {}};
}

void FlowRenderer::SimulationRestoredAt(size_t node, int frame) {
  if (node < stepping_.size()) stepping_[node] = {Steps::Restored, frame, {}};
}

bool FlowRenderer::SequentialFramesCached(int frame, const std::vector<bool>& wanted) {
  for (size_t i : order_) {
    if (i >= wanted.size() || !wanted[i]) continue;
    MakeKeys(i, frame);
    if (flow_->nodes[i].Sequential() && !cache_->Find(keys_[i])) return false;
  }
  return true;
}

std::string FlowRenderer::ReadPath(size_t i, int frame) const {
  const ReadSettings& r = flow_->nodes[i].read;
  const auto ff = FileFrame(frame, r.frameOffset);
  const std::string path = ff ? sequences_[i]->Format(*ff) : std::string();
  if (ff && FileThere(path)) return path;
  if (r.missing != MissingFrame::Nearest) return {};
  // The frame on disk closest to the one asked for; the earlier of two as
  // close.
  const long long want = (long long)frame + r.frameOffset;
  int best = onDisk_[i].front();
  for (int f : onDisk_[i])
    if (std::llabs(f - want) < std::llabs(best - want)) best = f;
  return sequences_[i]->Format(best);
}

bool FlowRenderer::RenderRead(size_t i, int frame, std::string* error) {
  const Node& node = flow_->nodes[i];
  if (stills_[i]) {
    images_[i] = stills_[i].get();
    return true;
  }
  const ReadSettings& r = node.read;
  const std::string path = ReadPath(i, frame);
  if (path.empty()) {
    if (r.missing == MissingFrame::Error) {
      const auto ff = FileFrame(frame, r.frameOffset);
      *error = "\"" + (ff ? sequences_[i]->Format(*ff) : r.file) + "\" is not there";
      return false;
    }
    // Black, the size of the sequence's files when one was seen.
    const auto [w, h] = sequenceSize_[i].value_or(std::pair{width_, height_});
    owned_[i] = MakeBlack(w, h, aspect_);
    if (!owned_[i]) {
      *error = "not enough memory for a black frame";
      return false;
    }
    images_[i] = owned_[i].get();
    return true;
  }
  owned_[i] = ReadImage(path, error, reading_[i]);
  if (!owned_[i]) return false;
  images_[i] = owned_[i].get();
  return true;
}

bool FlowRenderer::MakeKeys(size_t i, int frame) {
  const Node& node = flow_->nodes[i];
  Digest chain;
  chain.Text(ClassOf(node)).Int(width_).Int(height_).Real(aspect_);
  switch (node.kind) {
    case NodeKind::Tool: {
      // The saved record holds every control value with its keys and presses.
      std::vector<uint8_t> record;
      df::CArchive archive(&record);
      if (!(node.op->Save(&archive, nullptr) & 1) || !archive.Flush()) return false;
      chain.Bytes(record.data(), record.size());
      if (node.Sequential()) chain.Int(simulationStart_);
      break;
    }
    case NodeKind::Read: {
      const ReadSettings& r = node.read;
      chain.Text(r.file).Int(r.frameOffset).Text(r.colourSpace).Text(r.layer);
      chain.Int(int(r.missing)).Text(stillIdentity_[i]);
      break;
    }
    case NodeKind::Merge:
      chain.Int(int(node.merge.operation)).Real(node.merge.mix);
      break;
    case NodeKind::Write:
      break;
  }
  Digest frameKey;
  bool trusted = true;
  for (const std::string& input : ImageInputNames(node)) {
    chain.Text(input);
    frameKey.Text(input);
    const ptrdiff_t from = [&]() -> ptrdiff_t {
      for (const Connection& c : flow_->connections)
        if (c.to == node.name && c.input == input) return flow_->IndexOf(c.from);
      return -1;
    }();
    if (from < 0) {
      chain.Number(0);
      frameKey.Number(0);
      continue;
    }
    chain.Key(chain_[size_t(from)]);
    frameKey.Key(keys_[size_t(from)]);
    trusted = trusted && trusted_[size_t(from)];
  }
  chain_[i] = chain.Finish();
  // A still is the same picture at every frame: one key, one frame held.
  if (node.kind == NodeKind::Read && stills_[i]) {
    keys_[i] = chain_[i];
    return trusted;
  }
  frameKey.Key(chain_[i]).Int(frame);
  if (node.kind == NodeKind::Read && sequences_[i]) frameKey.Text(FileIdentity(ReadPath(i, frame)));
  keys_[i] = frameKey.Finish();
  return trusted;
}

bool FlowRenderer::Render(int frame, const std::vector<bool>& wanted, std::string* error) {
  Flow& flow = *flow_;
  std::fill(images_.begin(), images_.end(), nullptr);
  for (ImageRef& image : owned_) image.reset();
  auto sourceImage = [&](const Node& node, const std::string& input) -> const df::Image* {
    for (const Connection& c : flow.connections)
      if (c.to == node.name && c.input == input) {
        const ptrdiff_t from = flow.IndexOf(c.from);
        return from < 0 ? nullptr : images_[size_t(from)];
      }
    return nullptr;
  };
  for (size_t i : order_) {
    if (i >= wanted.size() || !wanted[i]) continue;
    Node& node = flow.nodes[i];
    // A frame is trusted when made from trusted inputs and, for a
    // sequential node, in order. A trusted cached frame stands in for the
    // render, except where the render is a sequential node's next in-order
    // step, which the frames after it still need.
    const bool inputsTrusted = MakeKeys(i, frame);
    const bool sequential = node.Sequential();
    const Stepping& was = stepping_[i];
    const bool inOrder =
        !sequential ||
        (inputsTrusted &&
         ((was.steps == Steps::Fresh && frame == simulationStart_) ||
          (was.steps == Steps::InOrder && was.chain == chain_[i] && was.frame < INT_MAX &&
           frame == was.frame + 1) ||
          (was.steps == Steps::Restored && was.frame < INT_MAX && frame == was.frame + 1)));
    const bool cacheable = node.kind != NodeKind::Write && inputsTrusted;
    if (cacheable && !(sequential && inOrder))
      if (ImageRef hit = cache_->Find(keys_[i])) {
        owned_[i] = std::move(hit);
        images_[i] = owned_[i].get();
        trusted_[i] = true;
        continue;
      }
    const auto start = Clock::now();
    std::string why;
    bool ok = true;
    switch (node.kind) {
      case NodeKind::Read:
        ok = RenderRead(i, frame, &why);
        break;
      case NodeKind::Tool: {
        FedImages fed;
        for (const df::Input* input : ImageInputs(*node.op))
          if (const df::Image* image = sourceImage(node, input->Name()))
            fed.push_back({input->Id(), const_cast<df::Image*>(image)});
        RenderedFrame rendered = drivers_[i].Render(*node.op, frame, warn_, {}, fed);
        if (rendered.status != RenderedFrame::Status::Rendered) {
          why = rendered.status == RenderedFrame::Status::InputFailed
                    ? rendered.error
                    : "the tool delivered no image";
          ok = false;
          break;
        }
        owned_[i] = std::move(rendered.image);
        images_[i] = owned_[i].get();
        break;
      }
      case NodeKind::Merge: {
        const df::Image* b = stills_[i] ? stills_[i].get() : sourceImage(node, "B");
        owned_[i] = b ? MergeImages(node.merge, sourceImage(node, "A"), *b) : nullptr;
        if (!owned_[i]) {
          why = "not enough memory for the merged image";
          ok = false;
        }
        images_[i] = owned_[i].get();
        break;
      }
      case NodeKind::Write:
        images_[i] = stills_[i] ? stills_[i].get() : sourceImage(node, "Image");
        break;
    }
    times_[i] += Clock::now() - start;
    ++counts_[i];
    trusted_[i] = ok && inputsTrusted && inOrder;
    if (sequential)
      stepping_[i] = trusted_[i] ? Stepping{Steps::InOrder, frame, chain_[i]}
                                 : Stepping{Steps::Unknown, 0, {}};
    if (cacheable && trusted_[i]) cache_->Put(keys_[i], const_cast<df::Image*>(images_[i]));
    if (!ok) {
      *error = "frame " + std::to_string(frame) + ": node \"" + node.name + "\": " + why;
      return false;
    }
  }
  return true;
}

}  // namespace vorn::flow
