#include "exr_encoder.h"

#include <OpenImageIO/filesystem.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vorn {
namespace {

namespace oiio = OIIO;

constexpr unsigned char kMagic[4] = {0x76, 0x2f, 0x31, 0x01};
// Version flags of tiled, deep and multi-part files.
constexpr uint32_t kOtherLayouts = 0x200 | 0x800 | 0x1000;
constexpr int kHalf = 1, kFloat = 2;  // channel pixel types
constexpr int kMinRun = 3, kMaxRun = 127;

uint32_t Get32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void Put64(unsigned char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A NUL-terminated string of at most 255 bytes at `at`, before `end`; the
// position after it, or 0 when there is none.
size_t After(const std::vector<unsigned char>& h, size_t at, size_t end) {
  for (size_t i = at; i < end && i < at + 256; ++i)
    if (h[i] == 0) return i + 1;
  return 0;
}

// The channel list's entries: each channel's place in the tables' samples;
// false when a channel is not one of the layout's or not of `type`.
bool ReadChannels(const std::vector<unsigned char>& h, size_t at, size_t end,
                  const oiio::ImageSpec& layout, int type, std::vector<int>* channels) {
  while (at < end && h[at] != 0) {
    const size_t next = After(h, at, end);
    if (next == 0 || next + 16 > end) return false;
    const std::string name(reinterpret_cast<const char*>(&h[at]), next - at - 1);
    const auto place = std::find(layout.channelnames.begin(), layout.channelnames.end(), name);
    if (place == layout.channelnames.end() || int(Get32(&h[next])) != type ||
        Get32(&h[next + 8]) != 1 || Get32(&h[next + 12]) != 1)
      return false;
    channels->push_back(int(place - layout.channelnames.begin()));
    at = next + 16;
  }
  return at + 1 == end && int(channels->size()) == layout.nchannels;
}

#if defined(__SSE2__)
inline __m128i Load16(const unsigned char* from) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
}
#endif

// Bits `at` to `at` + 63 of `bits` (64 to a word, lowest first).
inline uint64_t BitsFrom(const uint64_t* bits, size_t at) {
  const size_t word = at / 64, shift = at % 64;
  return shift == 0 ? bits[word] : bits[word] >> shift | bits[word + 1] << (64 - shift);
}

// Bytes a coded line may be read and written past its end: literals are
// copied 16 bytes at a time.
constexpr size_t kSlack = 16;

// A coded line takes less than this many times the plain line's bytes (at
// worst a literal's count byte for every 127 bytes), kSlack not counted.
constexpr size_t kCodedRoom = 2;

// The library's run-length coding: runs of 3 to 128 equal bytes as a count
// (length - 1) and the byte; other bytes as literals of up to 127, preceded
// by minus their count. A literal ends where three equal bytes begin.
// `equal` holds, for each place, whether the next byte is the same (n / 64
// + 3 words, zero past the line): the runs and the literals' ends are found
// by counting bits. `in` is read, and `out` written, up to kSlack bytes
// past what the coding takes.
size_t RunLengthCode(const unsigned char* in, size_t n, unsigned char* out, const uint64_t* equal) {
  // The coding walks the maximal runs of three or more equal bytes, found
  // as bits (a run begins where three equal bytes begin after a different
  // one), rather than deciding byte by byte: the bytes between two runs are
  // literals, and a run's last one or two bytes past a piece of 128 begin
  // the next literal, as they do when coded byte by byte.
  unsigned char* o = out;
  auto literal = [&](size_t from, size_t to) {
    while (from < to) {
      const size_t length = std::min(to - from, size_t(kMaxRun));
      *o++ = static_cast<unsigned char>(-static_cast<int>(length));
      for (size_t k = 0; k < length; k += 16) {
#if defined(__SSE2__)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + k),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + from + k)));
#else
        std::memcpy(o + k, in + from + k, 16);
#endif
      }
      o += length;
      from += length;
    }
  };
  size_t pos = 0;         // the first byte not coded yet
  uint64_t previous = 0;  // whether the last byte of the word before equals the next
  for (size_t w = 0; w * 64 < n; ++w) {
    const uint64_t eq = equal[w], triple = eq & (eq >> 1 | equal[w + 1] << 63);
    uint64_t starts = triple & ~(eq << 1 | previous);
    previous = eq >> 63;
    while (starts != 0) {
      size_t at = w * 64 + size_t(std::countr_zero(starts));
      starts &= starts - 1;
#if defined(__SSE2__)
      // Most literals are short: one store.
      if (const size_t length = at - pos; length - 1 < 16) {
        *o = static_cast<unsigned char>(-static_cast<int>(length));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 1), Load16(in + pos));
        o += length + 1;
      } else
#endif
      {
        literal(pos, at);
      }
      size_t end = at + 1, more;
      do {
        more = size_t(std::countr_one(BitsFrom(equal, end - 1)));
        end += more;
      } while (more == 64);
      // Pieces of 128, then what is left if it is a run itself.
      const size_t full = (end - at) / (kMaxRun + 1);
      size_t rest = (end - at) % (kMaxRun + 1);
#if defined(__SSE2__)
      // Eight pieces a store; the last store may reach into the slack.
      const __m128i pairs = _mm_set1_epi16(static_cast<short>(kMaxRun | in[at] << 8));
      for (size_t k = 0; k < full; k += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 2 * k), pairs);
#else
      for (size_t k = 0; k < full; ++k) o[2 * k] = kMaxRun, o[2 * k + 1] = in[at];
#endif
      o += 2 * full;
      if (rest >= size_t(kMinRun)) {
        *o++ = static_cast<unsigned char>(rest - 1);
        *o++ = in[at];
        rest = 0;
      }
      pos = end - rest;
    }
  }
  literal(pos, n);
  return size_t(o - out);
}

