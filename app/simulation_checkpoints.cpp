#include "simulation_checkpoints.h"

#include <algorithm>
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

int FirstDifferentFrame(const df::Operator& a, const std::vector<Press>& aPresses,
                        const df::Operator& b, const std::vector<Press>& bPresses, int first,
                        int last) {
  int found = last + 1;
  for (const auto& in : a.Inputs()) {
    // A button's value is never read by a frame; its presses are. A control
    // only the drawing reads leaves the simulation as it was.
    if (in->IsImage() || in->ControlKind() == df::kButtonControl || !a.SimulationReads(*in))
      continue;
    const df::Input* other = b.FindInput(in->Id());
    if (!other || other->ValueType() != in->ValueType()) return first;
    if (in->State() == other->State()) continue;
    for (int t = first; t < found; ++t)
      if (!SameAt(*in, *other, t)) {
        found = t;
        break;
      }
  }
  std::vector<Press> x = aPresses, y = bPresses, differ;
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  std::set_symmetric_difference(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(differ));
  for (const Press& p : differ) found = std::min(found, std::max(first, p.second));
  return found;
}

}  // namespace vorn
