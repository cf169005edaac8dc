// Golden renders: reference images stored as PNG (B G R A mapped to R G B A,
// the bytes as they are, no colour or alpha conversion) beside a case.txt that
// holds the arguments that made them.
//
// case.txt, one item a line ('#' starts a comment):
//   size W H            frame size
//   aspect A            pixel aspect of the images (default 1)
//   time T              frame time (default 0)
//   frames N            frames rendered, the last one compared (default 1)
//   input CAPTION=NAME  an image input and the test's picture for it
//   set CAPTION=VALUE   a control: "x,y" for a point, else a number
//   tolerance N         largest allowed difference of any byte (required; 0 is exact)
//   reason TEXT         why a tolerance above 0 is needed (required with one)
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/plugin_host.h"

namespace testsupport {

bool WritePng(const std::string& path, const Pixels& pixels);
bool ReadPng(const std::string& path, Pixels* pixels, std::string* error);

struct GoldenCase {
  std::string name;
  std::string dir;
  int width = 0, height = 0;
  double aspect = 1.0;
  double time = 0.0;
  int frames = 1;
  std::vector<std::pair<std::string, std::string>> inputs;
  std::vector<std::pair<std::string, std::string>> sets;
  int tolerance = -1;
  std::string reason;
};

// Every case folder under `root` (sorted by name); an unreadable line fails.
bool ReadGoldenCases(const std::string& root, std::vector<GoldenCase>* cases, std::string* error);

// Compares `rendered` with dir/expected.png, allowing the case's tolerance. On a
// mismatch the message names the first differing pixel and the largest
// difference, the render is written to dir/rendered.png and the difference to
// dir/difference.png (opaque grey, 64 levels per level of the largest byte
// difference, so a difference of one shows). With UPDATE_GOLDEN set, the
// reference is rewritten.
bool MatchesGolden(const GoldenCase& c, const Pixels& rendered, std::string* message);

}  // namespace testsupport
