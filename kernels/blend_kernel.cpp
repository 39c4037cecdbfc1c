// The mixing kernels, transpositions and tint: the row walk, the band clipping and
// the stride rules. The arithmetic itself is the active kernel set's
// (kernel_dispatch.h); every form reduces to one of its two per-field mixes:
//
//   FadeRows32, FadeRows32Mmx   bytes,  weight w
//   FadeRows16                  5-5-5,  weight w & ~7  (its 5-bit weight w >> 3, of 32)
//   FadeRows16Mmx               5-5-5,  weight w
//   band rows                   from end to start at weight 8m: (b * (32 - m) + a * m) / 32
//                               equals (b * (256 - 8m) + a * 8m) / 256 exactly.
//
// The forms differ in their step (4 bytes portable, 8 bytes MMX) and thus in
// how much of a row that is not a whole number of steps they mix.
#include "kernels/blend_kernel.h"

#include "kernels/kernel_dispatch.h"

namespace orv::kernels {

namespace {

using orv::kernels::ActiveKernelSet;
using orv::kernels::KernelSet;
using orv::kernels::TintFn;
using orv::kernels::TransposeFn;

// How the bytes of a row divide into fields: each byte one, or 5-5-5 pixels.
enum class Layout { kBytes, k555 };

// Weights outside 0..256 would overflow the fields; hold them to the range.
uint32_t FadeWeight(int32_t weight) {
  return weight < 0 ? 0u : weight > 256 ? 256u : static_cast<uint32_t>(weight);
}

void MixRow(const KernelSet& set, Layout layout, const uint8_t* a, const uint8_t* b, uint8_t* out,
            ptrdiff_t bytes, uint32_t w) {
  if (layout == Layout::kBytes) {
    set.mixBytes(a, b, out, bytes, w);
  } else {
    set.mix555(a, b, out, bytes / 2, w);
  }
}

// Every row r: sources at r * sourceRow (packed), target at r * rowBytes,
// which may be less than a row's length; rows go in increasing order, so on
// overlap the later row's bytes remain. `mixed` leading bytes of each row are
// mixed: the whole steps of the form.
void FadeRows(const FrameCapture& c, ptrdiff_t sourceRow, ptrdiff_t mixed, Layout layout,
              uint32_t w) {
  if (mixed <= 0) return;
  const KernelSet& set = ActiveKernelSet();
  for (int32_t r = 0; r < c.captureRows; ++r) {
    MixRow(set, layout, c.startPixels + r * sourceRow, c.endPixels + r * sourceRow,
           c.targetPixels + static_cast<ptrdiff_t>(r) * c.rowBytes, mixed, w);
  }
}

// A buffer row's length as the kernels' pointer steps take it.
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
  const KernelSet& set = ActiveKernelSet();
  for (int64_t i = first; i <= last; ++i) {
    const ptrdiff_t r = static_cast<ptrdiff_t>(position + i);
    // A band taller than 32 << bandSelector would climb past 32; hold it there.
    const int64_t m = (i >> shift) < 32 ? (i >> shift) : 32;
    MixRow(set, layout, c.endPixels + r * length, c.startPixels + r * length,
           c.targetPixels + r * c.rowBytes, length, static_cast<uint32_t>(m) * 8);
  }
}

}  // namespace

void FadeRows16(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t) {
  const ptrdiff_t sourceRow = static_cast<ptrdiff_t>(c.captureColumns) * 2;
  FadeRows(c, sourceRow, (c.captureColumns >> 1) * 4, Layout::k555, FadeWeight(weight) & ~7u);
}

void FadeRows32(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t) {
  const ptrdiff_t length = LengthOf(c);
  FadeRows(c, length, length / 4 * 4, Layout::kBytes, FadeWeight(weight));
}

void FadeRows16Mmx(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t) {
  const ptrdiff_t length = LengthOf(c);
  FadeRows(c, length, length / 8 * 8, Layout::k555, FadeWeight(weight));
}

void FadeRows32Mmx(FrameCapture c, int32_t weight, int32_t, int32_t, int32_t) {
  const ptrdiff_t length = LengthOf(c);
  FadeRows(c, length, length / 8 * 8, Layout::kBytes, FadeWeight(weight));
}

void BandRows(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
              int32_t bandSelector) {
  const Layout layout = c.depth >= 24 ? Layout::kBytes : Layout::k555;
  BandRowsOf(c, layout, bandHeight, bandPosition, bandSelector);
}

void BandRows16Mmx(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
                   int32_t bandSelector) {
  BandRowsOf(c, Layout::k555, bandHeight, bandPosition, bandSelector);
}

void BandRows32Mmx(FrameCapture c, int32_t, int32_t bandHeight, int32_t bandPosition,
                   int32_t bandSelector) {
  BandRowsOf(c, Layout::kBytes, bandHeight, bandPosition, bandSelector);
}

void TransposeToColumns(const uint8_t* source, uint8_t* destination, int32_t columns, int32_t rows,
                        int32_t bytesPerPixel) {
  TransposeRowsToColumns(source, static_cast<ptrdiff_t>(columns) * bytesPerPixel, destination,
                         columns, rows, bytesPerPixel);
}

void TransposeRowsToColumns(const uint8_t* source, ptrdiff_t sourceRowBytes, uint8_t* destination,
                            int32_t columns, int32_t rows, int32_t bytesPerPixel) {
  if (columns <= 0 || rows <= 0) return;
  const TransposeFn transpose = SlotForPixelSize(ActiveKernelSet(), kTransposeSlots, bytesPerPixel);
  if (transpose == nullptr) return;
  transpose(source, sourceRowBytes, destination, static_cast<ptrdiff_t>(rows) * bytesPerPixel,
            columns, rows);
}

// The row distance as each pixel size takes it: 4-byte pixels round it down
// to whole pixels, 3-byte pixels use it as it is, 2-byte pixels as a 16-bit
// count of pixels.
void TransposeFromColumns(const uint8_t* source, uint8_t* destination, int32_t count, int32_t n,
                          int32_t bytesPerPixel, int32_t step) {
  if (count <= 0 || n <= 0) return;
  const TransposeFn transpose = SlotForPixelSize(ActiveKernelSet(), kTransposeSlots, bytesPerPixel);
  if (transpose == nullptr) return;
  ptrdiff_t stride = step;
  if (bytesPerPixel == 4) stride = static_cast<ptrdiff_t>(step >> 2) * 4;
  if (bytesPerPixel == 2) stride = static_cast<ptrdiff_t>((step >> 1) & 0xFFFF) * 2;
  const ptrdiff_t sourceRow = static_cast<ptrdiff_t>(count) * bytesPerPixel;
  const ptrdiff_t span = static_cast<ptrdiff_t>(n) * bytesPerPixel;
  // Target rows closer than a source row's column span overlap; there the
  // plain order decides which pixel remains.
  if (count > 1 && (stride < 0 ? -stride : stride) < span) {
    orv::kernels::TransposeInOrder(source, sourceRow, destination, stride, count, n, bytesPerPixel);
    return;
  }
  transpose(source, sourceRow, destination, stride, count, n);
}

void TintPixels(const uint8_t* source, uint8_t* destination, ptrdiff_t count, int32_t bytesPerPixel,
                uint32_t keep) {
  if (count <= 0) return;
  const TintFn tint = SlotForPixelSize(ActiveKernelSet(), kTintSlots, bytesPerPixel);
  if (tint != nullptr) tint(source, destination, count, keep);
}

}  // namespace orv::kernels
