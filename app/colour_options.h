// How `vorn render` reads each image input and writes its outputs:
// --input-colorspace NAME (every input) or CAPTION=NAME (one input),
// --input-layer CAPTION=NAME, --output-colorspace NAME and --bit-depth.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host.h"
#include "image_io.h"

namespace vorn {

class InputReadChoices {
 public:
  // Checks every entry: captions of the tool's image inputs, each given once,
  // and colour spaces the image library knows. False with the message. With
  // `everyTool`, captions that are not this tool's image inputs are passed
  // over (one `vorn serve` run serves every tool).
  bool Parse(const df::Operator& op, const std::vector<std::string>& colourSpaces,
             const std::vector<std::string>& layers, bool everyTool, std::string* error);
  ReadOptions For(const df::Input* input) const;

 private:
  std::string allColourSpace_;
  std::map<const df::Input*, ReadOptions> byInput_;
};

// The message of values clipped in a file read for the tools.
std::string ClippedValuesWarning(const std::string& path, float brightest);

}  // namespace vorn
