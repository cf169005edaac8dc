#include "sample_tables.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <type_traits>

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
  MakePixelWords();
  ok_ = true;
}

namespace {

// A sample of type T at index `i` of a byte table: through memcpy, which the
// compiler makes one load, so the bytes are never read through a pointer of
// another type.
template <class T>
T Load(const uint8_t* table, size_t i) {
  T v;
  std::memcpy(&v, table + i * sizeof(T), sizeof(T));
  return v;
}

// Puts sample bits `v` at byte `at` of a pixel held in 64-bit words, so
// that storing the words with memcpy puts the sample's bytes there.
template <class T>
void Place(uint64_t* words, int at, T v) {
  const int in = at % 8;
  const int shift =
      std::endian::native == std::endian::little ? 8 * in : 8 * (8 - in - int(sizeof(T)));
  words[at / 8] |= uint64_t(v) << shift;
}

// The alpha bytes of two tools' pixels (B, G, R, A each) read as one word.
constexpr uint64_t kAlphaBytes =
    std::bit_cast<uint64_t>(std::array<uint8_t, 8>{0, 0, 0, 255, 0, 0, 0, 255});

// A tools' pixel's bytes.
struct Bgra {
  unsigned b, g, r, a;
};

// Pixel `i` (0 or 1) of two read from memory as one word.
inline Bgra Unpack(uint64_t q, int i) {
  auto byte = [&](int k) {
    k += 4 * i;
    return unsigned(q >> (std::endian::native == std::endian::little ? 8 * k : 56 - 8 * k)) & 255u;
  };
  return {byte(0), byte(1), byte(2), byte(3)};
}

}  // namespace

void SampleTables::MakePixelWords() {
  const int words = WordsPerPixel();
  const int s = int(size_);
  opaque_.assign(size_t(3 * 256 * words), 0);
  for (int ch = 0; ch < 3; ++ch) {
    const uint8_t* table = colour_[shared_ ? 0 : ch].data();
    for (int c = 0; c < 256; ++c) {
      uint64_t* w = &opaque_[size_t((ch * 256 + c) * words)];
      const size_t i = size_t(255 * 256 + c);
      if (s == 1) Place(w, ch * s, Load<uint8_t>(table, i));
      if (s == 2) Place(w, ch * s, Load<uint16_t>(table, i));
      if (s == 4) Place(w, ch * s, Load<uint32_t>(table, i));
    }
  }
  auto place = [&](uint64_t* w, int at, const uint8_t* table, size_t i) {
    if (s == 1) Place(w, at, Load<uint8_t>(table, i));
    if (s == 2) Place(w, at, Load<uint16_t>(table, i));
    if (s == 4) Place(w, at, Load<uint32_t>(table, i));
  };
  place(opaqueAlpha_, 3 * s, alpha_.data(), 255);
  for (int ch = 0; ch < 3; ++ch) {
    place(emptyRgb_, ch * s, colour_[shared_ ? 0 : ch].data(), 0);
    place(emptyRgba_, ch * s, colour_[shared_ ? 0 : ch].data(), 0);
  }
  place(emptyRgba_, 3 * s, alpha_.data(), 0);
}