// The predictor over a split line `s` of n bytes: each byte minus the one
// before, plus 128 (the first kept as it is: s[-1] must be 128), into `p`;
// and whether each predicted byte equals the next, as bits into `equal`
// (n / 64 + 3 words). s[n] is read.
void Predict(const unsigned char* s, size_t n, unsigned char* p, uint64_t* equal) {
  const size_t words = n / 64 + 3;
  std::fill(equal, equal + words, 0);
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i half = _mm_set1_epi8(static_cast<char>(0x80));
  for (; i + 64 <= n; i += 64) {
    uint64_t bits = 0;
    for (size_t k = 0; k < 64; k += 16) {
      const __m128i a = Load16(s + i + k - 1), b = Load16(s + i + k), c = Load16(s + i + k + 1);
      const __m128i here = _mm_add_epi8(_mm_sub_epi8(b, a), half);
      const __m128i next = _mm_add_epi8(_mm_sub_epi8(c, b), half);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i + k), here);
      bits |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)))) << k;
    }
    equal[i / 64] = bits;
  }
#endif
  for (size_t j = i; j < n; ++j) p[j] = static_cast<unsigned char>(s[j] - s[j - 1] + 128);
  // The last byte has no next one (s[n] is not the line's).
  if (n > 0) equal[(n - 1) / 64] &= ~(uint64_t(1) << ((n - 1) % 64));
  for (size_t j = i; j + 1 < n; ++j) equal[j / 64] |= uint64_t(p[j] == p[j + 1]) << (j % 64);
}

// Whether each byte of a predicted line `p` of n bytes equals the next, as
// bits into `equal` (n / 64 + 3 words); p[n] is read.
void EqualBits(const unsigned char* p, size_t n, uint64_t* equal) {
  std::fill(equal, equal + n / 64 + 3, 0);
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 64 <= n; i += 64) {
    uint64_t bits = 0;
    for (size_t k = 0; k < 64; k += 16)
      bits |= uint64_t(unsigned(
                  _mm_movemask_epi8(_mm_cmpeq_epi8(Load16(p + i + k), Load16(p + i + k + 1)))))
              << k;
    equal[i / 64] = bits;
  }
#endif
  for (; i + 1 < n; ++i) equal[i / 64] |= uint64_t(p[i] == p[i + 1]) << (i % 64);
  if (n > 0) equal[(n - 1) / 64] &= ~(uint64_t(1) << ((n - 1) % 64));
}

