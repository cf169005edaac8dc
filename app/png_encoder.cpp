#include "png_encoder.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace vorn {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// Image data is split into chunks of this size; any size is valid.
constexpr size_t kDataChunk = size_t(1) << 20;

uint32_t Big32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
  const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  out.insert(out.end(), b, b + 4);
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
  PutBig32(out, uint32_t(size));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + size);
  PutBig32(out, libdeflate_crc32(0, out.data() + start, size + 4));
}

// Magnitude of a residue taken as a signed byte, as libpng weighs filters.
inline unsigned Weight(uint8_t v) {
  return v < 128 ? v : 256u - v;
}

struct CompressorFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// One compressor per writer thread and level: it holds large work tables.
libdeflate_compressor* CompressorFor(int level) {
  thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> held[10];
  level = std::clamp(level, 0, 9);
  if (!held[level]) held[level].reset(libdeflate_alloc_compressor(level));
  return held[level].get();
}

// Buffers of the thread, kept from frame to frame: fresh pages of a new
// buffer cost the kernel's zeroing each time.
std::vector<uint8_t>& ThreadBuffer(int which) {
  thread_local std::vector<uint8_t> buffers[2];
  return buffers[which];
}

}  // namespace

bool SplitPngChunks(const uint8_t* png, size_t size, PngChunks* out) {
  *out = {};
  if (size < 8 || std::memcmp(png, kSignature, 8) != 0) return false;
  bool seenData = false, ended = false;
  size_t at = 8;
  while (at + 12 <= size && !ended) {
    const size_t length = Big32(png + at);
    if (length > size - at - 12) return false;
    const char* type = reinterpret_cast<const char*>(png + at + 4);
    const uint8_t* whole = png + at;
    const size_t wholeSize = length + 12;
    if (std::memcmp(type, "IDAT", 4) == 0) {
      seenData = true;
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      ended = true;
    } else if (std::memcmp(type, "IHDR", 4) != 0) {
      std::vector<uint8_t>& side = seenData ? out->after : out->before;
      side.insert(side.end(), whole, whole + wholeSize);
    }
    at += wholeSize;
  }
  return ended && seenData;
}

PngEncoder::PngEncoder(int width, int height, int channels, int level)
    : width_(width),
      height_(height),
      channels_(channels),
      level_(level),
      stride_(size_t(width) * size_t(channels)),
      filtered_(ThreadBuffer(0)),
      previous_(stride_, 0) {
  filtered_.resize((stride_ + 1) * size_t(height));
}

void PngEncoder::AddRows(const uint8_t* samples, int rows) {
  const size_t n = stride_, bpp = size_t(channels_);
  // Residues of each filter for one row: None (the row itself), Sub, Up,
  // Average, Paeth. Each is its own simple loop, which the compiler
  // vectorises.
  std::vector<uint8_t> trial(4 * n);
  uint8_t* __restrict sub = trial.data();
  uint8_t* __restrict upper = sub + n;
  uint8_t* __restrict average = upper + n;
  uint8_t* __restrict paeth = average + n;
  for (int r = 0; r < rows && rowsDone_ < height_; ++r, ++rowsDone_) {
    const uint8_t* __restrict x = samples + size_t(r) * n;
    const uint8_t* __restrict up = previous_.data();
    // The first pixel has no left neighbour (0): Paeth of (0, up, 0) is up.
    for (size_t i = 0; i < bpp; ++i) {
      sub[i] = x[i];
      upper[i] = paeth[i] = uint8_t(x[i] - up[i]);
      average[i] = uint8_t(x[i] - (up[i] >> 1));
    }
    for (size_t i = bpp; i < n; ++i) sub[i] = uint8_t(x[i] - x[i - bpp]);
    for (size_t i = bpp; i < n; ++i) upper[i] = uint8_t(x[i] - up[i]);
    for (size_t i = bpp; i < n; ++i)
      average[i] = uint8_t(x[i] - uint8_t((unsigned(x[i - bpp]) + up[i]) >> 1));
    for (size_t i = bpp; i < n; ++i) {
      const int16_t a = x[i - bpp], b = up[i], c = up[i - bpp];
      const int16_t pa = int16_t(std::abs(b - c)), pb = int16_t(std::abs(a - c)),
                    pc = int16_t(std::abs(a + b - 2 * c));
      const int16_t predicted = (pa <= pb) & (pa <= pc) ? a : pb <= pc ? b : c;
      paeth[i] = uint8_t(x[i] - predicted);
    }
    const uint8_t* candidates[5] = {x, sub, upper, average, paeth};
    unsigned sum[5];
    for (int f = 0; f < 5; ++f) {
      const uint8_t* __restrict t = candidates[f];
      unsigned total = 0;
      for (size_t i = 0; i < n; ++i) total += Weight(t[i]);
      sum[f] = total;
    }
    int best = 0;
    for (int f = 1; f < 5; ++f)
      if (sum[f] < sum[best]) best = f;
    uint8_t* dst = filtered_.data() + size_t(rowsDone_) * (n + 1);
    dst[0] = uint8_t(best);
    std::memcpy(dst + 1, candidates[best], n);
    std::memcpy(previous_.data(), x, n);
  }
}

bool PngEncoder::Finish(const PngChunks& chunks, std::vector<uint8_t>* file, std::string* error) {
  if (rowsDone_ != height_) {
    *error = "PNG encoder: " + std::to_string(height_ - rowsDone_) + " rows missing";
    return false;
  }
  libdeflate_compressor* compressor = CompressorFor(level_);
  if (compressor == nullptr) {
    *error = "PNG encoder: no memory for the compressor";
    return false;
  }
  std::vector<uint8_t>& deflated = ThreadBuffer(1);
  deflated.resize(libdeflate_zlib_compress_bound(compressor, filtered_.size()));
  const size_t size = libdeflate_zlib_compress(compressor, filtered_.data(), filtered_.size(),
                                               deflated.data(), deflated.size());
  if (size == 0) {
    *error = "PNG encoder: deflate failed";
    return false;
  }
  file->clear();
  file->reserve(size + chunks.before.size() + chunks.after.size() + 64 + size / kDataChunk * 12);
  file->insert(file->end(), kSignature, kSignature + 8);
  std::vector<uint8_t> header;
  PutBig32(header, uint32_t(width_));
  PutBig32(header, uint32_t(height_));
  // 8 bits; colour type 6 (RGBA) or 2 (RGB); deflate, adaptive filters, no
  // interlace.
  const uint8_t rest[5] = {8, uint8_t(channels_ == 4 ? 6 : 2), 0, 0, 0};
  header.insert(header.end(), rest, rest + 5);
  PutChunk(*file, "IHDR", header.data(), header.size());
  file->insert(file->end(), chunks.before.begin(), chunks.before.end());
  for (size_t at = 0; at < size; at += kDataChunk)
    PutChunk(*file, "IDAT", deflated.data() + at, std::min(kDataChunk, size - at));
  file->insert(file->end(), chunks.after.begin(), chunks.after.end());
  PutChunk(*file, "IEND", nullptr, 0);
  return true;
}

}  // namespace vorn
