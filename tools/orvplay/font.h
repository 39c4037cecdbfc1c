// A 5 x 7 bitmap font for the labels orvplay draws: printable ASCII only.
#pragma once

#include <cstdint>
#include <string_view>

#include "tools/picture.h"

namespace orvplay {

struct Rgb {
  uint8_t r, g, b;
};

// Each glyph takes 6 x 8 cells (one column and one row of spacing) at scale 1.
inline constexpr int32_t kGlyphAdvance = 6;
inline constexpr int32_t kGlyphHeight = 8;

int32_t TextWidth(std::string_view text, int32_t scale);

// Draws text with its top-left corner at (x, y), every font pixel a
// scale x scale square; pixels outside the picture are skipped. Characters
// outside printable ASCII draw as '?'.
void DrawText(Picture& picture, int32_t x, int32_t y, std::string_view text, int32_t scale,
              Rgb color);

void FillRect(Picture& picture, int32_t x, int32_t y, int32_t w, int32_t h, Rgb color);

}  // namespace orvplay