// A line's samples in the file's order: each channel's in turn. Samples of
// S bytes, N channels a pixel; `order` gives each file channel's place in
// the interleaved pixel.
template <size_t S, size_t N>
void Planar(const unsigned char* samples, size_t width, const int* order, unsigned char* out) {
  unsigned char* dst[N];
  size_t from[N];
  for (size_t c = 0; c < N; ++c) dst[c] = out + c * width * S, from[c] = size_t(order[c]) * S;
  for (size_t x = 0; x < width; ++x, samples += S * N)
    for (size_t c = 0; c < N; ++c) std::memcpy(dst[c] + x * S, samples + from[c], S);
}

// The same line as the run-length coder takes it: its bytes split, the
// even ones (the low bytes of the samples' byte pairs) into `low`, the odd
// ones into `high`.
template <size_t S, size_t N>
void Split(const unsigned char* samples, size_t width, const int* order, unsigned char* low,
           unsigned char* high) {
  constexpr size_t kPairs = S / 2;
  unsigned char *lo[N], *hi[N];
  size_t from[N];
  for (size_t c = 0; c < N; ++c)
    lo[c] = low + c * width * kPairs, hi[c] = high + c * width * kPairs,
    from[c] = size_t(order[c]) * S;
  for (size_t x = 0; x < width; ++x, samples += S * N)
    for (size_t c = 0; c < N; ++c)
      for (size_t j = 0; j < kPairs; ++j)
        lo[c][x * kPairs + j] = samples[from[c] + 2 * j],
                           hi[c][x * kPairs + j] = samples[from[c] + 2 * j + 1];
}

#if defined(__SSE2__)
// Where each interleaved channel's plane of `bytes` bytes a sample begins.
void Planes(unsigned char* out, size_t width, size_t bytes, const int* order,
            unsigned char* plane[4]) {
  for (size_t c = 0; c < 4; ++c) plane[order[c]] = out + c * width * bytes;
}

// Four pixels of 16-bit units, R, G, B and A each, in two registers (two
// pixels each) made into R and G of all four, and B and A.
inline void Transpose16(__m128i p01, __m128i p23, __m128i* rg, __m128i* ba) {
  const __m128i x = _mm_unpacklo_epi16(p01, p23), y = _mm_unpackhi_epi16(p01, p23);
  *rg = _mm_unpacklo_epi16(x, y), *ba = _mm_unpackhi_epi16(x, y);
}

inline void Store8(unsigned char* to, __m128i v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(to), v);
}

