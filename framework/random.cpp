#include "framework/random.h"

#include <bit>

namespace fw {

namespace {

thread_local uint32_t tState = 1;

// Bits of the float nearest 0.999999.
constexpr float kBelowOne = std::bit_cast<float>(0x3F7FFFEFu);

// splitmix64's finaliser: every input bit reaches every output bit.
constexpr uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

RandomScope::RandomScope(RandomState& state) : state_(state), saved_(tState) {
  tState = state.value;
}

RandomScope::~RandomScope() {
  state_.value = tState;
  tState = saved_;
}

void SeedRandom(uint32_t seed) {
  tState = seed;
}

int Random() {
  tState = tState * 214013u + 2531011u;
  return int((tState >> 16) & 0x7FFFu);
}

float UniformFromDraw(int draw) {
  const float v = float(draw * 0.000030517578125);
  return v > 0.999999f ? kBelowOne : v;
}

double SignedFromDraw(int draw) {
  return draw * 0.00006103515625 - 1.0;
}

float UniformRandom() {
  return UniformFromDraw(Random());
}

double SignedRandom() {
  return SignedFromDraw(Random());
}

double JitteredValue(double mean, double spread) {
  return SignedRandom() * spread + mean;
}

int KeyedDraw(uint64_t a, uint64_t b, uint64_t c) {
  const uint64_t h = Mix(Mix(Mix(a + 0x9E3779B97F4A7C15ull) ^ b) + c * 0xD1B54A32D192ED03ull);
  return int((h >> 40) & 0x7FFFu);
}

}  // namespace fw
