// A contact sheet: one labelled thumbnail per sequence on a dark ground.
#pragma once

#include <string>
#include <vector>

#include "image_ref.h"

namespace vorn {

struct SheetEntry {
  std::string label;
  ImageRef image;  // any size; null leaves an empty, labelled cell
};

// Thumbnails `thumbWidth` pixels wide (height by each image's display
// aspect, the tallest setting the row height), `columns` per row, a caption
// under each, the title above. Null when the memory cannot be had.
ImageRef MakeContactSheet(const std::string& title, const std::vector<SheetEntry>& entries,
                          int thumbWidth, int columns);

// Box-filtered reduction (or enlargement) of `source` to `width` × `height`,
// its premultiplied colour laid over what `target` holds there.
void ScaleInto(const df::Image& source, df::Image* target, int x0, int y0, int width, int height);

}  // namespace vorn