// Half RGBA split and predicted in one pass, into the predicted line `p`
// (the low bytes' planes, then the high bytes'), eight pixels a step: each
// channel's eight low and eight high bytes are one register, whose bytes
// less those shifted in from the eight before give the predictor. Eight
// pixels that repeat the last one predict 128 throughout (a flat stretch).
void SplitPredict(const unsigned char* samples, size_t width, const int* order, unsigned char* p) {
  unsigned char *lo[4], *hi[4];
  Planes(p, width, 1, order, lo);
  Planes(p + 4 * width, width, 1, order, hi);
  const __m128i half = _mm_set1_epi8(static_cast<char>(0x80));
  // Each channel's last eight low bytes and eight high bytes; 128 before
  // the first, which the line's own predictor sees first.
  __m128i prev[4] = {half, half, half, half};
  uint64_t last = 0;  // the last pixel's samples
  size_t x = 0;
  for (; x + 8 <= width; x += 8, samples += 64) {
    if (x > 0) {
      const __m128i l = _mm_set1_epi64x(static_cast<long long>(last));
      const __m128i same = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(Load16(samples), l),
                                                       _mm_cmpeq_epi8(Load16(samples + 16), l)),
                                         _mm_and_si128(_mm_cmpeq_epi8(Load16(samples + 32), l),
                                                       _mm_cmpeq_epi8(Load16(samples + 48), l)));
      if (_mm_movemask_epi8(same) == 0xffff) {
        for (int ch = 0; ch < 4; ++ch) Store8(lo[ch] + x, half), Store8(hi[ch] + x, half);
        continue;
      }
    }
    auto row = [&](int i) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + 8 * i));
    };
    const __m128i t0 = _mm_unpacklo_epi8(row(0), row(1)), t1 = _mm_unpacklo_epi8(row(2), row(3));
    const __m128i t2 = _mm_unpacklo_epi8(row(4), row(5)), t3 = _mm_unpacklo_epi8(row(6), row(7));
    const __m128i u0 = _mm_unpacklo_epi16(t0, t1), u1 = _mm_unpackhi_epi16(t0, t1);
    const __m128i u2 = _mm_unpacklo_epi16(t2, t3), u3 = _mm_unpackhi_epi16(t2, t3);
    const __m128i v[4] = {_mm_unpacklo_epi32(u0, u2), _mm_unpackhi_epi32(u0, u2),
                          _mm_unpacklo_epi32(u1, u3), _mm_unpackhi_epi32(u1, u3)};
    for (int ch = 0; ch < 4; ++ch) {
      const __m128i before = _mm_or_si128(_mm_slli_epi64(v[ch], 8), _mm_srli_epi64(prev[ch], 56));
      const __m128i d = _mm_add_epi8(_mm_sub_epi8(v[ch], before), half);
      Store8(lo[ch] + x, d), Store8(hi[ch] + x, _mm_srli_si128(d, 8));
      prev[ch] = v[ch];
    }
    std::memcpy(&last, samples + 56, 8);
  }
  // Each channel's last low and high byte, for the pixels left and for the
  // planes that follow.
  unsigned char end[4][16];
  for (int ch = 0; ch < 4; ++ch) _mm_storeu_si128(reinterpret_cast<__m128i*>(end[ch]), prev[ch]);
  for (; x < width; ++x, samples += 8)
    for (int ch = 0; ch < 4; ++ch) {
      lo[ch][x] = static_cast<unsigned char>(samples[2 * ch] - end[ch][7] + 128);
      hi[ch][x] = static_cast<unsigned char>(samples[2 * ch + 1] - end[ch][15] + 128);
      end[ch][7] = samples[2 * ch], end[ch][15] = samples[2 * ch + 1];
    }
  // A plane's first byte was predicted from 128; it follows the last byte
  // of the plane before (file channels in order, low planes then high).
  for (int k = 1; k < 8; ++k) {
    const int before = order[(k - 1) % 4];
    const unsigned char previous = end[before][(k - 1) < 4 ? 7 : 15];
    p[size_t(k) * width] = static_cast<unsigned char>(p[size_t(k) * width] + 128 - previous);
  }
}

// Float RGBA: four pixels a step; the low bytes of each 16-bit unit
// (packed) and then the high ones are transposed as 16-bit pairs.
template <>
void Split<4, 4>(const unsigned char* samples, size_t width, const int* order, unsigned char* low,
                 unsigned char* high) {
  unsigned char *lo[4], *hi[4];
  Planes(low, width, 2, order, lo);
  Planes(high, width, 2, order, hi);
  const __m128i mask = _mm_set1_epi16(0xff);
  size_t x = 0;
  for (; x + 4 <= width; x += 4, samples += 64) {
    const __m128i a0 = Load16(samples), a1 = Load16(samples + 16), a2 = Load16(samples + 32),
                  a3 = Load16(samples + 48);
    __m128i rg, ba;
    Transpose16(_mm_packus_epi16(_mm_and_si128(a0, mask), _mm_and_si128(a1, mask)),
                _mm_packus_epi16(_mm_and_si128(a2, mask), _mm_and_si128(a3, mask)), &rg, &ba);
    Store8(lo[0] + 2 * x, rg), Store8(lo[1] + 2 * x, _mm_srli_si128(rg, 8));
    Store8(lo[2] + 2 * x, ba), Store8(lo[3] + 2 * x, _mm_srli_si128(ba, 8));
    Transpose16(_mm_packus_epi16(_mm_srli_epi16(a0, 8), _mm_srli_epi16(a1, 8)),
                _mm_packus_epi16(_mm_srli_epi16(a2, 8), _mm_srli_epi16(a3, 8)), &rg, &ba);
    Store8(hi[0] + 2 * x, rg), Store8(hi[1] + 2 * x, _mm_srli_si128(rg, 8));
    Store8(hi[2] + 2 * x, ba), Store8(hi[3] + 2 * x, _mm_srli_si128(ba, 8));
  }
  for (; x < width; ++x, samples += 16)
    for (int ch = 0; ch < 4; ++ch)
      for (int j = 0; j < 2; ++j)
        lo[ch][2 * x + size_t(j)] = samples[4 * ch + 2 * j],
                       hi[ch][2 * x + size_t(j)] = samples[4 * ch + 2 * j + 1];
}

