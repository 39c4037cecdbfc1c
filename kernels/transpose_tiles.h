// The tile walk shared by the SIMD transpositions: tiles of kTile x kTile
// pixels moved in register blocks of kBlockRows source rows by kBlock
// columns (square unless told); the edges that fill no block go to `edges`,
// the portable form or the set below (SetBelow).
//
// Included only by the SIMD files. It sits in an unnamed namespace on
// purpose: each file gets its own copy, built with that file's flags, and no
// copy can stand in for another at link time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/kernel_set.h"

namespace orv::kernels {
namespace {

using BlockFn = void (*)(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                         ptrdiff_t dstStride);

template <int kBytes, int kBlock, int kTile, BlockFn block, int kBlockRows = kBlock>
void TransposeBlocks(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                     ptrdiff_t columns, ptrdiff_t rows, TransposeFn edges) {
  static_assert(kTile % kBlock == 0 && kTile % kBlockRows == 0, "tiles of whole blocks");
  const ptrdiff_t fullRows = rows - rows % kBlockRows;
  const ptrdiff_t fullColumns = columns - columns % kBlock;
  for (ptrdiff_t i0 = 0; i0 < fullRows; i0 += kTile) {
    const ptrdiff_t i1 = i0 + kTile < fullRows ? i0 + kTile : fullRows;
    for (ptrdiff_t j0 = 0; j0 < fullColumns; j0 += kTile) {
      const ptrdiff_t j1 = j0 + kTile < fullColumns ? j0 + kTile : fullColumns;
      // The next tile's source, asked for now: its rows are too many short
      // runs for the processor's own prefetch, and a frame that has left
      // the caches would otherwise be waited for a line at a time.
      if (j1 < fullColumns) {
        const ptrdiff_t bytes =
            ((j1 + kTile < fullColumns ? j1 + kTile : fullColumns) - j1) * kBytes;
        for (ptrdiff_t i = i0; i < i1; ++i) {
          const uint8_t* row = src + i * srcStride + j1 * kBytes;
          for (ptrdiff_t b = 0; b < bytes; b += 64) __builtin_prefetch(row + b);
        }
      }
      for (ptrdiff_t i = i0; i < i1; i += kBlockRows) {
        for (ptrdiff_t j = j0; j < j1; j += kBlock) {
          block(src + i * srcStride + j * kBytes, srcStride, dst + j * dstStride + i * kBytes,
                dstStride);
        }
      }
    }
  }
  if (fullColumns < columns) {
    edges(src + fullColumns * kBytes, srcStride, dst + fullColumns * dstStride, dstStride,
          columns - fullColumns, rows);
  }
  if (fullRows < rows) {
    edges(src + fullRows * srcStride, srcStride, dst + fullRows * kBytes, dstStride, fullColumns,
          rows - fullRows);
  }
}

}  // namespace
}  // namespace orv::kernels
