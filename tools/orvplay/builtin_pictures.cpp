#include "tools/orvplay/builtin_pictures.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/orvplay/font.h"

namespace orvplay {

namespace {

constexpr int32_t W = kBuiltinWidth, H = kBuiltinHeight;

uint8_t Mix(int a, int b, double t) {
  return static_cast<uint8_t>(std::clamp(std::lround(a + (b - a) * t), 0L, 255L));
}

void Set(Picture& p, int32_t x, int32_t y, Rgb c) {
  uint8_t* px = p.At(x, y);
  px[0] = c.r, px[1] = c.g, px[2] = c.b;
}

// Text with a one-pixel dark outline so that it reads on any background.
void OutlinedText(Picture& p, int32_t x, int32_t y, const char* text, int32_t scale, Rgb color) {
  for (int32_t dy = -1; dy <= 1; ++dy)
    for (int32_t dx = -1; dx <= 1; ++dx)
      if (dx || dy) DrawText(p, x + dx * 2, y + dy * 2, text, scale, Rgb{10, 10, 20});
  DrawText(p, x, y, text, scale, color);
}

Rgb Hue(double h) {  // h in [0, 1)
  const double r = std::clamp(std::fabs(h * 6 - 3) - 1, 0.0, 1.0);
  const double g = std::clamp(2 - std::fabs(h * 6 - 2), 0.0, 1.0);
  const double b = std::clamp(2 - std::fabs(h * 6 - 4), 0.0, 1.0);
  return Rgb{uint8_t(r * 255), uint8_t(g * 255), uint8_t(b * 255)};
}

}  // namespace

Picture BuiltinFromPicture() {
  Picture p(W, H);
  const int32_t horizon = 250;
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      if (y < horizon) {  // sky: deep blue to orange
        const double t = double(y) / horizon;
        Set(p, x, y, Rgb{Mix(20, 250, t * t), Mix(30, 150, t), Mix(110, 70, t)});
      } else {  // fields: green bands that narrow toward the horizon
        const double d = double(y - horizon) / (H - horizon);
        const bool band = int(std::sqrt(d) * 14) % 2 == 0;
        Set(p, x, y, Rgb{Mix(30, 60, d), Mix(band ? 90 : 120, 170, d), Mix(30, 40, d)});
      }
    }
  // The sun, soft-edged, half behind the mountains.
  for (int32_t y = 100; y < horizon; ++y)
    for (int32_t x = 380; x < 560; ++x) {
      const double r = std::hypot(x - 470.0, y - 190.0);
      if (r < 70) {
        const double edge = std::clamp(70 - r, 0.0, 1.0);
        uint8_t* px = p.At(x, y);
        px[0] = Mix(px[0], 255, edge), px[1] = Mix(px[1], 235, edge), px[2] = Mix(px[2], 120, edge);
      }
    }
  // Two mountain ridges.
  for (int32_t x = 0; x < W; ++x) {
    const double far = 170 + 35 * std::sin(x * 0.013) + 18 * std::sin(x * 0.041 + 1);
    const double near = 215 + 25 * std::sin(x * 0.021 + 2) + 8 * std::sin(x * 0.11);
    for (int32_t y = int32_t(far); y < horizon; ++y)
      Set(p, x, y, y >= int32_t(near) ? Rgb{35, 30, 55} : Rgb{80, 70, 110});
  }
  // Colour bars along the bottom: every primary and secondary, hard edges.
  const Rgb bars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                       {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  for (int32_t i = 0; i < 8; ++i) FillRect(p, i * W / 8, H - 28, W / 8, 28, bars[i]);
  // A fine grid in the top-left corner: one-pixel lines, four apart.
  for (int32_t y = 12; y < 92; ++y)
    for (int32_t x = 12; x < 132; ++x)
      if (x % 4 == 0 || y % 4 == 0) Set(p, x, y, Rgb{230, 230, 240});
  OutlinedText(p, 170, 24, "FROM", 12, Rgb{255, 255, 255});
  DrawText(p, 12, H - 44, "Quick brown fox jumps over the lazy dog 0123456789", 2,
           Rgb{250, 250, 250});
  return p;
}

Picture BuiltinToPicture() {
  Picture p(W, H);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      // Radial gradient, purple at the centre to teal at the corners, with rings.
      const double r = std::hypot(x - W / 2.0, y - H / 2.0) / std::hypot(W / 2.0, H / 2.0);
      const bool ring = int(r * 24) % 4 == 0;
      Rgb c{Mix(150, 10, r), Mix(40, 140, r), Mix(170, 140, r)};
      if (ring) c = Rgb{Mix(c.r, 255, 0.25), Mix(c.g, 255, 0.25), Mix(c.b, 255, 0.25)};
      Set(p, x, y, c);
    }
  // Diagonal stripes across the left third.
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < 200; ++x)
      if ((x + y) / 12 % 2 == 0) Set(p, x, y, Rgb{250, 210, 40});
  // A checkerboard of 16-pixel squares on the right.
  for (int32_t y = 40; y < 200; ++y)
    for (int32_t x = 460; x < 620; ++x)
      Set(p, x, y, ((x - 460) / 16 + (y - 40) / 16) % 2 ? Rgb{20, 20, 20} : Rgb{240, 240, 240});
  // A hue wheel under it.
  for (int32_t y = 210; y < 330; ++y)
    for (int32_t x = 480; x < 600; ++x) {
      const double dx = x - 540.0, dy = y - 270.0, r = std::hypot(dx, dy);
      if (r < 58) {
        const Rgb hue = Hue((std::atan2(dy, dx) + std::numbers::pi) / (2 * std::numbers::pi));
        const double s = r / 58;
        Set(p, x, y, Rgb{Mix(255, hue.r, s), Mix(255, hue.g, s), Mix(255, hue.b, s)});
      }
    }
  OutlinedText(p, 230, 90, "TO", 16, Rgb{255, 250, 230});
  DrawText(p, 12, H - 26, "Pack my box with five dozen liquor jugs! ~#@%&*", 2, Rgb{255, 255, 255});
  return p;
}

}  // namespace orvplay
