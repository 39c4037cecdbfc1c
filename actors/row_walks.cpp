// The row walks, the band clipping and the weight rules. Every walk reduces to
// one of the kernels' two per-field mixes:
//
//   FadeBytesStep4, FadeBytesStep8   bytes,  weight w
//   Fade555Step4Weight32             5-5-5,  weight w & ~7  (its 5-bit weight w >> 3, of 32)
//   Fade555Step8Weight256            5-5-5,  weight w
//   band rows                        from end to start at weight 8m: (b * (32 - m) + a * m) / 32
//                                    equals (b * (256 - 8m) + a * 8m) / 256 exactly.
#include "actors/row_walks.h"

#include <cstddef>

#include "kernels/pixel_kernels.h"

namespace orv::actors {

namespace {

// How the bytes of a row divide into fields: each byte one, or 5-5-5 pixels.
enum class Layout { kBytes, k555 };

// Weights outside 0..256 would overflow the fields; hold them to the range.
uint32_t FadeWeight(int32_t weight) {
  return weight < 0 ? 0u : weight > 256 ? 256u : static_cast<uint32_t>(weight);
}

void MixRow(Layout layout, const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t bytes,
            uint32_t w) {
  if (layout == Layout::kBytes) {
    kernels::MixBytes(a, b, out, bytes, w);
  } else {
    kernels::Mix555(a, b, out, bytes / 2, w);
  }
}

// Every row r: sources at r * sourceRow (packed), target at r * rowBytes,
// which may be less than a row's length; rows go in increasing order, so on
// overlap the later row's bytes remain. `mixed` leading bytes of each row are
// mixed: the whole steps of the walk.
void FadeRows(const FrameCapture& c, ptrdiff_t sourceRow, ptrdiff_t mixed, Layout layout,
              uint32_t w) {
  if (mixed <= 0) return;
  for (int32_t r = 0; r < c.captureRows; ++r) {
    MixRow(layout, c.startPixels + r * sourceRow, c.endPixels + r * sourceRow,
           c.targetPixels + static_cast<ptrdiff_t>(r) * c.rowBytes, mixed, w);
  }
}

// A buffer row's length as the pointer steps take it.
ptrdiff_t LengthOf(const FrameCapture& c) { return static_cast<ptrdiff_t>(RowLength(c)); }

// Band index i covers buffer row bandPosition + i at row weight i >> bandSelector,
// for i from 0 (or the first index on row 0) to bandHeight (or the last
// index on the last row). Each row is mixed over its whole length, also when
// that is not a whole number of steps.
void BandRowsOf(const FrameCapture& c, Layout layout, int32_t bandHeight, int32_t bandPosition,
                int32_t bandSelector) {
  const int64_t position = bandPosition;
  int64_t last = bandHeight;
  if (position + bandHeight >= c.captureRows) last = c.captureRows - position - 1;
  if (last < 0) return;
  const int64_t first = position >= 0 ? 0 : -position;
  if (first > last) return;
  const ptrdiff_t length = LengthOf(c);
  if (length <= 0) return;
  const unsigned shift = static_cast<unsigned>(bandSelector) & 31u;
  for (int64_t i = first; i <= last; ++i) {
    const ptrdiff_t r = static_cast<ptrdiff_t>(position + i);
    // A band taller than 32 << bandSelector would climb past 32; hold it there.
    const int64_t m = (i >> shift) < 32 ? (i >> shift) : 32;
    MixRow(layout, c.endPixels + r * length, c.startPixels + r * length,
           c.targetPixels + r * c.rowBytes, length, static_cast<uint32_t>(m) * 8);
  }
}

}  // namespace

void Fade555Step4Weight32(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t) {
  const ptrdiff_t sourceRow = static_cast<ptrdiff_t>(c.captureColumns) * 2;
  FadeRows(c, sourceRow, (c.captureColumns >> 1) * 4, Layout::k555, FadeWeight(weight) & ~7u);
}

void Fade555Step8Weight256(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t) {
  const ptrdiff_t length = LengthOf(c);
  FadeRows(c, length, length / 8 * 8, Layout::k555, FadeWeight(weight));
}

void FadeBytesStep4(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t) {
  const ptrdiff_t length = LengthOf(c);
  FadeRows(c, length, length / 4 * 4, Layout::kBytes, FadeWeight(weight));
}

void FadeBytesStep8(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t) {
  const ptrdiff_t length = LengthOf(c);
  FadeRows(c, length, length / 8 * 8, Layout::kBytes, FadeWeight(weight));
}

void BandByDepth(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
                 int32_t bandSelector) {
  const Layout layout = c.depth >= 24 ? Layout::kBytes : Layout::k555;
  BandRowsOf(c, layout, bandHeight, bandPosition, bandSelector);
}

void Band555(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
             int32_t bandSelector) {
  BandRowsOf(c, Layout::k555, bandHeight, bandPosition, bandSelector);
}

void BandBytes(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
               int32_t bandSelector) {
  BandRowsOf(c, Layout::kBytes, bandHeight, bandPosition, bandSelector);
}

}  // namespace orv::actors