// Half RGBA by 16-bit transposes, four pixels a step.
template <>
void Planar<2, 4>(const unsigned char* samples, size_t width, const int* order,
                  unsigned char* out) {
  unsigned char* dst[4];
  Planes(out, width, 2, order, dst);
  size_t x = 0;
  for (; x + 4 <= width; x += 4, samples += 32) {
    __m128i rg, ba;
    Transpose16(Load16(samples), Load16(samples + 16), &rg, &ba);
    Store8(dst[0] + 2 * x, rg), Store8(dst[1] + 2 * x, _mm_srli_si128(rg, 8));
    Store8(dst[2] + 2 * x, ba), Store8(dst[3] + 2 * x, _mm_srli_si128(ba, 8));
  }
  for (; x < width; ++x, samples += 8)
    for (int ch = 0; ch < 4; ++ch) std::memcpy(dst[ch] + 2 * x, samples + 2 * ch, 2);
}

// Float RGBA by a 4 × 4 transpose of 32-bit samples.
template <>
void Planar<4, 4>(const unsigned char* samples, size_t width, const int* order,
                  unsigned char* out) {
  unsigned char* dst[4];
  Planes(out, width, 4, order, dst);
  size_t x = 0;
  for (; x + 4 <= width; x += 4, samples += 64) {
    const __m128i a0 = Load16(samples), a1 = Load16(samples + 16), a2 = Load16(samples + 32),
                  a3 = Load16(samples + 48);
    const __m128i t0 = _mm_unpacklo_epi32(a0, a1), t1 = _mm_unpacklo_epi32(a2, a3);
    const __m128i t2 = _mm_unpackhi_epi32(a0, a1), t3 = _mm_unpackhi_epi32(a2, a3);
    const __m128i v[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                          _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
    for (int ch = 0; ch < 4; ++ch)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[ch] + 4 * x), v[ch]);
  }
  for (; x < width; ++x, samples += 16)
    for (int ch = 0; ch < 4; ++ch) std::memcpy(dst[ch] + 4 * x, samples + 4 * ch, 4);
}
#endif

// Rows of the frame become chunks: converted by table a band at a time,
// then each line's samples ordered by channel or, for run-length coding,
// split into low and high bytes, predicted and coded.
template <size_t S, size_t N>
class ChunkWriter {
 public:
  ChunkWriter(const df::Image& image, const SampleTables& tables, const ExrHeader& header)
      : image_(image),
        tables_(tables),
        header_(header),
        width_(size_t(image.width)),
        lineBytes_(width_ * N * S) {
    kept_.interleaved.resize(lineBytes_ * size_t(kBandRows));
    if (header.rle) {
      // The split line has a byte of 128 before it and room after it for
      // the predictor's reads.
      if (!kFused) {
        kept_.split.assign(kSlack + lineBytes_ + kSlack, 0);
        kept_.split[kSlack - 1] = 128;
      }
      kept_.predicted.resize(lineBytes_ + kSlack);
      kept_.equal.resize(lineBytes_ / 64 + 3);
    }
  }

