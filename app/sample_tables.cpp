#include "sample_tables.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "colour_space.h"

namespace vorn {
namespace {

namespace oiio = OIIO;

// Byte offsets of the other two channels in the probes: every byte of one
// channel meets many bytes of the others, so a conversion that mixes
// channels shows.
constexpr int kProbeShifts[2][3] = {{0, 85, 170}, {1, 37, 201}};

}  // namespace

SampleTables::SampleTables(oiio::TypeDesc type, const std::string& space, bool straight)
    : size_(type.size()) {
  if (size_ != 1 && size_ != 2 && size_ != 4) return;
  // Rows 0-255: R = G = B = byte, alpha = row. Then two probes with the
  // channels shifted against each other.
  constexpr int kBlocks = 3;
  std::vector<float> values(size_t(kBlocks) * 65536 * 4);
  for (int block = 0; block < kBlocks; ++block)
    for (int a = 0; a < 256; ++a)
      for (int c = 0; c < 256; ++c) {
        float* v = &values[(size_t(block) * 65536 + size_t(a) * 256 + size_t(c)) * 4];
        for (int ch = 0; ch < 3; ++ch) {
          const int shift = block == 0 ? 0 : kProbeShifts[block - 1][ch];
          v[ch] = float((c + shift) % 256) / 255.0f;
        }
        v[3] = float(a) / 255.0f;
      }
  oiio::ImageSpec layout(256, 256 * kBlocks, 4, oiio::TypeDesc::FLOAT);
  layout.alpha_channel = 3;
  oiio::ImageBuf buf(layout, values.data());
  std::string why;
  if (!ConvertColours(buf, kToolColourSpace, space, true, &why)) return;
  if (straight && !oiio::ImageBufAlgo::unpremult(buf, buf)) return;
  std::vector<uint8_t> samples(values.size() * size_);
  if (!oiio::convert_pixel_values(oiio::TypeDesc::FLOAT, buf.localpixels(), type, samples.data(),
                                  int(values.size())))
    return;
  auto sample = [&](int block, int a, int c, int ch) {
    return &samples[((size_t(block) * 65536 + size_t(a) * 256 + size_t(c)) * 4 + size_t(ch)) *
                    size_];
  };
  for (int ch = 0; ch < 3; ++ch) {
    colour_[ch].resize(65536 * size_);
    for (int i = 0; i < 65536; ++i)
      std::memcpy(&colour_[ch][size_t(i) * size_], sample(0, i / 256, i % 256, ch), size_);
  }
  alpha_.resize(256 * size_);
  for (int a = 0; a < 256; ++a) std::memcpy(&alpha_[size_t(a) * size_], sample(0, a, 0, 3), size_);
  // Each probe sample must be what its own channel's table says.
  for (int block = 1; block < kBlocks; ++block)
    for (int a = 0; a < 256; ++a)
      for (int c = 0; c < 256; ++c)
        for (int ch = 0; ch < 3; ++ch) {
          const int byte = (c + kProbeShifts[block - 1][ch]) % 256;
          if (std::memcmp(sample(block, a, c, ch), &colour_[ch][size_t(a * 256 + byte) * size_],
                          size_) != 0)
            return;
        }
  shared_ = colour_[0] == colour_[1] && colour_[0] == colour_[2];
  if (shared_) colour_[1].clear(), colour_[2].clear();
  ok_ = true;
}

namespace {

// A sample of type T at index `i` of a byte table, and one stored at index
// `i` of the output: through memcpy, which the compiler makes one load or
// store, so the bytes are never read or written through a pointer of
// another type.
template <class T>
T Load(const uint8_t* table, size_t i) {
  T v;
  std::memcpy(&v, table + i * sizeof(T), sizeof(T));
  return v;
}

template <class T>
void Store(uint8_t* out, size_t i, T v) {
  std::memcpy(out + i * sizeof(T), &v, sizeof(T));
}

}  // namespace

template <class T>
void SampleTables::ConvertAs(const df::Image& image, int y0, int y1, bool keepAlpha,
                             uint8_t* out) const {
  const uint8_t* r = colour_[0].data();
  const uint8_t* g = shared_ ? r : colour_[1].data();
  const uint8_t* b = shared_ ? r : colour_[2].data();
  const uint8_t* alpha = alpha_.data();
  const size_t channels = keepAlpha ? 4 : 3;
  for (int y = y0; y < y1; ++y) {
    const uint8_t* src = image.rows[y];
    size_t d = size_t(y - y0) * size_t(image.width) * channels;
    for (int x = 0; x < image.width; ++x, src += 4, d += channels) {
      const size_t row = size_t(src[3]) << 8;
      Store(out, d, Load<T>(r, row | src[2]));
      Store(out, d + 1, Load<T>(g, row | src[1]));
      Store(out, d + 2, Load<T>(b, row | src[0]));
      if (keepAlpha) Store(out, d + 3, Load<T>(alpha, src[3]));
    }
  }
}

void SampleTables::Convert(const df::Image& image, int y0, int y1, bool keepAlpha,
                           void* out) const {
  switch (size_) {
    case 1:
      ConvertAs<uint8_t>(image, y0, y1, keepAlpha, static_cast<uint8_t*>(out));
      break;
    case 2:
      ConvertAs<uint16_t>(image, y0, y1, keepAlpha, static_cast<uint8_t*>(out));
      break;
    default:
      ConvertAs<uint32_t>(image, y0, y1, keepAlpha, static_cast<uint8_t*>(out));
      break;
  }
}

const SampleTables* TablesFor(oiio::TypeDesc type, const std::string& space, bool straight) {
  static std::mutex mutex;
  static std::map<std::tuple<int, std::string, bool>, std::unique_ptr<SampleTables>> made;
  std::lock_guard lock(mutex);
  auto& tables = made[{int(type.basetype), space, straight}];
  if (!tables) tables = std::make_unique<SampleTables>(type, space, straight);
  return tables->ok() ? tables.get() : nullptr;
}

}  // namespace vorn
