// The stand-in's text drawing: a tiny proportional bitmap font.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace orv::standin {

// Rows of a glyph: 7 from the cap line to the baseline, 2 for descenders.
inline constexpr int32_t kFontHeight = 9;

using DotFn = std::function<void(int32_t x, int32_t y)>;

// Width in pixels of text on one line.
int32_t TextWidth(std::string_view text);
// Calls plot for every dot of text whose cap line starts at (x, y).
void DrawText(std::string_view text, int32_t x, int32_t y, const DotFn& plot);

}  // namespace orv::standin
