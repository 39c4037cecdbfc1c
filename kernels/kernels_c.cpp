// The portable set: 32-bit SWAR words, two multiplies per word, and
// cache-tiled transpositions. Every processor runs these; the SIMD sets use
// them for the odd ends of rows and tiles, and whole where they have nothing
// faster.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "kernels/kernel_set.h"

namespace orv::kernels {

namespace {

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

uint32_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

void Store16(uint8_t* p, uint32_t v) {
  const auto v16 = static_cast<uint16_t>(v);
  std::memcpy(p, &v16, 2);
}

// One 5-bit field at weight w of 256: a * 256 + (b - a) * w, scaled down.
uint32_t MixField(uint32_t a, uint32_t b, uint32_t w) {
  return static_cast<uint32_t>(static_cast<int32_t>(a << 8) +
                               (static_cast<int32_t>(b) - static_cast<int32_t>(a)) *
                                   static_cast<int32_t>(w)) >>
         8;
}

uint32_t Mix555Pixel(uint32_t a, uint32_t b, uint32_t w) {
  return MixField(a & 31, b & 31, w) | MixField((a >> 5) & 31, (b >> 5) & 31, w) << 5 |
         MixField((a >> 10) & 31, (b >> 10) & 31, w) << 10;
}

// Pixels are opaque runs of kBytes bytes, moved as they are: a 3-byte pixel
// is one 3-byte copy, which never touches the byte after it.
template <int kBytes>
void MovePixel(uint8_t* d, const uint8_t* s) {
  std::memcpy(d, s, kBytes);
}

// 16 x 16 pixel tiles: a tile's source rows and destination rows stay in
// cache while the tile is moved, instead of one cache line per pixel written.
template <int kBytes>
void TransposeTiled(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                    ptrdiff_t columns, ptrdiff_t rows) {
  constexpr ptrdiff_t kTile = 16;
  for (ptrdiff_t i0 = 0; i0 < rows; i0 += kTile) {
    const ptrdiff_t i1 = std::min(rows, i0 + kTile);
    for (ptrdiff_t j0 = 0; j0 < columns; j0 += kTile) {
      const ptrdiff_t j1 = std::min(columns, j0 + kTile);
      for (ptrdiff_t i = i0; i < i1; ++i) {
        const uint8_t* s = src + i * srcStride + j0 * kBytes;
        uint8_t* d = dst + j0 * dstStride + i * kBytes;
        for (ptrdiff_t j = j0; j < j1; ++j, s += kBytes, d += dstStride) MovePixel<kBytes>(d, s);
      }
    }
  }
}

template <int kBytes>
void TransposeRowByRow(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                       ptrdiff_t columns, ptrdiff_t rows) {
  for (ptrdiff_t i = 0; i < rows; ++i) {
    const uint8_t* s = src + i * srcStride;
    uint8_t* d = dst + i * kBytes;
    for (ptrdiff_t j = 0; j < columns; ++j, s += kBytes, d += dstStride) MovePixel<kBytes>(d, s);
  }
}

}  // namespace

// Bytes 0 and 2 of a word mix in the low set, bytes 1 and 3 in the high set:
// each byte has 8 free bits above it, so a * 256 + (b - a) * w never spills
// into its neighbour, and the wrap of a negative difference cancels in the sum.
void MixBytesC(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  ptrdiff_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const uint32_t A = Load32(a + i);
    const uint32_t B = Load32(b + i);
    const uint32_t al = A & 0x00FF00FFu;
    const uint32_t bl = B & 0x00FF00FFu;
    const uint32_t ah = (A >> 8) & 0x00FF00FFu;
    const uint32_t bh = (B >> 8) & 0x00FF00FFu;
    const uint32_t low = (((bl - al) * w + (al << 8)) >> 8) & 0x00FF00FFu;
    const uint32_t high = ((bh - ah) * w + (ah << 8)) & 0xFF00FF00u;
    Store32(out + i, low | high);
  }
  for (; i < n; ++i) out[i] = static_cast<uint8_t>(MixField(a[i], b[i], w));
}

