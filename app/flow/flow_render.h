// Renders a flow's nodes for one frame at a time: each node needed renders
// at most once per frame, whatever reads it, in an order where every node
// comes after those feeding it. Tool nodes render through the frame driver
// (the one every host renders through), with their connected inputs fed
// and the open required ones given the tool's built-in image; the tools run
// their chunks on the runtime's one worker pool.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "flow/flow.h"
#include "frame_driver.h"
#include "image_ref.h"

namespace vorn::flow {

class FlowRenderer {
 public:
  // The frames a node renders for, whose files a Read checks.
  using NodeFrames = std::function<const std::vector<int>&(size_t node)>;

  // Checks the Read nodes (colour space, layer, the files of the frames
  // `checkFrames` gives for each), reads their stills, and binds the tool
  // nodes. The size of built-in images: `size`, else the flow's, else the
  // first Read's, else 1280 x 720. False with a message naming the node.
  bool Prepare(Flow& flow, const std::optional<std::pair<int, int>>& size,
               const NodeFrames& checkFrames, const WarningSink& warn, std::string* error);

  // Renders the nodes marked in `wanted` (which must hold every node
  // upstream of a marked one) for `frame`. Their images stay until the next
  // call. False with a message naming the node and the frame.
  bool Render(int frame, const std::vector<bool>& wanted, std::string* error);

  // A node's image of the last frame rendered, or null.
  const df::Image* ImageOf(size_t node) const { return images_[node]; }
  // How many times each node has rendered, and its time spent.
  long RenderCount(size_t node) const { return counts_[node]; }
  std::chrono::steady_clock::duration RenderTime(size_t node) const { return times_[node]; }
  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  bool RenderRead(size_t i, int frame, std::string* error);

  Flow* flow_ = nullptr;
  WarningSink warn_;
  std::vector<size_t> order_;
  int width_ = kDefaultImageWidth, height_ = kDefaultImageHeight;
  double aspect_ = 1.0;
  // Per node.
  std::vector<FrameDriver> drivers_;  // tool nodes
  std::vector<ImageRef> stills_;      // a Read of one file; an open required input
  std::vector<std::optional<FramePattern>> sequences_;            // a Read of a sequence
  std::vector<std::vector<int>> onDisk_;                          // its frames, for "nearest"
  std::vector<std::optional<std::pair<int, int>>> sequenceSize_;  // of its files, for "black"
  std::vector<ReadOptions> reading_;
  std::vector<const df::Image*> images_;
  std::vector<ImageRef> owned_;
  std::vector<long> counts_;
  std::vector<std::chrono::steady_clock::duration> times_;
};

}  // namespace vorn::flow
