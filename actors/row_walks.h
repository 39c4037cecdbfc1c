// The row walks the fade and the wipes run over a FrameCapture: which rows,
// how much of each and at what weight. The per-field arithmetic is the
// kernels' (kernels/pixel_kernels.h), in whichever kernel set is active.
//
// The asset's processor test picks between two families of walks, and the
// families differ in output, not in instructions: the fades of the second
// family mix in steps of 8 bytes instead of 4 (so a row that is not a whole
// number of steps keeps a different tail) and, at 16 bits, at the full
// weight of 256 instead of a 5-bit weight of 32. Every walk runs the same
// kernel set whichever family it belongs to.
#pragma once

#include <cstdint>

#include "actors/frame_capture.h"

namespace orv::actors {

// Every walk: the capture by value, then weight (fades), bandHeight,
// bandPosition and bandSelector (bands).
using BlendKernel = void (*)(FrameCapture capture, int32_t weight, int32_t bandHeight,
                             int32_t bandPosition, int32_t bandSelector);

// Fade: out = (a * (256 - w) + b * w) / 256 per field, w the weight held to
// 0..256, over the leading whole steps of each row. Source rows are packed.
//   Fade555Step4Weight32   5-5-5 pixels in pairs (4 bytes) at w & ~7, that is
//                          at the 5-bit weight w >> 3 of 32; source rows of
//                          captureColumns pixels
//   Fade555Step8Weight256  5-5-5 pixels in steps of 8 bytes at w
//   FadeBytesStep4         bytes in steps of 4 at w
//   FadeBytesStep8         bytes in steps of 8 at w
void Fade555Step4Weight32(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t);
void Fade555Step8Weight256(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t);
void FadeBytesStep4(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t);
void FadeBytesStep8(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t);

// Band: out = (b * (32 - m) + a * m) / 32 per field over the clipped band
// rows, each row over its whole length (m: the row's place in the band
// shifted down by bandSelector, held at 32). BandByDepth takes 5-5-5 fields
// below 24 bits and bytes above; Band555 and BandBytes take theirs at any
// depth.
void BandByDepth(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
                 int32_t bandSelector);
void Band555(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
             int32_t bandSelector);
void BandBytes(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
               int32_t bandSelector);

}  // namespace orv::actors
