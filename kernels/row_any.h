// The Any forms of the row primitives: a SIMD body over the longest part of
// the row that is a whole number of its steps, the portable form over the rest.
//
// Included only by the SIMD files, in an unnamed namespace on purpose: each
// file gets its own copy, built with that file's flags, and no copy can
// stand in for another at link time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/kernel_set.h"

namespace orv::kernels {
namespace {

// n counts units of kUnitBytes bytes (1 for bytes, 2 for 5-5-5 pixels);
// kWhole takes a positive multiple of kStep units.
template <ptrdiff_t kUnitBytes, ptrdiff_t kStep, MixBytesFn kWhole, MixBytesFn kRest>
void RowAny(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  const ptrdiff_t whole = n > 0 ? n - n % kStep : 0;
  if (whole > 0) kWhole(a, b, out, whole, w);
  const ptrdiff_t skip = whole * kUnitBytes;
  kRest(a + skip, b + skip, out + skip, n - whole, w);
}

// n counts pixels of kPixelBytes bytes; kWhole takes a positive multiple of
// kStep pixels.
template <ptrdiff_t kPixelBytes, ptrdiff_t kStep, TintFn kWhole, TintFn kRest>
void TintAny(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const ptrdiff_t whole = n > 0 ? n - n % kStep : 0;
  if (whole > 0) kWhole(source, destination, whole, keep);
  const ptrdiff_t skip = whole * kPixelBytes;
  kRest(source + skip, destination + skip, n - whole, keep);
}

}  // namespace
}  // namespace orv::kernels
