// Copies of a sequential operator's simulation taken every few frames, so
// that a change late in the shot, or a step back on the timeline, simulates
// again from the nearest copy still valid instead of from the shot's first
// frame. The copies are memory-bounded: when a new one would pass the bound,
// every other copy goes and they are taken half as often.
#pragma once

#include <dfsystem/dfsystem.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace vorn {

class SimulationCheckpoints {
 public:
  static constexpr int kDefaultEvery = 5;
  static constexpr std::size_t kDefaultMaxBytes = std::size_t(256) << 20;

  // A copy after every `every` frames of the shot starting at `firstFrame`.
  explicit SimulationCheckpoints(int firstFrame, int every = kDefaultEvery,
                                 std::size_t maxBytes = kDefaultMaxBytes);

  // Whether a copy taken after `frame` is wanted (and none is held).
  bool Due(int frame) const;
  // Keeps the copy taken after `frame` was simulated; null is ignored.
  void Keep(int frame, std::shared_ptr<const df::SimulationState> state);
  // The latest copy taken after a frame before `frame`, with that frame: what
  // frame `frame` can be simulated from. {firstFrame − 1, null} when none.
  std::pair<int, std::shared_ptr<const df::SimulationState>> Before(int frame) const;
  // Drops the copies taken after `frame` or any later frame.
  void DropFrom(int frame);
  void Clear() { copies_.clear(), bytes_ = 0; }

  std::size_t Count() const { return copies_.size(); }
  std::size_t Bytes() const { return bytes_; }
  int Every() const { return every_; }

 private:
  int first_;
  int every_;
  std::size_t maxBytes_;
  std::size_t bytes_ = 0;
  std::map<int, std::shared_ptr<const df::SimulationState>> copies_;
};

// The first frame in [first, last] at which a control value of `a` differs
// from that of `b` (operators of one tool), or at which one has a button
// press (a key of 1) the other has not (a press before `first` counts at
// `first`); last + 1 when they agree on every frame. The controls the tool
// says its simulation does not read are passed over. A simulation of one up
// to a frame before it is the simulation of the other.
int FirstDifferentFrame(const df::Operator& a, const df::Operator& b, int first, int last);

}  // namespace vorn
