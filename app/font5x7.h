// A 5 × 7 pixel bitmap font for labels drawn into images (contact sheet, test
// card). Lower-case letters are drawn as capitals; characters without a glyph
// are drawn as '?'.
#pragma once

#include <cstdint>
#include <string_view>

namespace vorn {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphAdvance = 6;  // one blank column between glyphs

// Seven rows, top first; bit 4 is the leftmost column.
const uint8_t* Glyph(char c);

// Draws `text` into a BGRA buffer of `width` × `height` pixels (row stride
// `width` × 4) with its top-left corner at (x, y), each font pixel `scale` ×
// `scale` image pixels. Pixels outside the buffer are skipped.
void DrawText(uint8_t* const* rows, int width, int height, int x, int y, int scale,
              std::string_view text, const uint8_t bgra[4]);

// Width in pixels of `text` drawn at `scale`.
int TextWidth(std::string_view text, int scale);

}  // namespace vorn