  // Appends the chunks of every line to `out`, which holds the header and
  // the line-offset table, filling in the table.
  void Write(FileBytes* out, size_t table) {
    const int* order = header_.channels.data();
    for (int y0 = 0; y0 < image_.height; y0 += kBandRows) {
      const int y1 = std::min(image_.height, y0 + kBandRows);
      tables_.Convert(image_, y0, y1, N == 4, kept_.interleaved.data());
      for (int y = y0; y < y1; ++y) {
        const size_t at = out->size();
        Put64(out->data() + table + size_t(y) * 8, at);
        const unsigned char* samples = kept_.interleaved.data() + size_t(y - y0) * lineBytes_;
        // The line goes straight into the file's bytes: coded, where that
        // makes it smaller, else ordered by channel over the coded bytes.
        out->resize(at + 8 + (header_.rle ? kCodedRoom * lineBytes_ + kSlack : lineBytes_));
        unsigned char* chunk = out->data() + at;
        size_t size = header_.rle ? Code(samples, chunk + 8) : lineBytes_;
        if (size >= lineBytes_) {
          size = lineBytes_;
          Planar<S, N>(samples, width_, order, chunk + 8);
        }
        Put32(chunk, uint32_t(header_.originY + y));
        Put32(chunk + 4, uint32_t(size));
        out->resize(at + 8 + size);
      }
    }
  }

 private:
  static constexpr int kBandRows = 16;
#if defined(__SSE2__)
  // Half RGBA lines are split and predicted in one pass (SplitPredict).
  static constexpr bool kFused = S == 2 && N == 4;
#else
  static constexpr bool kFused = false;
#endif

  // A line's samples split, predicted and run-length coded into `coded`
  // (room for kCodedRoom lines and kSlack).
  size_t Code(const unsigned char* samples, unsigned char* coded) {
#if defined(__SSE2__)
    if constexpr (kFused) {
      SplitPredict(samples, width_, header_.channels.data(), kept_.predicted.data());
      EqualBits(kept_.predicted.data(), lineBytes_, kept_.equal.data());
    } else
#endif
    {
      unsigned char* split = kept_.split.data() + kSlack;
      Split<S, N>(samples, width_, header_.channels.data(), split, split + lineBytes_ / 2);
      Predict(split, lineBytes_, kept_.predicted.data(), kept_.equal.data());
    }
    return RunLengthCode(kept_.predicted.data(), lineBytes_, coded, kept_.equal.data());
  }

  const df::Image& image_;
  const SampleTables& tables_;
  const ExrHeader& header_;
  const size_t width_, lineBytes_;
  // A writer thread's line buffers, kept from file to file: allocated anew,
  // they would come back as fresh pages every frame.
  struct Buffers {
    std::vector<unsigned char> interleaved, split, predicted;
    std::vector<uint64_t> equal;
  };
  static Buffers& Kept() {
    thread_local Buffers kept;
    return kept;
  }
  Buffers& kept_ = Kept();
};

template <size_t S>
void WriteChunks(const df::Image& image, const SampleTables& tables, const ExrHeader& header,
                 FileBytes* out, size_t table) {
  if (header.channels.size() == 4)
    ChunkWriter<S, 4>(image, tables, header).Write(out, table);
  else
    ChunkWriter<S, 3>(image, tables, header).Write(out, table);
}

}  // namespace

