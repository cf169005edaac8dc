#include "bleb/area_sample.h"

#include "bleb/area_sample_inl.h"

namespace bleb {

Pixel AreaSample(const SampleSource& src, float x0, float y0, float x1, float y1, int mode) {
  if (!src.tables || src.tables->empty())
    return sample::AreaSampleT(sample::MakeSource<std::int32_t>(src, nullptr), x0, y0, x1, y1,
                               mode);
  if (src.tables->wide())
    return sample::AreaSampleT(sample::MakeSource(src, src.tables->sums64()), x0, y0, x1, y1, mode);
  return sample::AreaSampleT(sample::MakeSource(src, src.tables->sums32()), x0, y0, x1, y1, mode);
}

Pixel SampleBox(const SampleSource& src, float x0, float y0, float x1, float y1, int mode) {
  if (!src.tables || src.tables->empty())
    return sample::SampleBoxT(sample::MakeSource<std::int32_t>(src, nullptr), x0, y0, x1, y1, mode);
  if (src.tables->wide())
    return sample::SampleBoxT(sample::MakeSource(src, src.tables->sums64()), x0, y0, x1, y1, mode);
  return sample::SampleBoxT(sample::MakeSource(src, src.tables->sums32()), x0, y0, x1, y1, mode);
}

}  // namespace bleb
