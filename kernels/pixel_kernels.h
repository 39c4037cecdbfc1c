// Pixel kernels over plain pointers: one row's mix, the transpositions of the
// horizontal wipes and the colour transition's tint, each run in whichever
// kernel set is active (kernel_dispatch.h); and the answers about MMX.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv::kernels {

// One row of n bytes: out = (a * (256 - w) + b * w) >> 8 per byte, w in 0..256.
void MixBytes(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w);
// One row of n 5-5-5 pixels (2 bytes each): the same per 5-bit field; bit 15
// comes out 0.
void Mix555(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w);

// Column order: destination row j, position i = source row i, position j.
void TransposeToColumns(const uint8_t* source, uint8_t* destination, int32_t columns, int32_t rows,
                        int32_t bytesPerPixel);
// The same from source rows sourceRowBytes apart, such as an image's rows.
void TransposeRowsToColumns(const uint8_t* source, ptrdiff_t sourceRowBytes, uint8_t* destination,
                            int32_t columns, int32_t rows, int32_t bytesPerPixel);
// Source row k becomes target column k; its pixel i lands on memory row i.
void TransposeFromColumns(const uint8_t* source, uint8_t* destination, int32_t count, int32_t n,
                          int32_t bytesPerPixel, int32_t step);

// The colour transition's one-colour copy of count packed pixels of 2, 3 or 4
// bytes (others: nothing): each pixel's grey, (b + g + r) / 3 rounded down, in
// the channels `keep` has all ones in (a pixel of channel masks, 5-bit fields
// for 2 bytes); a 4-byte pixel's fourth byte is copied. No overlap.
void TintPixels(const uint8_t* source, uint8_t* destination, ptrdiff_t count, int32_t bytesPerPixel,
                uint32_t keep);

// Whether the processor has MMX, as the processor itself answers: the
// architecture's MMX test (kernel_dispatch.h), no where it has none. Built
// without SIMD flags, it runs on every processor; the ladder's MMX rung asks
// the same question, and the about box shows the answer.
bool ProcessorHasMmx();

// Whether the actors' row walks take their MMX forms (at 16 bits, the fade's
// 8-bit weights instead of its 5-bit ones). Where the architecture has an MMX
// test, the processor's answer. Any other build (WebAssembly, a portable one)
// previews the DLL as it plays on a processor with MMX, and so draws its
// frames: yes. It never follows ORV_SIMD: what the asset records from it
// picks the row walks, whose output must not change with the cap.
bool RowWalksTakeMmx();

}  // namespace orv::kernels