bool MakeExrHeader(const std::string& path, const oiio::ImageSpec& layout, ExrHeader* header) {
  if constexpr (std::endian::native != std::endian::little) return false;
  const int type = layout.format == oiio::TypeDesc::HALF    ? kHalf
                   : layout.format == oiio::TypeDesc::FLOAT ? kFloat
                                                            : 0;
  if (type == 0 || layout.tile_width > 0 || !layout.channelformats.empty() ||
      (layout.nchannels != 3 && layout.nchannels != 4) || layout.width < 1 || layout.height < 1)
    return false;
  // The windows of the real image must be expressible.
  const int64_t xMax = int64_t(layout.x) + layout.width - 1,
                yMax = int64_t(layout.y) + layout.height - 1;
  if (xMax > INT32_MAX || yMax > INT32_MAX) return false;
  oiio::ImageSpec tiny = layout;
  tiny.width = tiny.height = tiny.full_width = tiny.full_height = 1;
  tiny.full_x = tiny.x, tiny.full_y = tiny.y;
  oiio::Filesystem::IOVecOutput encoded;
  auto out = oiio::ImageOutput::create("openexr");
  if (!out || !out->supports("ioproxy") || !out->set_ioproxy(&encoded)) return false;
  const float pixel[4] = {0, 0, 0, 0};
  bool ok = out->open(path, tiny) && out->write_image(oiio::TypeDesc::FLOAT, pixel);
  ok = out->close() && ok;
  oiio::geterror();
  const std::vector<unsigned char>& h = encoded.buffer();
  if (!ok || h.size() < 8 || std::memcmp(h.data(), kMagic, 4) != 0 || (Get32(&h[4]) & 0xff) != 2 ||
      (Get32(&h[4]) & kOtherLayouts) != 0)
    return false;
  ExrHeader made;
  made.sampleSize = type == kHalf ? 2 : 4;
  made.originY = layout.y;
  // The attributes: name, type, size, value; an empty name ends them.
  size_t at = 8, dataWindow = 0, displayWindow = 0;
  bool knownCompression = false, increasingY = false;
  while (at < h.size() && h[at] != 0) {
    const size_t typeAt = After(h, at, h.size());
    const size_t sizeAt = typeAt ? After(h, typeAt, h.size()) : 0;
    if (sizeAt == 0 || sizeAt + 4 > h.size()) return false;
    const std::string name(reinterpret_cast<const char*>(&h[at]), typeAt - at - 1);
    const uint32_t size = Get32(&h[sizeAt]);
    const size_t value = sizeAt + 4;
    if (size > h.size() - value) return false;
    if (name == "channels") {
      if (!ReadChannels(h, value, value + size, layout, type, &made.channels)) return false;
    } else if (name == "compression") {
      knownCompression = size == 1 && (h[value] == 0 || h[value] == 1);
      made.rle = size == 1 && h[value] == 1;
    } else if (name == "lineOrder") {
      increasingY = size == 1 && h[value] == 0;
    } else if (name == "dataWindow" || name == "displayWindow") {
      const uint32_t x = uint32_t(layout.x), y = uint32_t(layout.y);
      if (size != 16 || Get32(&h[value]) != x || Get32(&h[value + 4]) != y ||
          Get32(&h[value + 8]) != x || Get32(&h[value + 12]) != y)
        return false;
      (name == "dataWindow" ? dataWindow : displayWindow) = value;
    } else if (name == "chunkCount" || name == "tiles" || name == "type") {
      return false;  // not a plain single-part scanline file
    }
    at = value + size;
  }
  // One pixel, one offset and one chunk after the header: else this is not
  // the layout encoded here.
  const size_t end = at + 1, pixelBytes = made.channels.size() * made.sampleSize;
  if (end + 16 > h.size() || made.channels.empty() || !knownCompression || !increasingY ||
      dataWindow == 0 || displayWindow == 0)
    return false;
  const size_t chunk = end + 8;
  if (Get32(&h[end]) != chunk || Get32(&h[end + 4]) != 0 || Get32(&h[chunk]) != uint32_t(tiny.y) ||
      Get32(&h[chunk + 4]) > pixelBytes || chunk + 8 + Get32(&h[chunk + 4]) != h.size())
    return false;
  made.bytes.assign(h.begin(), h.begin() + std::ptrdiff_t(end));
  for (size_t window : {dataWindow, displayWindow}) {
    Put32(&made.bytes[window + 8], uint32_t(xMax));
    Put32(&made.bytes[window + 12], uint32_t(yMax));
  }
  *header = std::move(made);
  return true;
}

void EncodeExr(const df::Image& image, const SampleTables& tables, const ExrHeader& header,
               FileBytes* bytes) {
  const size_t height = size_t(image.height);
  const size_t lineBytes = size_t(image.width) * header.channels.size() * header.sampleSize;
  const size_t table = header.bytes.size();
  const size_t chunks = table + 8 * height;
  // At most the plain data (coded lines are kept only when smaller), and
  // room for coding the last line in place.
  bytes->clear();
  bytes->reserve(chunks + height * (8 + lineBytes) + kCodedRoom * lineBytes + kSlack);
  bytes->assign(header.bytes.begin(), header.bytes.end());
  bytes->resize(chunks);
  if (header.sampleSize == 2)
    WriteChunks<2>(image, tables, header, bytes, table);
  else
    WriteChunks<4>(image, tables, header, bytes, table);
}

}  // namespace vorn
