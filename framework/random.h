// Random numbers for the tools. The generator has the interface of rand/srand
// with results 0 to 32767 and the recurrence of the classic 32-bit desktop C
// runtime, so pictures match that platform's. Its state belongs to the calling
// thread and starts at 1, but each operator keeps a state of its own and lends
// it to the thread for the length of its Process (RandomScope), so operators
// rendered on one thread, interleaved or on any thread, never change each
// other's draws. Draws made on worker threads use the counter-based generator
// instead, so a picture never depends on the worker count or the schedule.
#pragma once

#include <cstdint>

namespace fw {

inline constexpr int kRandomMax = 32767;

// A generator state; a new one is where a fresh thread starts.
struct RandomState {
  uint32_t value = 1;
  bool operator==(const RandomState&) const = default;
};

// While it lives, the calling thread draws from `state`; when it ends,
// `state` holds where the draws stopped and the thread's previous state is
// back. Scopes nest.
class RandomScope {
 public:
  explicit RandomScope(RandomState& state);
  ~RandomScope();
  RandomScope(const RandomScope&) = delete;
  RandomScope& operator=(const RandomScope&) = delete;

 private:
  RandomState& state_;
  uint32_t saved_;
};

// srand: sets the calling thread's state to `seed`.
void SeedRandom(uint32_t seed);
// rand: state = state × 214013 + 2531011 (mod 2^32), result (state >> 16) & 0x7FFF.
int Random();

// One draw × 1/32768, as a float; above 0.999999 it becomes the float nearest
// 0.999999 (never with 15-bit draws).
float UniformRandom();
// One draw × 1/16384 − 1, not narrowed: −1 up to just under +1.
double SignedRandom();
// SignedRandom() × spread + mean (one draw).
double JitteredValue(double mean, double spread);

// The value UniformRandom and SignedRandom give for a 15-bit draw.
float UniformFromDraw(int draw);
double SignedFromDraw(int draw);

// Counter-based draws: a 15-bit value that is a fixed hash of the key, so the
// same key gives the same draw on any thread, in any order.
int KeyedDraw(uint64_t a, uint64_t b, uint64_t c);
inline float KeyedUniform(uint64_t a, uint64_t b, uint64_t c) {
  return UniformFromDraw(KeyedDraw(a, b, c));
}
inline double KeyedSigned(uint64_t a, uint64_t b, uint64_t c) {
  return SignedFromDraw(KeyedDraw(a, b, c));
}

}  // namespace fw
