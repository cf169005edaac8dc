#include "render_options.h"

#include "image_io.h"

namespace vorn::py {

std::optional<std::pair<int, int>> SizeOf(const pyb::object& size) {
  if (size.is_none()) return std::nullopt;
  std::pair<int, int> wh;
  try {
    wh = size.cast<std::pair<int, int>>();
  } catch (const pyb::cast_error&) {
    throw pyb::type_error("size is (width, height) in whole pixels");
  }
  const auto [w, h] = wh;
  if (w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide ||
      (long long)w * h > kMaxImagePixels)
    throw pyb::value_error("size " + std::to_string(w) + " x " + std::to_string(h) +
                           ": each side 1 to " + std::to_string(kMaxImageSide) + ", at most " +
                           std::to_string(kMaxImagePixels) + " pixels");
  return wh;
}

int WorkersOf(const pyb::object& workers) {
  if (workers.is_none()) return 0;
  const long long n = workers.cast<long long>();
  if (n < 1 || n > df::kMaxWorkers)
    throw pyb::value_error("workers: " + std::to_string(n) + " is not 1 to " +
                           std::to_string(df::kMaxWorkers));
  return int(n);
}

RenderOptions OptionsOf(const pyb::object& inputs, const pyb::object& size, bool linear,
                        const pyb::object& workers) {
  RenderOptions o;
  if (!inputs.is_none()) {
    if (!pyb::isinstance<pyb::dict>(inputs))
      throw pyb::type_error("inputs is a dict of image input caption to numpy array");
    o.inputs = pyb::reinterpret_borrow<pyb::dict>(inputs);
  }
  o.size = SizeOf(size);
  o.linear = linear;
  o.workers = WorkersOf(workers);
  return o;
}

}  // namespace vorn::py
