// One warp render: the per-render buffers and the steps that use them, for a
// caller that runs the passes on its own workers.
#pragma once

#include <atomic>
#include <cstdint>

#include "bleb/area_tables.h"
#include "bleb/warp_map.h"
#include "bleb/warp_params.h"

namespace bleb {

// Rows [begin, end) of chunk k of n over height rows: each chunk takes
// height / n rows and the last one runs to the bottom.
struct RowBand {
  int begin;
  int end;
};
RowBand ChunkRows(int k, int n, int height);

class WarpRender {
 public:
  // Builds the integral tables of src and allocates the map. Returns false,
  // holding nothing, when memory is short or the image cannot be warped
  // (see CanWarp); the caller then draws nothing.
  bool Prepare(const WarpParams& params, const std::uint8_t* const* src,
               const std::atomic<int>* abort = nullptr, bool forceWideSums = false);

  // Pass 1: map rows [begin, end).
  void MapRows(int begin, int end, const std::atomic<int>* abort = nullptr);
  // Pass 2: output rows [begin, end); needs the whole map.
  void SampleRows(std::uint8_t* const* dst, int begin, int end,
                  const std::atomic<int>* abort = nullptr) const;
  // After pass 2: the bottom row.
  void Finish(std::uint8_t* const* dst) const;
  void Release();

  const WarpParams& params() const { return params_; }
  const AreaTables& tables() const { return tables_; }
  const WarpMap& map() const { return map_; }
  WarpMap& map() { return map_; }

 private:
  WarpParams params_;
  const std::uint8_t* const* src_ = nullptr;
  AreaTables tables_;
  WarpMap map_;
};

}  // namespace bleb
