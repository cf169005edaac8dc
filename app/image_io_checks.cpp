#include "image_io_checks.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

namespace vorn {
namespace {

using u64 = unsigned long long;

// Reads at offsets of an open file; short reads count as failures.
class File {
 public:
  explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool ok() const { return fd_ >= 0; }
  // Up to `n` bytes at `at`; how many were read.
  size_t Read(u64 at, void* into, size_t n) const {
    size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(fd_, static_cast<char*>(into) + done, n - done, off_t(at + done));
      if (got <= 0) break;
      done += size_t(got);
    }
    return done;
  }

 private:
  int fd_;
};

std::string Bytes(u64 n) {
  return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

std::string CutShort(u64 need, u64 from, u64 size) {
  return "it is cut short or its header lies: its image data needs " + Bytes(need) + " from byte " +
         std::to_string(from) + ", the file has " + Bytes(size);
}

std::string TooSmall(const ClaimedImage& c, u64 least, u64 size) {
  return "it is too small for the size its header claims: " + std::to_string(c.width) + " x " +
         std::to_string(c.height) + " needs at least " + Bytes(least) + " of data, the file has " +
         Bytes(size);
}

// The largest ratio of raw to stored bytes a compression method can reach
// (with some room): deflate stops near 1032, PackBits at 64, run-length
// coding of EXR at 64. Unknown methods get a bound only a lie exceeds.
u64 LargestRatio(const std::string& reader, const std::string& compression) {
  if (reader == "tiff" && (compression == "none" || compression.empty())) return 1;
  if (reader == "png" || compression == "zip" || compression == "deflate" || compression == "zips")
    return 1100;
  if (compression == "pxr24") return 1500;  // floats cut to 24 bits, then deflate
  if (compression == "packbits" || compression == "rle") return 70;
  if (reader == "jpeg" || compression == "lzw") return 4096;
  return 65536;
}

// ---- DPX: the image element's data offset and the bytes its depth needs.

bool CheckDpx(const File& f, u64 size, const ClaimedImage& claim, std::string* why) {
  unsigned char h[2048] = {};
  const int element = std::clamp(claim.subimage, 0, 7);
  const size_t end = 780 + size_t(element + 1) * 72;
  if (f.Read(0, h, end) < end) {
    *why = "it is cut short inside its header (" + Bytes(size) + ")";
    return false;
  }
  const bool big = std::memcmp(h, "SDPX", 4) == 0;
  auto u32 = [&](size_t at) {
    const uint32_t b0 = h[at], b1 = h[at + 1], b2 = h[at + 2], b3 = h[at + 3];
    return big ? (b0 << 24 | b1 << 16 | b2 << 8 | b3) : (b3 << 24 | b2 << 16 | b1 << 8 | b0);
  };
  auto u16 = [&](size_t at) {
    return big ? uint32_t(h[at] << 8 | h[at + 1]) : uint32_t(h[at + 1] << 8 | h[at]);
  };
  const size_t e = 780 + size_t(element) * 72;
  const unsigned descriptor = h[e + 20], bits = h[e + 23];
  const uint32_t packing = u16(e + 24), encoding = u16(e + 26);
  u64 offset = u32(e + 28);
  if (offset == 0 || offset == 0xFFFFFFFFu) offset = u32(4);
  if (encoding != 0) return true;  // run-length coded: no fixed size
  if (offset >= size) {
    *why = "its image data offset (" + std::to_string(offset) + ") is past the end of the file (" +
           Bytes(size) + ")";
    return false;
  }
  u64 components = u64(std::max(claim.channels, 1));
  if (descriptor >= 1 && descriptor <= 8) components = 1;
  if (descriptor == 50 || descriptor == 102) components = 3;
  if (descriptor == 51 || descriptor == 52 || descriptor == 103) components = 4;
  if (descriptor == 100) components = 2;  // 4:2:2: two samples a pixel
  if (descriptor == 101) components = 3;
  if (descriptor >= 150 && descriptor <= 156) components = descriptor - 148;
  const u64 w = u64(claim.width), hgt = u64(claim.height), samples = w * components;
  u64 need = 0;
  if (bits == 10 && packing != 0)
    need = (samples + 2) / 3 * 4 * hgt;  // three samples in each 32-bit word
  else if (bits == 12 && packing != 0)
    need = samples * 2 * hgt;
  else if (bits == 1)
    need = (samples + 31) / 32 * 4 * hgt;
  else if (bits > 0)
    need = (samples * hgt * bits + 7) / 8;  // packed without gaps: the least
  if (need > size - offset) {
    *why = CutShort(need, offset, size);
    return false;
  }
  return true;
}

// ---- PNG: the raw size of its rows against the ratio deflate can reach.

bool CheckPng(const File& f, u64 size, const ClaimedImage& claim, std::string* why) {
  unsigned char h[29];
  if (f.Read(0, h, sizeof h) < sizeof h || std::memcmp(h + 12, "IHDR", 4) != 0) {
    *why = "it is cut short inside its header (" + Bytes(size) + ")";
    return false;
  }
  const u64 depth = h[24];
  static const int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
  const u64 channels = h[25] < 7 && kChannels[h[25]] > 0 ? u64(kChannels[h[25]]) : 1;
  const u64 w = u64(claim.width), hgt = u64(claim.height);
  const u64 raw = hgt * (1 + (w * channels * depth + 7) / 8);
  const u64 least = raw / LargestRatio("png", "");
  if (size < least) {
    *why = TooSmall(claim, least, size);
    return false;
  }
  return true;
}

// ---- EXR: every block of the part read is in the file, has data and
// appears once; no block is missing.

struct ExrPart {
  int compression = -1;
  long long xMin = 0, yMin = 0, xMax = -1, yMax = -1;
  bool tiled = false, deep = false, sampled = false;
  unsigned tileW = 0, tileH = 0, levelMode = 0, rounding = 0;
  long long chunkCount = -1;
  u64 pixelBytes = 0;  // all channels of one pixel
};

int LinesPerBlock(int compression) {
  switch (compression) {
    case 3:  // zip
    case 5:  // pxr24
      return 16;
    case 4:  // piz
    case 6:  // b44
    case 7:  // b44a
    case 8:  // dwaa
      return 32;
    case 9:  // dwab
      return 256;
    default:  // none, rle, zips
      return 1;
  }
}

// Raw bytes over stored bytes a method can reach at most (0: unknown).
u64 ExrRatio(int compression) {
  switch (compression) {
    case 0:
      return 1;
    case 1:
      return 70;
    case 2:
    case 3:
      return 1100;
    case 5:
      return 1500;
    case 6:
    case 7:
      return 16;
    default:
      return 0;
  }
}

long long LevelSize(long long full, int level, unsigned rounding) {
  const long long s = rounding ? (full + (1LL << level) - 1) >> level : full >> level;
  return std::max(s, 1LL);
}

int LevelCount(long long full, unsigned rounding) {
  int n = 1;
  while (LevelSize(full, n - 1, rounding) > 1) ++n;
  return n;
}

class ExrChecker {
 public:
  ExrChecker(const File& f, u64 size) : f_(f), size_(size) {}

  bool Check(int subimage, std::string* why) {
    unsigned char head[8];
    if (f_.Read(0, head, 8) < 8) return Fail("it is cut short inside its header", why);
    const uint32_t flags = head[5] | head[6] << 8 | head[7] << 16;
    const bool multi = flags & 0x10, singleTiled = flags & 0x02, singleDeep = flags & 0x08;
    at_ = 8;
    std::vector<ExrPart> parts;
    while (true) {
      ExrPart p;
      p.tiled = singleTiled, p.deep = singleDeep;
      if (!ReadHeader(&p, why)) return false;
      parts.push_back(p);
      if (!multi) break;
      if (Byte() == 0) {  // the empty header that ends the list
        ++at_;
        break;
      }
      if (parts.size() > 100000) return Fail("its part list does not end", why);
    }
    if (subimage < 0 || size_t(subimage) >= parts.size()) return true;
    // Offset tables follow the headers, one per part in order; blocks
    // follow the tables.
    u64 table = at_, ours = 0, count = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
      const long long n = Chunks(parts[i]);
      if (n < 0) return Fail("its header holds no usable block layout", why);
      if (u64(n) > (size_ - std::min(size_, table)) / 8)
        return Fail("it is cut short inside its block offset table", why);
      if (int(i) == subimage) ours = table, count = u64(n);
      table += u64(n) * 8;
    }
    return CheckPart(parts[size_t(subimage)], ours, count, table, multi, subimage, why);
    return true;
  }

 private:
  bool Fail(const std::string& text, std::string* why) {
    *why = text;
    return false;
  }
  int Byte() {
    unsigned char b = 0;
    return f_.Read(at_, &b, 1) == 1 ? b : -1;
  }
  bool Name(std::string* s) {
    s->clear();
    for (int i = 0; i < 256; ++i) {
      const int b = Byte();
      if (b < 0) return false;
      ++at_;
      if (b == 0) return true;
      s->push_back(char(b));
    }
    return false;
  }
  static int32_t I32(const unsigned char* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
  }

  bool ReadHeader(ExrPart* p, std::string* why) {
    const std::string cut = "it is cut short inside its header";
    bool haveWindow = false;
    for (int n = 0;; ++n) {
      std::string name, type;
      if (!Name(&name)) return Fail(cut, why);
      if (name.empty()) break;
      unsigned char sz[4];
      if (!Name(&type) || f_.Read(at_, sz, 4) < 4) return Fail(cut, why);
      at_ += 4;
      const int32_t length = I32(sz);
      if (length < 0 || u64(length) > size_ - std::min(size_, at_)) return Fail(cut, why);
      std::vector<unsigned char> v;
      if (name == "channels" || name == "compression" || name == "dataWindow" || name == "tiles" ||
          name == "chunkCount" || name == "type") {
        v.resize(size_t(length));
        if (f_.Read(at_, v.data(), v.size()) < v.size()) return Fail(cut, why);
      }
      at_ += u64(length);
      if (name == "compression" && length >= 1) p->compression = v[0];
      if (name == "dataWindow" && length >= 16) {
        p->xMin = I32(&v[0]), p->yMin = I32(&v[4]), p->xMax = I32(&v[8]), p->yMax = I32(&v[12]);
        haveWindow = true;
      }
      if (name == "tiles" && length >= 9) {
        p->tileW = uint32_t(I32(&v[0])), p->tileH = uint32_t(I32(&v[4]));
        p->levelMode = v[8] & 0x0f, p->rounding = v[8] >> 4;
      }
      if (name == "chunkCount" && length >= 4) p->chunkCount = I32(&v[0]);
      if (name == "type") {
        const std::string t(v.begin(), v.end());
        p->tiled = t.find("tiled") != std::string::npos;
        p->deep = t.find("deep") != std::string::npos;
      }
      if (name == "channels") ReadChannels(v, p);
      if (n > 100000) return Fail(cut, why);
    }
    if (!haveWindow || p->xMax < p->xMin || p->yMax < p->yMin)
      return Fail("its header has no usable data window", why);
    return true;
  }

  static void ReadChannels(const std::vector<unsigned char>& v, ExrPart* p) {
    size_t i = 0;
    while (i < v.size() && v[i] != 0) {
      while (i < v.size() && v[i] != 0) ++i;  // the name
      if (i + 17 > v.size()) return;
      const int32_t type = I32(&v[i + 1]), xs = I32(&v[i + 9]), ys = I32(&v[i + 13]);
      p->pixelBytes += type == 1 ? 2 : 4;  // half, else uint or float
      if (xs != 1 || ys != 1) p->sampled = true;
      i += 17;
    }
  }

  long long Width(const ExrPart& p) const { return p.xMax - p.xMin + 1; }
  long long Height(const ExrPart& p) const { return p.yMax - p.yMin + 1; }

  long long Chunks(const ExrPart& p) const {
    if (p.chunkCount >= 0 && p.deep) return p.chunkCount;
    if (!p.tiled) {
      const int lines = LinesPerBlock(p.compression);
      return (Height(p) + lines - 1) / lines;
    }
    if (p.tileW < 1 || p.tileH < 1 || p.levelMode > 2) return -1;
    const int nx = p.levelMode == 0 ? 1 : LevelCount(Width(p), p.rounding);
    const int ny = p.levelMode == 0 ? 1 : LevelCount(Height(p), p.rounding);
    long long count = 0;
    for (int ly = 0; ly < (p.levelMode == 2 ? ny : 1); ++ly)
      for (int lx = 0; lx < (p.levelMode == 2   ? nx
                             : p.levelMode == 1 ? std::max(nx, ny)
                                                : 1);
           ++lx) {
        const int levelY = p.levelMode == 1 ? lx : ly;
        const long long w = LevelSize(Width(p), lx, p.rounding);
        const long long h = LevelSize(Height(p), levelY, p.rounding);
        count += ((w + p.tileW - 1) / p.tileW) * ((h + p.tileH - 1) / p.tileH);
        if (count > (1LL << 40)) return -1;
      }
    return count;
  }

  bool CheckPart(const ExrPart& p, u64 table, u64 count, u64 tableEnd, bool multi, int part,
                 std::string* why) {
    if (p.deep) return true;  // deep data is refused before any pixel is read
    if (p.chunkCount >= 0 && u64(p.chunkCount) != count)
      return Fail(
          "its block count (" + std::to_string(p.chunkCount) + ") does not match its data window",
          why);
    std::vector<unsigned char> offsets(size_t(count) * 8);
    if (f_.Read(table, offsets.data(), offsets.size()) < offsets.size())
      return Fail("it is cut short inside its block offset table", why);
    const u64 ratio = ExrRatio(p.compression);
    std::set<std::pair<long long, long long>> seen;  // level-0 blocks: (x, y) of their first pixel
    u64 levelZero = 0;
    for (u64 i = 0; i < count; ++i) {
      u64 offset = 0;
      for (int b = 7; b >= 0; --b) offset = offset << 8 | offsets[size_t(i * 8) + size_t(b)];
      const std::string block = "block " + std::to_string(i) + " of " + std::to_string(count);
      const size_t headBytes = (multi ? 4 : 0) + (p.tiled ? 16 : 4) + 4;
      if (offset < tableEnd || offset > size_ || size_ - offset < headBytes)
        return Fail(block + " starts outside the file's data (at byte " + std::to_string(offset) +
                        " of " + Bytes(size_) + "): it is cut short or its offset table lies",
                    why);
      unsigned char h[28];
      f_.Read(offset, h, headBytes);
      const unsigned char* c = h + (multi ? 4 : 0);
      if (multi && I32(h) != part)
        return Fail(block + " belongs to another part: its offset table lies", why);
      const int32_t stored = I32(c + (p.tiled ? 16 : 4));
      if (stored <= 0)
        return Fail(block + " holds no data (its size is " + std::to_string(stored) + ")", why);
      if (u64(stored) > size_ - offset - headBytes)
        return Fail(block + " is cut short: it needs " + Bytes(u64(stored)) + " from byte " +
                        std::to_string(offset + headBytes) + ", the file has " + Bytes(size_),
                    why);
      long long bx = 0, by = 0, bw = Width(p), bh = 0;
      if (p.tiled) {
        const int32_t tx = I32(c), ty = I32(c + 4), lx = I32(c + 8), ly = I32(c + 12);
        if (lx != 0 || ly != 0) continue;  // smaller levels are not read
        bx = (long long)tx * p.tileW, by = (long long)ty * p.tileH;
        if (tx < 0 || ty < 0 || bx >= Width(p) || by >= Height(p))
          return Fail(block + " names a tile outside the image", why);
        bw = std::min<long long>(p.tileW, Width(p) - bx);
        bh = std::min<long long>(p.tileH, Height(p) - by);
      } else {
        const long long y = I32(c), lines = LinesPerBlock(p.compression);
        by = y - p.yMin;
        if (by < 0 || by >= Height(p) || by % lines != 0)
          return Fail(block + " names rows that are not one of the image's blocks", why);
        bh = std::min(lines, Height(p) - by);
      }
      if (!seen.insert({bx, by}).second)
        return Fail(block + " repeats another block: its offset table lies", why);
      ++levelZero;
      if (!p.sampled && p.pixelBytes > 0 && ratio > 0) {
        const u64 raw = u64(bw) * u64(bh) * p.pixelBytes;
        if (ratio == 1 ? u64(stored) != raw : u64(stored) * ratio < raw)
          return Fail(block + " holds " + Bytes(u64(stored)) + " where " +
                          (ratio == 1 ? "its rows hold " + Bytes(raw)
                                      : "its rows need at least " + Bytes(raw / ratio)),
                      why);
      }
    }
    const long long lines = p.tiled ? 0 : LinesPerBlock(p.compression);
    const u64 expected =
        p.tiled ? u64((Width(p) + p.tileW - 1) / p.tileW) * u64((Height(p) + p.tileH - 1) / p.tileH)
                : u64((Height(p) + lines - 1) / lines);
    if (levelZero != expected)
      return Fail("it holds " + std::to_string(levelZero) + " of the " + std::to_string(expected) +
                      " blocks of its picture",
                  why);
    return true;
  }

  const File& f_;
  u64 size_;
  u64 at_ = 0;
};

}  // namespace

unsigned long long LeastDataBytes(const ClaimedImage& claim) {
  if (claim.width < 1 || claim.height < 1 || claim.channels < 1 || claim.bitsPerSample < 1)
    return 0;
  const u64 raw = (u64(claim.width) * u64(claim.channels) * u64(claim.bitsPerSample) + 7) / 8 *
                  u64(claim.height);
  return raw / LargestRatio(claim.reader, claim.compression);
}

bool FileHoldsClaim(const std::string& path, unsigned long long fileSize, const ClaimedImage& claim,
                    std::string* why) {
  File f(path);
  if (!f.ok()) return true;  // the reader reports what it cannot open
  if (claim.reader == "dpx") return CheckDpx(f, fileSize, claim, why);
  if (claim.reader == "png") return CheckPng(f, fileSize, claim, why);
  if (claim.reader == "openexr") return ExrChecker(f, fileSize).Check(claim.subimage, why);
  const u64 least = LeastDataBytes(claim);
  if (fileSize < least) {
    *why = TooSmall(claim, least, fileSize);
    return false;
  }
  return true;
}

}  // namespace vorn
