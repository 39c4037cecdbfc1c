// The processor description an asset keeps and every actor it makes points
// at: which family of row walks the actors run (row_walks.h).
#pragma once

#include <cstdint>

#include "kernels/pixel_kernels.h"

namespace orv::actors {

struct CpuFeatures {
  int32_t mmx;     // 1: the row walks take their MMX forms
  int32_t tested;  // always 1
};
static_assert(sizeof(CpuFeatures) == 8);

// On x86 the processor's own answer; never capped by ORV_SIMD.
inline CpuFeatures ReadCpuFeatures() { return {kernels::RowWalksTakeMmx() ? 1 : 0, 1}; }

}  // namespace orv::actors
