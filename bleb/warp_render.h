// One warp render: the per-render buffers and the steps that use them, for a
// caller that runs the passes on its own workers:
//
//   Prepare                      (caller's thread)
//   MapRows(band) per chunk      (pass 1, in parallel)
//   [CheckLastRow(band) per chunk   (in parallel, after pass 1)]
//   PrepareSampling              (caller's thread, after pass 1)
//   [TableRows(band) per chunk   (in parallel, when TablesPending)
//    TableColumns(strip) per chunk  (in parallel, after TableRows)]
//   SampleRows(band) per chunk   (pass 2, in parallel)
//   Finish                       (caller's thread, after pass 2)
//
// The integral tables are built only when some pixel averages over an area
// above 1 (the warp compresses the image somewhere); a render that never
// reads them gives the same bytes without them. PrepareSampling builds them
// itself, or, asked to leave them to the workers, allocates them and leaves
// the two table passes to the caller: bands of rows summed on their own, then
// strips of columns that add each band's carry. Both give the same sums.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "bleb/area_tables.h"
#include "bleb/warp_map.h"
#include "bleb/warp_params.h"

namespace bleb {

class WarpRender {
 public:
  // Allocates the map, reusing the buffers of an earlier render of the same
  // size. Returns false, holding nothing, when memory is short or the image
  // cannot be warped (see CanWarp); the caller then draws nothing. src must
  // stay valid until the sampling pass has finished.
  bool Prepare(const WarpParams& params, const std::uint8_t* const* src,
               const std::atomic<int>* abort = nullptr);

  // Pass 1: map rows [begin, end), and which of them will need the tables.
  void MapRows(int begin, int end, const std::atomic<int>* abort = nullptr);
  // After pass 1, for a band's last row, whose check needs the row below
  // from the next band: whether it will need the tables, where pass 1 left
  // that open. Optional: PrepareSampling checks any row left open itself,
  // one after another on the caller's thread.
  void CheckLastRow(int begin, int end);
  // Between the passes: builds the tables if any row needs them (always with
  // forceTables). False when they cannot be allocated: draw nothing then.
  bool PrepareSampling(const std::atomic<int>* abort = nullptr, bool forceTables = false,
                       bool forceWideSums = false, bool tablesInPasses = false);
  // The tables still need their two passes (PrepareSampling left them).
  bool TablesPending() const { return tablesPending_; }
  // Table pass 1: rows [begin, end), one band of the row split (fw::ChunkBand).
  void TableRows(int begin, int end, const std::atomic<int>* abort = nullptr);
  // Table pass 2, after every band of pass 1: columns [begin, end) of the
  // rows below the first band, with the row bands pass 1 used.
  void TableColumns(int begin, int end, int workers, const std::atomic<int>* abort = nullptr);
  // Pass 2: output rows [begin, end).
  void SampleRows(std::uint8_t* const* dst, int begin, int end,
                  const std::atomic<int>* abort = nullptr) const;
  // After pass 2: the bottom row.
  void Finish(std::uint8_t* const* dst) const;
  // Frees every buffer (a later Prepare allocates them again).
  void Release();

  const WarpParams& params() const { return params_; }
  const AreaTables& tables() const { return tables_; }
  const WarpMap& map() const { return map_; }
  WarpMap& map() { return map_; }

 private:
  enum RowState : std::uint8_t { kUnknown, kBilinearOnly, kNeedsTables };

  WarpParams params_;
  const std::uint8_t* const* src_ = nullptr;
  AreaTables tables_;
  WarpMap map_;
  std::unique_ptr<std::uint8_t[]> rowState_;  // per output row, set in pass 1
  int rowStateSize_ = 0;
  bool tablesCurrent_ = false;  // the tables hold this render's input
  bool tablesPending_ = false;  // allocated, the two table passes to run
};

}  // namespace bleb
