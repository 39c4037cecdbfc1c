// The row mixes, transpositions and tint over plain pointers: the stride
// rules; the arithmetic itself is the active kernel set's (kernel_dispatch.h).
// And the answers about MMX, for every architecture.
#include "kernels/pixel_kernels.h"

#include "kernels/kernel_dispatch.h"

namespace orv::kernels {

void MixBytes(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  ActiveKernelSet().mixBytes(a, b, out, n, w);
}

void Mix555(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  ActiveKernelSet().mix555(a, b, out, n, w);
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
    TransposeInOrder(source, sourceRow, destination, stride, count, n, bytesPerPixel);
    return;
  }
  transpose(source, sourceRow, destination, stride, count, n);
}

bool ProcessorHasMmx() {
  const ProcessorTest test = ArchitectureMmxTest();
  return test != nullptr && test();
}

// The one place that decides what a build for a processor other than x86
// draws: one whose architecture has no MMX test.
bool RowWalksTakeMmx() {
  const ProcessorTest test = ArchitectureMmxTest();
  return test == nullptr || test();
}

void TintPixels(const uint8_t* source, uint8_t* destination, ptrdiff_t count, int32_t bytesPerPixel,
                uint32_t keep) {
  if (count <= 0) return;
  const TintFn tint = SlotForPixelSize(ActiveKernelSet(), kTintSlots, bytesPerPixel);
  if (tint != nullptr) tint(source, destination, count, keep);
}

}  // namespace orv::kernels