// Frames are mostly opaque or empty: eight pixels at a time are checked for
// that, and then made from 256-entry tables of whole file pixels (three
// look-ups and one or two stores a pixel) or a constant; other pixels look
// up each sample in its channel's 65,536-entry table. A pixel shorter than
// its words (RGB) is stored as whole words too, the next pixel overwriting
// the excess, except at the end of a row.
template <class T, int N>
void SampleTables::ConvertAs(const df::Image& image, int y0, int y1, uint8_t* out) const {
  constexpr int S = int(sizeof(T));
  constexpr int P = S * N;                         // bytes of a file pixel
  constexpr int K = (P + 7) / 8;                   // words holding one
  constexpr int kExact = (K * 8 - P + P - 1) / P;  // pixels at a row's end stored exactly
  const uint8_t* r = colour_[0].data();
  const uint8_t* g = shared_ ? r : colour_[1].data();
  const uint8_t* b = shared_ ? r : colour_[2].data();
  const uint8_t* alpha = alpha_.data();
  const uint64_t* opaque = opaque_.data();
  uint64_t opaqueA[K], empty[K];
  for (int k = 0; k < K; ++k)
    opaqueA[k] = N == 4 ? opaqueAlpha_[k] : 0, empty[k] = N == 4 ? emptyRgba_[k] : emptyRgb_[k];
  const int width = image.width;
  const int wide = std::max(0, width - kExact);

  auto any = [&](Bgra p, uint8_t* d, auto bytes) {
    const size_t row = size_t(p.a) << 8;
    uint64_t w[K] = {};
    Place(w, 0, Load<T>(r, row | p.r));
    Place(w, S, Load<T>(g, row | p.g));
    Place(w, 2 * S, Load<T>(b, row | p.b));
    if constexpr (N == 4) Place(w, 3 * S, Load<T>(alpha, p.a));
    std::memcpy(d, w, decltype(bytes)::value);
  };
  auto opaquePixel = [&](Bgra p, uint8_t* d) {
    uint64_t w[K];
    for (int k = 0; k < K; ++k)
      w[k] = opaque[p.r * K + k] | opaque[(256 + p.g) * K + k] | opaque[(512 + p.b) * K + k] |
             opaqueA[k];
    std::memcpy(d, w, K * 8);
  };
  using Whole = std::integral_constant<int, K * 8>;
  using Exact = std::integral_constant<int, P>;

  for (int y = y0; y < y1; ++y) {
    const uint8_t* src = image.rows[y];
    uint8_t* dst = out + size_t(y - y0) * size_t(width) * P;
    int x = 0;
    uint64_t last = 0;  // the last pixel read, twice
    // Eight pixels are read as four words, kept in registers while the file
    // pixels are stored.
    for (; x + 8 <= wide; x += 8, src += 32, dst += 8 * P) {
      uint64_t q0, q1, q2, q3;
      std::memcpy(&q0, src, 8), std::memcpy(&q1, src + 8, 8);
      std::memcpy(&q2, src + 16, 8), std::memcpy(&q3, src + 24, 8);
      // Written out rather than looped: the compiler keeps the words in
      // registers only when every shift is a constant.
      auto each = [&](auto convert) {
        convert(Unpack(q0, 0), dst), convert(Unpack(q0, 1), dst + P);
        convert(Unpack(q1, 0), dst + 2 * P), convert(Unpack(q1, 1), dst + 3 * P);
        convert(Unpack(q2, 0), dst + 4 * P), convert(Unpack(q2, 1), dst + 5 * P);
        convert(Unpack(q3, 0), dst + 6 * P), convert(Unpack(q3, 1), dst + 7 * P);
      };
      // A stretch of one colour (a flat background, a matte's inside):
      // eight copies of the file pixel just made.
      if (x > 0 && ((q0 ^ last) | (q1 ^ last) | (q2 ^ last) | (q3 ^ last)) == 0) {
        uint64_t w[K] = {};
        std::memcpy(w, dst - P, P);
        for (int i = 0; i < 8; ++i) std::memcpy(dst + i * P, w, K * 8);
        continue;
      }
      last =
          (std::endian::native == std::endian::little ? q3 >> 32 : q3 & 0xffffffffu) * 0x100000001u;
      if (((q0 & q1 & q2 & q3) & kAlphaBytes) == kAlphaBytes)
        each(opaquePixel);
      else if ((q0 | q1 | q2 | q3) == 0)
        each([&](Bgra, uint8_t* d) { std::memcpy(d, empty, K * 8); });
      else
        each([&](Bgra p, uint8_t* d) { any(p, d, Whole()); });
    }
    for (; x < wide; ++x, src += 4, dst += P)
      any(Bgra{src[0], src[1], src[2], src[3]}, dst, Whole());
    for (; x < width; ++x, src += 4, dst += P)
      any(Bgra{src[0], src[1], src[2], src[3]}, dst, Exact());
  }
}

uint32_t SampleTables::Bits(int channel, int alpha, int byte) const {
  const uint8_t* table = channel == 3 ? alpha_.data() : colour_[shared_ ? 0 : channel].data();
  const size_t i = channel == 3 ? size_t(alpha) : size_t(alpha) * 256 + size_t(byte);
  switch (size_) {
    case 1:
      return Load<uint8_t>(table, i);
    case 2:
      return Load<uint16_t>(table, i);
    default:
      return Load<uint32_t>(table, i);
  }
}

void SampleTables::Convert(const df::Image& image, int y0, int y1, bool keepAlpha,
                           void* out) const {
  uint8_t* o = static_cast<uint8_t*>(out);
  switch (size_) {
    case 1:
      keepAlpha ? ConvertAs<uint8_t, 4>(image, y0, y1, o) : ConvertAs<uint8_t, 3>(image, y0, y1, o);
      break;
    case 2:
      keepAlpha ? ConvertAs<uint16_t, 4>(image, y0, y1, o)
                : ConvertAs<uint16_t, 3>(image, y0, y1, o);
      break;
    default:
      keepAlpha ? ConvertAs<uint32_t, 4>(image, y0, y1, o)
                : ConvertAs<uint32_t, 3>(image, y0, y1, o);
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
