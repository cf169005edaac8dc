#include "dpx_encoder.h"

#include <OpenImageIO/filesystem.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace vorn {
namespace {

namespace oiio = OIIO;

// Header fields (byte offsets) that depend on the image's size.
constexpr size_t kDataOffset = 4, kFileSize = 16, kWidth = 772, kHeight = 776, kPacking = 804,
                 kEolPadding = 812, kOriginalWidth = 1424, kOriginalHeight = 1428;
constexpr uint32_t kNativeMagic = 0x53445058;  // "SDPX" read in the file's own byte order

uint32_t Swapped(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}

uint32_t Get(const std::vector<unsigned char>& h, size_t at, bool swap) {
  uint32_t v;
  std::memcpy(&v, &h[at], 4);
  return swap ? Swapped(v) : v;
}

void Set(std::vector<unsigned char>* h, size_t at, uint32_t v, bool swap) {
  if (swap) v = Swapped(v);
  std::memcpy(&(*h)[at], &v, 4);
}

// Per channel and (alpha × 256 + byte): the channel's 10-bit sample already
// in its place in the pixel's word.
struct PackedWords {
  std::vector<uint32_t> channel[3];
};

const PackedWords& WordsFor(const SampleTables& tables) {
  static std::mutex mutex;
  static std::map<const SampleTables*, std::unique_ptr<PackedWords>> made;
  std::lock_guard lock(mutex);
  auto& words = made[&tables];
  if (!words) {
    words = std::make_unique<PackedWords>();
    for (int ch = 0; ch < 3; ++ch) {
      words->channel[ch].resize(65536);
      for (int i = 0; i < 65536; ++i)
        words->channel[ch][size_t(i)] = (tables.Bits(ch, i >> 8, i & 255) >> 6) << (22 - 10 * ch);
    }
  }
  return *words;
}

}  // namespace

bool Dpx10Header(const std::string& path, const oiio::ImageSpec& layout,
                 std::vector<unsigned char>* header) {
  oiio::ImageSpec tiny = layout;
  tiny.width = tiny.height = tiny.full_width = tiny.full_height = 1;
  oiio::Filesystem::IOVecOutput encoded;
  auto out = oiio::ImageOutput::create("dpx");
  if (!out || !out->supports("ioproxy") || !out->set_ioproxy(&encoded)) return false;
  const uint16_t pixel[3] = {0, 0, 0};
  bool ok = out->open(path, tiny) && out->write_image(oiio::TypeDesc::UINT16, pixel);
  ok = out->close() && ok;
  oiio::geterror();
  std::vector<unsigned char>& h = encoded.buffer();
  if (!ok || h.size() < kOriginalHeight + 4) return false;
  uint32_t magic;
  std::memcpy(&magic, h.data(), 4);
  const bool swap = magic != kNativeMagic;
  if (swap && Swapped(magic) != kNativeMagic) return false;
  // One pixel, one word after the header, method A packing, no row padding:
  // else this is not the layout packed here.
  const uint32_t offset = Get(h, kDataOffset, swap);
  uint16_t packing;
  std::memcpy(&packing, &h[kPacking], 2);
  if (swap) packing = uint16_t((packing >> 8) | (packing << 8));
  if (offset <= kOriginalHeight || h.size() != size_t(offset) + 4 ||
      Get(h, kFileSize, swap) != offset + 4 || Get(h, kWidth, swap) != 1 ||
      Get(h, kHeight, swap) != 1 || Get(h, kOriginalWidth, swap) != 1 ||
      Get(h, kOriginalHeight, swap) != 1 || packing != 1 || Get(h, kEolPadding, swap) != 0)
    return false;
  h.resize(offset);
  const uint64_t size = uint64_t(offset) + uint64_t(layout.width) * uint64_t(layout.height) * 4;
  if (size > UINT32_MAX) return false;
  Set(&h, kFileSize, uint32_t(size), swap);
  Set(&h, kWidth, uint32_t(layout.width), swap);
  Set(&h, kHeight, uint32_t(layout.height), swap);
  Set(&h, kOriginalWidth, uint32_t(layout.width), swap);
  Set(&h, kOriginalHeight, uint32_t(layout.height), swap);
  *header = std::move(h);
  return true;
}

void EncodeDpx10(const df::Image& image, const SampleTables& tables,
                 const std::vector<unsigned char>& header, FileBytes* bytes) {
  const PackedWords& words = WordsFor(tables);
  const uint32_t* r = words.channel[0].data();
  const uint32_t* g = words.channel[1].data();
  const uint32_t* b = words.channel[2].data();
  uint32_t magic;
  std::memcpy(&magic, header.data(), 4);
  const bool swap = magic != kNativeMagic;
  const size_t width = size_t(image.width);
  bytes->resize(header.size() + width * size_t(image.height) * 4);
  std::memcpy(bytes->data(), header.data(), header.size());
  unsigned char* dst = bytes->data() + header.size();
  auto pack = [&](const uint8_t* p) {
    const unsigned a = unsigned(p[3]) << 8;
    const uint32_t word = r[a | p[2]] | g[a | p[1]] | b[a | p[0]];
    return swap ? Swapped(word) : word;
  };
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* src = image.rows[y];
    size_t x = 0;
    uint64_t last = 0;  // the last pixel read, twice, and its word (once x > 0)
    uint32_t lastWord = 0;
    for (; x + 8 <= width; x += 8, src += 32, dst += 32) {
      uint64_t q[4];
      std::memcpy(q, src, 32);
      // A stretch of one colour (a flat background, a matte's inside): eight
      // copies of the word just packed, without looking up the tables.
      if (x > 0 && ((q[0] ^ last) | (q[1] ^ last) | (q[2] ^ last) | (q[3] ^ last)) == 0) {
        const uint32_t words[8] = {lastWord, lastWord, lastWord, lastWord,
                                   lastWord, lastWord, lastWord, lastWord};
        std::memcpy(dst, words, 32);
        continue;
      }
      uint32_t words[8];
      for (int i = 0; i < 8; ++i) words[i] = pack(src + 4 * i);
      std::memcpy(dst, words, 32);
      uint32_t pixel;
      std::memcpy(&pixel, src + 28, 4);
      last = uint64_t(pixel) * 0x100000001u;
      lastWord = words[7];
    }
    for (; x < width; ++x, src += 4, dst += 4) {
      const uint32_t word = pack(src);
      std::memcpy(dst, &word, 4);
    }
  }
}

}  // namespace vorn
