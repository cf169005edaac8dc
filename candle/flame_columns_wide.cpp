// The two-rows-at-once column kernel. This file alone is compiled for
// processors with 512-bit registers (x86-64-v4); RenderFlameColumns calls it
// only where the processor reports them.
#include "candle/flame_group.h"

namespace candle {

void RenderGroupWide(const FlameChunkContext& ctx, const Colouring& colouring, const GroupStart& s,
                     std::uint8_t* const* rows) {
  RenderGroupRowsInline<true>(ctx, colouring, s, rows);
}

}  // namespace candle
