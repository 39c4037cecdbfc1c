// Pixel kernels: the fade and band mixers, the transpositions of the
// horizontal wipes and the processor test that picks between forms.
#pragma once

#include <cstddef>
#include <cstdint>

#include "actors/frame_capture.h"

namespace orv::kernels {

// The kernels mix the frames an actor captured; the record is the actors'.
using actors::FrameCapture;

// Every mixing kernel: the capture by value, then weight (fade kernels),
// bandHeight, bandPosition and bandSelector (band kernels).
using BlendKernel = void (*)(FrameCapture capture, int32_t weight, int32_t bandHeight,
                             int32_t bandPosition, int32_t bandSelector);

// The names tell the row walks apart, not the instructions: every form, the
// ...Mmx ones included, runs the arithmetic of whichever kernel set is active
// (kernel_dispatch.h); they differ in how much of a row they mix and, for the
// 16-bit fades, in the weight's precision.
//
// Fade: out = (a * (256 - w) + b * w) / 256 per field (FadeRows16: 5-bit weight).
void FadeRows16(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t);
void FadeRows32(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t);
void FadeRows16Mmx(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t);
void FadeRows32Mmx(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t);

// Band: out = (b * (32 - m) + a * m) / 32 per field over the clipped band rows.
void BandRows(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
              int32_t bandSelector);
void BandRows16Mmx(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
                   int32_t bandSelector);
void BandRows32Mmx(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
                   int32_t bandSelector);

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

struct CpuFeatures {
  int32_t mmx;     // 1 when the processor has MMX
  int32_t tested;  // always 1
};
static_assert(sizeof(CpuFeatures) == 8);

int32_t HasMmx();
CpuFeatures ReadCpuFeatures();

}  // namespace orv::kernels
