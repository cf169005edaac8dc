#include "colour_options.h"

#include <cstdio>

#include "colour_space.h"
#include "controls_model.h"
#include "value_parse.h"

namespace vorn {

bool InputReadChoices::Parse(const df::Operator& op, const std::vector<std::string>& colourSpaces,
                             const std::vector<std::string>& layers, bool everyTool,
                             std::string* error) {
  std::string why;
  for (const std::string& text : colourSpaces) {
    const bool one = text.find('=') != std::string::npos;
    std::string caption, name = std::string(Trim(text));
    if (one && !SplitAssignment(text, &caption, &name, &why)) {
      *error = "--input-colorspace " + why + " (NAME or CAPTION=NAME)";
      return false;
    }
    if (!CheckColourSpace(name, &why)) {
      *error = "--input-colorspace \"" + text + "\": " + why;
      return false;
    }
    if (!one) {
      if (!allColourSpace_.empty()) {
        *error = "--input-colorspace: the colour space of every input is given twice";
        return false;
      }
      allColourSpace_ = name;
      continue;
    }
    const df::Input* input = FindImageInput(op, caption, &why);
    if (!input && everyTool) continue;
    if (!input) {
      *error = "--input-colorspace \"" + text + "\": " + why;
      return false;
    }
    std::string& space = byInput_[input].colourSpace;
    if (!space.empty()) {
      *error = "--input-colorspace: \"" + caption + "\" is given twice";
      return false;
    }
    space = name;
  }
  for (const std::string& text : layers) {
    std::string caption, name;
    if (!SplitAssignment(text, &caption, &name, &why)) {
      *error = "--input-layer " + why + " (CAPTION=NAME)";
      return false;
    }
    const df::Input* input = FindImageInput(op, caption, &why);
    if (!input && everyTool) continue;
    if (!input) {
      *error = "--input-layer \"" + text + "\": " + why;
      return false;
    }
    if (name.empty()) {
      *error = "--input-layer \"" + text + "\": no layer name after '='";
      return false;
    }
    std::string& layer = byInput_[input].layer;
    if (!layer.empty()) {
      *error = "--input-layer: \"" + caption + "\" is given twice";
      return false;
    }
    layer = name;
  }
  return true;
}

ReadOptions InputReadChoices::For(const df::Input* input) const {
  ReadOptions options;
  if (auto it = byInput_.find(input); it != byInput_.end()) options = it->second;
  if (options.colourSpace.empty()) options.colourSpace = allColourSpace_;
  return options;
}

std::string ClippedValuesWarning(const std::string& path, float brightest) {
  char value[32];
  std::snprintf(value, sizeof value, "%.4g", double(brightest));
  return path + " holds values above 1 (up to " + value +
         " in the tools' encoding), clipped to 1 in the tools' 8-bit images; further clipping "
         "is not reported";
}

}  // namespace vorn
