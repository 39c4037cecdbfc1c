// The row primitives of one kernel set. Every mixing kernel of pixel_kernels.h
// comes down to one of two per-field mixes at a weight 0..256, every
// transposition to one tiled block move and the colour transition's tint to
// one grey per pixel, so a set only has these to provide.
// A set fills the slots it speeds up and leaves the others empty; the
// dispatcher fills them from the set below it (kernel_dispatch.h).
//
// This header is included by the files compiled with SIMD flags: it must stay
// free of inline functions and templates, or a copy built for a newer
// processor could be the one the linker keeps for everybody.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv::kernels {

// n bytes: out = (a * (256 - w) + b * w) >> 8 per byte, w in 0..256.
using MixBytesFn = void (*)(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n,
                            uint32_t w);
// n 5-5-5 pixels (2 bytes each): the same per 5-bit field; bit 15 comes out 0.
using Mix555Fn = void (*)(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n,
                          uint32_t w);
// Destination row j, position i = source row i, position j, for j < columns
// and i < rows; strides in bytes.
// The destination pixels must not overlap each other or the source.
using TransposeFn = void (*)(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                             ptrdiff_t dstStride, ptrdiff_t columns, ptrdiff_t rows);
// n pixels: grey = (b + g + r) / 3, rounded down, in every channel, and-ed
// with `keep`, a pixel of channel masks (0 or all ones per channel: bytes, or
// 5-bit fields with bit 15 zero); the fourth byte of a 4-byte pixel is
// copied. The destination must not overlap the source.
using TintFn = void (*)(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep);

struct KernelSet {
  const char* name = nullptr;  // "c", "mmx", "sse2", ...: also its ORV_SIMD spelling
  MixBytesFn mixBytes = nullptr;
  Mix555Fn mix555 = nullptr;
  TransposeFn transpose2 = nullptr;  // by bytes per pixel
  TransposeFn transpose3 = nullptr;
  TransposeFn transpose4 = nullptr;
  TintFn tint2 = nullptr;  // by bytes per pixel
  TintFn tint3 = nullptr;
  TintFn tint4 = nullptr;
};

// Portable primitives: the portable set, which fills every slot. The SIMD
// sets finish odd row ends and tile edges with them.
void MixBytesC(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w);
void Mix555C(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w);
void Transpose2C(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                 ptrdiff_t columns, ptrdiff_t rows);
void Transpose3C(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                 ptrdiff_t columns, ptrdiff_t rows);
void Transpose4C(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                 ptrdiff_t columns, ptrdiff_t rows);
void Tint2C(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep);
void Tint3C(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep);
void Tint4C(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep);
// The plain order, source row by source row, for destinations whose pixels
// overlap: there the last write must win, as it would in that order.
void TransposeInOrder(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                      ptrdiff_t columns, ptrdiff_t rows, int32_t bytesPerPixel);

extern const KernelSet kKernelSetC;

// The set below `own` (a set as its file defines it) in the ladder the
// kernels run with, resolved: the one that fills own's empty slots, the next
// still in under ORV_SIMD. For work a set hands down, as the AVX2 2-byte turn
// hands down its edges; the portable set for a set not in that ladder.
const KernelSet& SetBelow(const KernelSet& own);

}  // namespace orv::kernels
