#include "tools/picture.h"

#include <algorithm>
#include <cstdlib>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace orvplay {

namespace {
// A field of n bits back to 8 bits by repeating its high bits below it.
inline uint8_t Widen(uint32_t v, int bits) {
  uint32_t out = v << (8 - bits);
  for (int shift = bits; shift < 8; shift += bits) out |= out >> shift;
  return static_cast<uint8_t>(out);
}
}  // namespace

void* AllocateFrameBytes(size_t bytes) {
  void* block = nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr size_t kHugePage = size_t(2) << 20;
  if (bytes >= kHugePage && bytes <= SIZE_MAX - kHugePage) {
    block = std::aligned_alloc(kHugePage, (bytes + kHugePage - 1) / kHugePage * kHugePage);
    // Only advice: where the system grants no huge pages, small ones serve.
    if (block) madvise(block, bytes, MADV_HUGEPAGE);
  }
#endif
  if (!block) block = std::malloc(bytes ? bytes : 1);
  if (!block) throw std::bad_alloc();
  return block;
}

void FreeFrameBytes(void* block) noexcept { std::free(block); }

std::string PictureSizeProblem(const std::string& name, int64_t width, int64_t height) {
  const std::string asked = name + ": " + std::to_string(width) + " x " + std::to_string(height);
  if (width < 1 || height < 1) return asked + " holds no pixels";
  if (width > kMaxSide || height > kMaxSide)
    return asked + " is larger than the " + std::to_string(kMaxSide) + " x " +
           std::to_string(kMaxSide) + " limit";
  if (width * height > kMaxPixels)
    return asked + " has " + std::to_string(width * height) + " pixels, more than the limit of " +
           std::to_string(kMaxPixels) + " (8192 x 8192)";
  return "";
}

bool IsStageDepth(int32_t depth) { return depth == 8 || depth == 16 || depth == 24 || depth == 32; }

void PackRow(const uint8_t* rgb, int32_t width, int32_t depth, uint8_t* row) {
  // One loop per depth, as in Unpack below.
  switch (depth) {
    case 32:
      for (int32_t x = 0; x < width; ++x, rgb += 3, row += 4)
        row[0] = rgb[2], row[1] = rgb[1], row[2] = rgb[0], row[3] = 0;
      break;
    case 24:
      for (int32_t x = 0; x < width; ++x, rgb += 3, row += 3)
        row[0] = rgb[2], row[1] = rgb[1], row[2] = rgb[0];
      break;
    case 16:
      for (int32_t x = 0; x < width; ++x, rgb += 3, row += 2) {
        const uint32_t v = uint32_t(rgb[0] >> 3) << 10 | uint32_t(rgb[1] >> 3) << 5 | rgb[2] >> 3;
        row[0] = uint8_t(v), row[1] = uint8_t(v >> 8);
      }
      break;
    default:
      for (int32_t x = 0; x < width; ++x, rgb += 3)
        *row++ = uint8_t((rgb[0] & 0xE0) | (rgb[1] >> 3 & 0x1C) | (rgb[2] >> 6));
      break;
  }
}

namespace {

// A row of the stage's pixels to R, G, B, and an opaque alpha with four
// channels. One loop per depth, so that each stays simple enough to vectorise.
template <int kChannels>
void Unpack(const uint8_t* row, int32_t width, int32_t depth, uint8_t* out) {
  auto put = [&out](uint32_t r, uint32_t g, uint32_t b) {
    out[0] = uint8_t(r), out[1] = uint8_t(g), out[2] = uint8_t(b);
    if constexpr (kChannels == 4) out[3] = 255;
    out += kChannels;
  };
  switch (depth) {
    case 32:
      for (int32_t x = 0; x < width; ++x, row += 4) put(row[2], row[1], row[0]);
      break;
    case 24:
      for (int32_t x = 0; x < width; ++x, row += 3) put(row[2], row[1], row[0]);
      break;
    case 16:
      for (int32_t x = 0; x < width; ++x, row += 2) {
        const uint32_t v = uint32_t(row[0] | row[1] << 8);
        const uint32_t r = v >> 10 & 31, g = v >> 5 & 31, b = v & 31;
        put(r << 3 | r >> 2, g << 3 | g >> 2, b << 3 | b >> 2);
      }
      break;
    default:
      for (int32_t x = 0; x < width; ++x, ++row)
        put(Widen(*row >> 5, 3), Widen(*row >> 2 & 7, 3), Widen(*row & 3, 2));
      break;
  }
}

}  // namespace

void UnpackRow(const uint8_t* row, int32_t width, int32_t depth, uint8_t* rgb) {
  Unpack<3>(row, width, depth, rgb);
}

void UnpackRowRgba(const uint8_t* row, int32_t width, int32_t depth, uint8_t* rgba) {
  Unpack<4>(row, width, depth, rgba);
}

Picture Shrink(const Picture& source, int32_t width, int32_t height) {
  Picture out(width, height, Picture::Unset{});
  for (int32_t y = 0; y < height; ++y) {
    const int32_t y0 = int32_t(int64_t(y) * source.height / height);
    const int32_t y1 = std::max(y0 + 1, int32_t(int64_t(y + 1) * source.height / height));
    for (int32_t x = 0; x < width; ++x) {
      const int32_t x0 = int32_t(int64_t(x) * source.width / width);
      const int32_t x1 = std::max(x0 + 1, int32_t(int64_t(x + 1) * source.width / width));
      uint32_t sum[3] = {0, 0, 0};
      for (int32_t sy = y0; sy < y1; ++sy)
        for (int32_t sx = x0; sx < x1; ++sx)
          for (int c = 0; c < 3; ++c) sum[c] += source.At(sx, sy)[c];
      const uint32_t n = uint32_t((y1 - y0) * (x1 - x0));
      for (int c = 0; c < 3; ++c) out.At(x, y)[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
    }
  }
  return out;
}

}  // namespace orvplay
