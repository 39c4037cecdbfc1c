// The SIMD tints' division by 3, as a multiply. Included by the files
// compiled with SIMD flags: a constant only, no inline functions or templates.
#pragma once

#include <cstdint>

namespace orv::kernels {

// Exact division by 3 of channel sums up to 765, as the high half of a 16-bit
// product or a 32-bit product shifted down by 16: sum * 21846 / 65536 exceeds
// sum / 3 by sum / 98304 < 1 / 3, less than any sum / 3 lacks of the next
// whole number.
inline constexpr int16_t kThird = 21846;

}  // namespace orv::kernels
