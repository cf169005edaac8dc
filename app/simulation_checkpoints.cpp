#include "simulation_checkpoints.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace vorn {

SimulationCheckpoints::SimulationCheckpoints(int firstFrame, int every, std::size_t maxBytes)
    : first_(firstFrame), every_(std::max(1, every)), maxBytes_(maxBytes) {}

bool SimulationCheckpoints::Due(int frame) const {
  const long long n = (long long)frame - first_ + 1;
  return n > 0 && n % every_ == 0 && !copies_.count(frame);
}

void SimulationCheckpoints::Keep(int frame, std::shared_ptr<const df::SimulationState> state) {
  if (!state) return;
  const std::size_t size = state->Bytes();
  if (size > maxBytes_) return;
  while (bytes_ + size > maxBytes_ && !copies_.empty()) {
    // Half the copies, twice the spacing: the spacing stays even over the shot.
    every_ = every_ > (1 << 20) ? every_ : every_ * 2;
    for (auto it = copies_.begin(); it != copies_.end();) {
      if (((long long)it->first - first_ + 1) % every_ != 0) {
        bytes_ -= it->second->Bytes();
        it = copies_.erase(it);
      } else {
        ++it;
      }
    }
    if (((long long)frame - first_ + 1) % every_ != 0) return;  // not wanted any more
  }
  if (bytes_ + size > maxBytes_) return;
  auto [it, added] = copies_.emplace(frame, std::move(state));
  if (added) bytes_ += size;
}

std::pair<int, std::shared_ptr<const df::SimulationState>> SimulationCheckpoints::Before(
    int frame) const {
  auto it = copies_.lower_bound(frame);
  if (it == copies_.begin()) return {first_ - 1, nullptr};
  --it;
  return {it->first, it->second};
}

void SimulationCheckpoints::DropFrom(int frame) {
  for (auto it = copies_.lower_bound(frame); it != copies_.end();) {
    bytes_ -= it->second->Bytes();
    it = copies_.erase(it);
  }
}

namespace {

bool SameAt(const df::Input& a, const df::Input& b, int t) {
  if (a.ValueType() == df::kTypePoint) {
    float ax, ay, bx, by;
    a.PointAt(t, ax, ay);
    b.PointAt(t, bx, by);
    return ax == bx && ay == by;
  }
  return a.NumberAt(t) == b.NumberAt(t);
}

}  // namespace

namespace {

// The frames of a button's presses: its keys of 1.
std::vector<double> PressFrames(const df::Input& button) {
  std::vector<double> frames;
  for (const df::Keyframe& k : button.State().keys)
    if (k.v[0] == 1.0) frames.push_back(k.time);
  return frames;
}

}  // namespace

int FirstDifferentFrame(const df::Operator& a, const df::Operator& b, int first, int last) {
  int found = last + 1;
  for (const auto& in : a.Inputs()) {
    // A control only the drawing reads leaves the simulation as it was.
    if (in->IsImage() || !a.SimulationReads(*in)) continue;
    const df::Input* other = b.FindInput(in->Id());
    if (!other || other->ValueType() != in->ValueType()) return first;
    if (in->State() == other->State()) continue;
    if (in->ControlKind() == df::kButtonControl) {
      // A button acts only at its presses: the earliest one made or taken away.
      std::vector<double> x = PressFrames(*in), y = PressFrames(*other), differ;
      std::set_symmetric_difference(x.begin(), x.end(), y.begin(), y.end(),
                                    std::back_inserter(differ));
      for (double t : differ)
        if (t < double(found)) found = t <= double(first) ? first : int(std::ceil(t));
      continue;
    }
    for (int t = first; t < found; ++t)
      if (!SameAt(*in, *other, t)) {
        found = t;
        break;
      }
  }
  return found;
}

}  // namespace vorn
