// Integral images (summed-area tables) of a 4-byte-per-pixel image.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "framework/large_buffer.h"

namespace bleb {

// True when 255 * width * height does not fit a signed 32-bit sum.
bool NeedsWideSums(int width, int height);

// Table b of byte b holds at (x, y) the sum of byte b over every pixel
// (x', y') with x' <= x and y' <= y. The four tables are interleaved: entry
// ((y * width + x) * 4 + b), so one pixel's four sums share a cache line.
// Sums are 32-bit while they cannot overflow and 64-bit beyond that.
class AreaTables {
 public:
  // Fills the tables, allocating them unless the present ones already have
  // this size and width of sums. Returns false, holding nothing, when the
  // memory cannot be had or the size is not positive. Polls abort before each
  // row; an aborted build leaves the rest of the tables unset.
  bool Build(const std::uint8_t* const* rows, int width, int height,
             const std::atomic<int>* abort = nullptr, bool forceWide = false);

  // The same tables built in parallel, in bands of rows: Allocate once, then
  // FillBand for every band (each band summed as if the image began at its
  // first row; bands may run at once), then, when every band is filled,
  // AddRowAbove(begin, end, ...) for each band but the first, in order from
  // the top, which adds the completed row above the band to each of its rows.
  // That pass may be split among workers by columns. The sums are exactly
  // those of Build.
  //
  // Allocate keeps the present tables when they have this size and width of
  // sums; false, holding nothing, when the memory cannot be had.
  bool Allocate(int width, int height, bool wide);
  void FillBand(const std::uint8_t* const* rows, int begin, int end,
                const std::atomic<int>* abort = nullptr);
  void AddRowAbove(int begin, int end, int columnBegin, int columnEnd,
                   const std::atomic<int>* abort = nullptr);

  void Release();

  bool empty() const { return !wide32_ && !wide64_; }
  int width() const { return width_; }
  int height() const { return height_; }
  bool wide() const { return !wide32_ && wide64_; }
  const std::int32_t* sums32() const { return wide32_.get(); }
  const std::int64_t* sums64() const { return wide64_.get(); }

 private:
  int width_ = 0;
  int height_ = 0;
  fw::LargeBuffer<std::int32_t> wide32_;
  fw::LargeBuffer<std::int64_t> wide64_;
};

}  // namespace bleb
