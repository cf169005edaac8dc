// Renders a flow's nodes for one frame at a time: each node needed renders
// at most once per frame, whatever reads it, in an order where every node
// comes after those feeding it. Tool nodes render through the frame driver
// (the one every host renders through), with their connected inputs fed
// and the open required ones given the tool's built-in image; the tools run
// their chunks on the runtime's one worker pool.
//
// Each node's frame is kept in a memory-bounded cache under a key digesting
// what decides its pixels: the node's own state (a tool's saved record and
// class, a Read's settings and files, a Merge's operation and mix, the frame
// size), the keys of the nodes feeding it, and the frame. A node whose frame
// is cached is not rendered, so a change downstream renders nothing upstream.
//
// A sequential node (a simulation) must step through every frame from the
// simulation start, one render per frame. The renderer follows its steps: a
// render is an in-order step when the caller has declared the node's
// simulation fresh (SimulationRestarted) and the frame is the simulation
// start, or when the node stepped to the frame before under the same state
// (its own and upstream). Only in-order frames are cached. A cached frame is
// used instead of rendering except when rendering would be the node's next
// in-order step: that step is still needed for the frames after it. A node
// whose steps are not known to be in order (after Prepare, until declared
// fresh; after a step out of order or under other values) is neither cached
// nor trusted downstream: the nodes it feeds are not cached either.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flow/flow.h"
#include "flow/frame_cache.h"
#include "frame_driver.h"
#include "image_ref.h"

namespace vorn::flow {

class FlowRenderer {
 public:
  // The frames a node renders for, whose files a Read checks.
  using NodeFrames = std::function<const std::vector<int>&(size_t node)>;

  // Checks the Read nodes (colour space, layer, the files of the frames
  // `checkFrames` gives for each), reads their stills, and binds the tool
  // nodes. The simulation start is the flow's; the renderer does not know
  // whether the sequential operators have stepped (see SimulationRestarted).
  // The frame cache is kept: its keys hold all that decides a frame. The
  // size of built-in images: `size`, else the flow's, else the
  // first Read's, else 1280 x 720. False with a message naming the node.
  bool Prepare(Flow& flow, const std::optional<std::pair<int, int>>& size,
               const NodeFrames& checkFrames, const WarningSink& warn, std::string* error);

  // Renders the nodes marked in `wanted` (which must hold every node
  // upstream of a marked one) for `frame`. Their images stay until the next
  // call. False with a message naming the node and the frame.
  bool Render(int frame, const std::vector<bool>& wanted, std::string* error);

  // The frame a fresh sequential node's first in-order step renders.
  void SetSimulationStart(int frame) { simulationStart_ = frame; }
  // The caller put `node`'s simulation back to before its start (a fresh
  // operator, or a restored copy): its in-order steps begin again. The
  // second form: every sequential node's.
  void SimulationRestarted(size_t node);
  void SimulationsRestarted();
  // The caller restored `node`'s simulation from a copy taken after its
  // in-order step to `frame`, under the values it holds now: its next
  // in-order step is the frame after.
  void SimulationRestoredAt(size_t node, int frame);
  // Whether every sequential node of `wanted` has its frame `frame` in the
  // cache, so Render can give that frame without stepping any of them.
  bool SequentialFramesCached(int frame, const std::vector<bool>& wanted);

  // The cache's bound in bytes (0 keeps nothing); its use and memory.
  void SetCacheBytes(size_t bytes) { cache_->SetMaxBytes(bytes); }
  FrameCacheStats CacheStats() const { return cache_->Stats(); }
  void ClearCache() { cache_->Clear(); }
  // Keeps frames in `cache`, which other renderers may share (a host that
  // makes a new renderer for each new graph keeps its frames).
  void ShareCache(std::shared_ptr<FrameCache> cache) {
    if (cache) cache_ = std::move(cache);
  }

  // A node's image of the last frame rendered, or null.
  const df::Image* ImageOf(size_t node) const { return images_[node]; }
  // Whether a node's image of the last frame is the one stepping every
  // sequential node upstream in order gives (false after one was stepped out
  // of order: the caller restarts its simulation).
  bool Trusted(size_t node) const { return trusted_[node]; }
  // How many times each node has rendered (not counting frames taken from
  // the cache), and its time spent.
  long RenderCount(size_t node) const { return counts_[node]; }
  std::chrono::steady_clock::duration RenderTime(size_t node) const { return times_[node]; }
  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  enum class Steps { Fresh, InOrder, Restored, Unknown };
  struct Stepping {
    Steps steps = Steps::Unknown;
    int frame = 0;   // the last in-order step
    FrameKey chain;  // the state it stepped under
  };

  // The file a Read of a sequence reads for `frame`, or "" for none.
  std::string ReadPath(size_t i, int frame) const;
  bool RenderRead(size_t i, int frame, std::string* error);
  // Sets chain_[i], keys_[i] and whether every input is trusted.
  bool MakeKeys(size_t i, int frame);

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
  // The cache, and per node: a still's file identity, the digest of its
  // state and upstream, the key of its frame, whether its frame is trusted
  // (made in order), its steps.
  std::shared_ptr<FrameCache> cache_ = std::make_shared<FrameCache>();
  int simulationStart_ = 0;
  std::vector<std::string> stillIdentity_;
  std::vector<FrameKey> chain_, keys_;
  std::vector<bool> trusted_;
  std::vector<Stepping> stepping_;
};

}  // namespace vorn::flow
