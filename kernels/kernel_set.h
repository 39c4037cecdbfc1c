// The row primitives of one SIMD level. Every mixing kernel of blend_kernel.h
// comes down to one of two per-field mixes at a weight 0..256, and every
// transposition to one tiled block move, so a level only has to provide these.
//
// This header is included by the files compiled with SIMD flags: it must stay
// free of inline functions and templates, or a copy built for a newer
// processor could be the one the linker keeps for everybody.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv::kernels {

enum class SimdLevel : int32_t { kC = 0, kMmx = 1, kSse2 = 2, kAvx2 = 3 };

// n bytes: out = (a * (256 - w) + b * w) >> 8 per byte, w in 0..256.
using MixBytesFn = void (*)(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n,
                            uint32_t w);
// n 5-5-5 pixels (2 bytes each): the same per 5-bit field; bit 15 comes out 0.
using Mix555Fn = void (*)(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n,
                          uint32_t w);
// Destination row j, position i = source row i, position j, for i < rows and
// j < columns; strides in bytes.
// The destination pixels must not overlap each other or the source.
using TransposeFn = void (*)(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                             ptrdiff_t dstStride, ptrdiff_t rows, ptrdiff_t columns);

struct KernelSet {
  const char* name;  // "c", "mmx", "sse2", "avx2": also the ORV_SIMD spelling
  SimdLevel level;
  MixBytesFn mixBytes;
  Mix555Fn mix555;
  TransposeFn transpose2;  // by bytes per pixel
  TransposeFn transpose3;
  TransposeFn transpose4;
};

// Portable primitives. The SIMD sets finish odd row ends and tile edges with
// them, and use them whole where they have nothing faster.
void MixBytesC(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w);
void Mix555C(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w);
void Transpose2C(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                 ptrdiff_t rows, ptrdiff_t columns);
void Transpose3C(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                 ptrdiff_t rows, ptrdiff_t columns);
void Transpose4C(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                 ptrdiff_t rows, ptrdiff_t columns);
// The plain order, source row by source row, for destinations whose pixels
// overlap: there the last write must win, as it would in that order.
void TransposeInOrder(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                      ptrdiff_t rows, ptrdiff_t columns, int32_t bytesPerPixel);

// The SSE2 2-byte block move; the AVX2 set has nothing wider for 2 bytes.
void Transpose2Sse2(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                    ptrdiff_t rows, ptrdiff_t columns);

extern const KernelSet kKernelSetC;
extern const KernelSet kKernelSetMmx;   // defined only in x86 builds
extern const KernelSet kKernelSetSse2;  // defined only in x86 builds
extern const KernelSet kKernelSetAvx2;  // defined only in x86 builds

}  // namespace orv::kernels
