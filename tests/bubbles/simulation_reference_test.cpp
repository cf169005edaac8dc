// Long swirling runs against a separate evaluation of the simulation in the
// arithmetic the tool follows: every expression in double precision, rounded
// to a float where a float is stored. The swirl's noise field turns a unit in
// the last place into whole pixels within a few dozen steps, so every
// position must agree to the bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "bubbles/bubble_simulation.h"
#include "framework/noise.h"
#include "tests/bubbles/simulation_support.h"

namespace bubbles {
namespace {

// The generator's recurrence, 15-bit results.
struct Draws {
  uint32_t state;
  int Next() {
    state = state * 214013u + 2531011u;
    return int((state >> 16) & 0x7FFF);
  }
  float Uniform() { return float(Next() / 32768.0); }
  double Signed() { return Next() / 16384.0 - 1.0; }
};

struct Vec3 {
  float x, y, z;
};

// Gradient noise with float corner values, interpolants and weights.
double Noise(const std::vector<Vec3>& g, float x, float y, float z) {
  const float c[3] = {x, y, z};
  int cell[3];
  float f[3], w[3];
  for (int a = 0; a < 3; ++a) {
    const double floor = std::floor(double(c[a]));
    cell[a] = int(floor);
    f[a] = float(c[a] - floor);
    w[a] = float((f[a] * -2.0 + 3.0) * f[a] * f[a]);
  }
  const auto P = [](int v) { return int(fw::noisePermutation[v & 255]); };
  float v[2][2][2];
  for (int a = 0; a < 2; ++a)
    for (int b = 0; b < 2; ++b)
      for (int d = 0; d < 2; ++d) {
        const Vec3& q = g[P(cell[0] + a + P(cell[1] + b + P(cell[2] + d)))];
        v[a][b][d] =
            float(q.x * (double(f[0]) - a) + q.y * (double(f[1]) - b) + q.z * (double(f[2]) - d));
      }
  const auto lerp = [](float s, float a, float b) { return a + double(s) * (double(b) - a); };
  const float x00 = float(lerp(w[0], v[0][0][0], v[1][0][0]));
  const float x10 = float(lerp(w[0], v[0][1][0], v[1][1][0]));
  const float x01 = float(lerp(w[0], v[0][0][1], v[1][0][1]));
  const float x11 = float(lerp(w[0], v[0][1][1], v[1][1][1]));
  const float y0 = float(lerp(w[1], x00, x10)), y1 = float(lerp(w[1], x01, x11));
  return lerp(w[2], y0, y1);
}

// The controls the scenes change; every other control keeps its default.
struct Controls {
  float bubbleType = 0, velocityVariance = 0, gravityAngle = 90, windSpeed = 0;
  float swirlMagnitude = 30, friction = 20;
};

struct Particle {
  float x, y, vx, vy;
  int age, lifetime, maxAge, base;
};

// `steps` steps (times 0, 1, …) of the default scene with `k`, the
// generator continuing from the table build; the living bubbles, oldest first.
std::vector<Particle> Simulate(const Controls& k, int steps) {
  Draws r{667};
  std::vector<Vec3> g(256);
  for (Vec3& e : g) {
    const float z = float(r.Next() * (1 / 32768.0) * -2.0 + 1.0);
    const float rho = float(std::sqrt(1.0 - double(z) * z));
    const double theta = r.Next() * (1 / 32768.0) * 6.2831854;
    e = {float(rho * std::cos(theta)), float(rho * std::sin(theta)), z};
  }
  for (int i = 0; i < 65536; ++i) r.Next();

  // The frame's derived fields from the float control values.
  const int type = int(k.bubbleType);
  const float quantitySpread = float(20.0f * 0.1), lifetimeSpread = float(200.0f * 0.1);
  const float sizeVariance = float(4.0f * 0.01), speed0 = float(3.0f * 0.0003333333333333333);
  const float dirX = float(std::cos(90.0f * 0.01745327777777778));
  const float dirY = float(std::sin(90.0f * 0.01745327777777778));
  const float speedVariance = float(k.velocityVariance * 0.01);
  const float gravity = float(20.0f * 0.00016666666666666666);
  const float gx = float(std::cos(k.gravityAngle * 0.017453292522222223));
  const float gy = float(std::sin(k.gravityAngle * 0.017453292522222223));
  const float magnitude = float(k.swirlMagnitude * 0.01), friction = float(k.friction * 0.01);
  const float windSpeed = float(k.windSpeed * 0.01);
  const float wdx = float(double(0.7f) - double(0.9f)), wdy = float(double(0.7f) - double(0.7f));
  const double wlen = std::sqrt(double(wdx) * wdx + double(wdy) * wdy);
  const float windX = float(wdx / wlen), windY = float(wdy / wlen);
  const float windCos = float(std::cos(30.0f * 0.008726646261111111));
  const double left[2] = {0.1f, 0.5f}, right[2] = {0.9f, 0.5f};
  const float radius = 0.1f;

  std::vector<Particle> live;
  for (int step = 0; step < steps; ++step) {
    const int count = int(r.Signed() * quantitySpread + 20.0f + 0.5);
    for (int born = 0; born < count; ++born) {
      Particle b{};
      b.lifetime = int(r.Signed() * lifetimeSpread + 200.0f + 0.5);
      b.maxAge = int(r.Signed() * 0.0 + 5000.0 + 0.5);
      const float u = r.Uniform();
      const float bx = float(left[0] + u * (right[0] - left[0]));
      const float by = float(left[1] + u * (right[1] - left[1]));
      float px, py;
      do {
        px = float(radius * r.Signed() + bx);
        py = float(radius * r.Signed() + by);
      } while (std::sqrt((double(px) - bx) * (double(px) - bx) +
                         (double(py) - by) * (double(py) - by)) > radius);
      const double speed = speed0 + double(speed0) * (r.Uniform() * double(speedVariance));
      float vx = float(speed * dirX), vy = float(speed * dirY);
      double m = std::sqrt(double(vx) * vx + double(vy) * vy);
      double angle = m < 0.00001 ? 0.0 : std::atan2(double(vy), double(vx));
      angle += r.Signed() * 0.0 * 3.141592;
      m *= r.Uniform() * 0.0 + 1.0;
      vx = float(m * std::cos(angle));
      vy = float(m * std::sin(angle));
      b.vx = float(vx + double(u) * gravity * gx);
      b.vy = float(vy + double(u) * gravity * gy);
      b.x = float(px + double(u) * b.vx);
      b.y = float(py + double(u) * b.vy);
      if (type == 0 || type == 2) {
        const double scale = (r.Signed() * sizeVariance + 1.0) * 10.0f * (type == 0 ? 2.0 : 1.0);
        b.base = std::clamp(int(scale), 0, 80);
      }
      for (int c = 0; c < 5; ++c) r.Next();  // colour, density, monochrome offset
      live.push_back(b);
    }

    std::vector<Particle> kept;
    for (Particle b : live) {
      b.age += 1;
      if (b.age >= b.lifetime || b.age >= b.maxAge) continue;
      const float s = type == 2 ? float(b.base * 0.025) : 0.0f;
      const double gs = type == 2 ? (s + 0.5) * gravity : gravity;
      b.vx = float(gx * gs + (1.0 - friction) * b.vx);
      b.vy = float(gy * gs + (1.0 - friction) * b.vy);
      b.x = float(double(b.x) + b.vx);
      b.y = float(double(b.y) + b.vy);
      if (windSpeed > 0.0001) {
        float dx = float(double(b.x) - 0.9f), dy = float(double(b.y) - 0.7f);
        const double d = std::sqrt(double(dx) * dx + double(dy) * dy);
        if (d > 0.000001) {
          dx = float(dx / d);
          dy = float(dy / d);
        }
        const double c = double(windX) * dx + double(windY) * dy;
        if (c > windCos) {
          const double w = (c - windCos) / std::max(1.0 - windCos, 0.000001) * c;
          b.x = float(b.x + double(windX) * windSpeed * w);
          b.y = float(b.y + double(windY) * windSpeed * w);
        }
      }
      const double weight = (1.0 - 1.5 * s) * magnitude * std::min(b.age / 1.0, 1.0);
      const float X = float(b.x * 60.0), Y = float(b.y * 60.0), Z = float(step * 60.0 * 0.04);
      b.vx = float(b.vx + Noise(g, X, Y, Z) * weight);
      b.vy = float(b.vy + Noise(g, float(X + 3.14), float(Y + 2.71), float(Z + 4.35)) * weight);
      kept.push_back(b);
    }
    live = std::move(kept);
  }
  return live;
}

TEST(SwirlingRun, EveryPositionAfterEightyStepsMatchesTheDoubleEvaluation) {
  Controls plain;
  Controls windy;  // "Variable Growth" with its size weight, wind and a slanted fall
  windy.bubbleType = 2;
  windy.velocityVariance = 50;
  windy.gravityAngle = 60;
  windy.windSpeed = 5;
  for (const Controls& k : {plain, windy}) {
    test::Simulation sim(200, 300);
    FrameParameters& p = sim.params;
    p.bubbleType = k.bubbleType;
    p.velocityVariance = k.velocityVariance;
    p.gravityAngle = k.gravityAngle;
    p.windSpeed = k.windSpeed;
    p.swirlMagnitude = k.swirlMagnitude;
    p.friction = k.friction;
    sim.Load();
    const SourceLine line = SourceLineOf(p);
    for (int step = 0; step < 80; ++step) StepSimulation(*sim.system, float(step), line);

    const std::vector<Particle> expected = Simulate(k, 80);
    std::vector<const Bubble*> got = sim.Live();
    std::reverse(got.begin(), got.end());
    ASSERT_EQ(got.size(), expected.size()) << k.bubbleType;
    ASSERT_GT(got.size(), 1000u);
    int moved = 0;
    for (size_t i = 0; i < got.size(); ++i) {
      const Particle& e = expected[i];
      ASSERT_EQ(got[i]->x, e.x) << k.bubbleType << " bubble " << i << " aged " << e.age;
      ASSERT_EQ(got[i]->y, e.y) << k.bubbleType << " bubble " << i << " aged " << e.age;
      ASSERT_EQ(got[i]->vx, e.vx) << k.bubbleType << " bubble " << i;
      ASSERT_EQ(got[i]->vy, e.vy) << k.bubbleType << " bubble " << i;
      moved += std::fabs(e.vx) > 0.001f;
    }
    EXPECT_GT(moved, 100) << "the swirl must stir the bubbles";
  }
}

}  // namespace
}  // namespace bubbles