// A word holds two pixels. At weights that are multiples of 8 the six fields
// mix in two interleaved sets, M0 = 0x03E07C1F and M1 = 0x7C1F03E0, at v = w / 8
// of 32: a field's sum a * 32 + (b - a) * v needs 10 bits and the fields of a
// set are at least 10 bits apart. Finer weights need 13 bits per field, more
// than a word can space out, so those go pixel by pixel.
void Mix555C(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  ptrdiff_t i = 0;
  if ((w & 7) == 0) {
    constexpr uint32_t kM0 = 0x03E07C1Fu;
    constexpr uint32_t kM1 = 0x7C1F03E0u;
    constexpr uint32_t kM1Low = kM1 >> 5;
    const uint32_t v = w >> 3;
    for (; i + 2 <= n; i += 2) {
      const uint32_t A = Load32(a + 2 * i);
      const uint32_t B = Load32(b + 2 * i);
      const uint32_t a0 = A & kM0;
      const uint32_t b0 = B & kM0;
      const uint32_t a1 = (A >> 5) & kM1Low;
      const uint32_t b1 = (B >> 5) & kM1Low;
      const uint32_t low = (((b0 - a0) * v + (a0 << 5)) >> 5) & kM0;
      const uint32_t high = ((b1 - a1) * v + (a1 << 5)) & kM1;
      Store32(out + 2 * i, low | high);
    }
  }
  for (; i < n; ++i) Store16(out + 2 * i, Mix555Pixel(Load16(a + 2 * i), Load16(b + 2 * i), w));
}

void Transpose2C(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                 ptrdiff_t columns, ptrdiff_t rows) {
  TransposeTiled<2>(src, srcStride, dst, dstStride, columns, rows);
}

void Transpose3C(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                 ptrdiff_t columns, ptrdiff_t rows) {
  TransposeTiled<3>(src, srcStride, dst, dstStride, columns, rows);
}

void Transpose4C(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                 ptrdiff_t columns, ptrdiff_t rows) {
  TransposeTiled<4>(src, srcStride, dst, dstStride, columns, rows);
}

// The grey of three channels: their mean, rounded down.
uint32_t Grey(uint32_t a, uint32_t b, uint32_t c) { return (a + b + c) / 3u; }

void Tint2C(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  for (ptrdiff_t i = 0; i < n; ++i) {
    const uint32_t v = Load16(source + 2 * i);
    Store16(destination + 2 * i, Grey(v >> 10 & 31, v >> 5 & 31, v & 31) * 0x0421u & keep);
  }
}

void Tint3C(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  for (ptrdiff_t i = 0; i < 3 * n; i += 3) {
    const uint32_t grey = Grey(source[i], source[i + 1], source[i + 2]);
    destination[i] = static_cast<uint8_t>(grey & keep);
    destination[i + 1] = static_cast<uint8_t>(grey & keep >> 8);
    destination[i + 2] = static_cast<uint8_t>(grey & keep >> 16);
  }
}

// A pixel at a time as one word, which the compiler can take several at a time.
void Tint4C(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  for (ptrdiff_t i = 0; i < 4 * n; i += 4) {
    const uint32_t v = Load32(source + i);
    const uint32_t grey = Grey(v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF);
    Store32(destination + i, (grey * 0x010101u & keep) | (v & 0xFF000000u));
  }
}

void TransposeInOrder(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                      ptrdiff_t columns, ptrdiff_t rows, int32_t bytesPerPixel) {
  // By bytes per pixel, from 2.
  constexpr TransposeFn kInOrder[] = {TransposeRowByRow<2>, TransposeRowByRow<3>,
                                      TransposeRowByRow<4>};
  const auto index = static_cast<size_t>(bytesPerPixel) - 2;
  if (index < std::size(kInOrder)) kInOrder[index](src, srcStride, dst, dstStride, columns, rows);
}

const KernelSet kKernelSetC = {.name = "c",
                               .mixBytes = MixBytesC,
                               .mix555 = Mix555C,
                               .transpose2 = Transpose2C,
                               .transpose3 = Transpose3C,
                               .transpose4 = Transpose4C,
                               .tint2 = Tint2C,
                               .tint3 = Tint3C,
                               .tint4 = Tint4C};

}  // namespace orv::kernels
