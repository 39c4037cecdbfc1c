// The row walk tests' pictures: two random packed source frames and a
// target with guard bytes, the walks by what they do, and a reference written
// straight from the per-field formulas.
#pragma once

#include <cstdint>
#include <vector>

#include "actors/row_walks.h"
#include "tests/kernels/kernel_test_support.h"

namespace kt {

using orv::actors::BlendKernel;
using orv::actors::FrameCapture;

struct Shape {
  int32_t bytesPerPixel;
  int32_t depth;
  int32_t rows;
  int32_t columns;
  int32_t rowBytes;  // target row distance; may be less than a row's length
};

// Two random packed source frames and a random target with guard bytes
// around the rows the kernels may write.
class Scene {
 public:
  Scene(Rng& rng, const Shape& shape, int32_t targetMisalign = 0);
  const Shape& shape() const { return shape_; }
  ptrdiff_t rowLength() const { return rowLength_; }
  uint8_t* start() const { return start_.data(); }
  uint8_t* end() const { return end_.data(); }

  // The record the kernels receive, over the live target.
  FrameCapture Capture() const;
  // The same sources, over `expected` (a copy of the initial target).
  FrameCapture CaptureOver(std::vector<uint8_t>& expected) const;
  const std::vector<uint8_t>& initialTarget() const { return initialTarget_; }
  std::vector<uint8_t>& target() { return target_; }
  void ResetTarget() { target_ = initialTarget_; }
  ptrdiff_t targetOrigin() const { return origin_; }

  // For tests that write their own pixels into the sources: takes the
  // sources as they are now as the bytes Check expects to find.
  void AcceptSources();

  // Every pixel of the start frame a and of the end frame b (2 bytes each
  // when sixteen, 4 otherwise); the first target pixel, the same size.
  void FillBoth(uint32_t a, uint32_t b, bool sixteen);
  uint32_t FirstTargetPixel(bool sixteen) const;

  // Target (guards included) as expected, and sources untouched.
  testing::AssertionResult Check(const std::vector<uint8_t>& expected) const;

 private:
  Shape shape_;
  ptrdiff_t rowLength_;
  GuardedBytes start_;
  GuardedBytes end_;
  std::vector<uint8_t> startCopy_;
  std::vector<uint8_t> endCopy_;
  std::vector<uint8_t> initialTarget_;
  std::vector<uint8_t> target_;
  ptrdiff_t origin_ = 0;
};

enum class Form {
  kFade555Step4Weight32,
  kFadeBytesStep4,
  kFade555Step8Weight256,
  kFadeBytesStep8,
  kBandByDepth,
  kBand555,
  kBandBytes
};

// A walk by what it does; its name is the one the bench uses.
struct KernelCase {
  const char* name;
  BlendKernel kernel;
  Form form;
};

inline constexpr KernelCase kFadeWalks[] = {
    {"Fade555Step4Weight32", orv::actors::Fade555Step4Weight32, Form::kFade555Step4Weight32},
    {"FadeBytesStep4", orv::actors::FadeBytesStep4, Form::kFadeBytesStep4},
    {"Fade555Step8Weight256", orv::actors::Fade555Step8Weight256, Form::kFade555Step8Weight256},
    {"FadeBytesStep8", orv::actors::FadeBytesStep8, Form::kFadeBytesStep8},
};

inline constexpr KernelCase kBandWalks[] = {
    {"BandByDepth", orv::actors::BandByDepth, Form::kBandByDepth},
    {"Band555", orv::actors::Band555, Form::kBand555},
    {"BandBytes", orv::actors::BandBytes, Form::kBandBytes},
};

bool IsSixteenBit(Form form);

// Per-field arithmetic: (a * (scale - w) + b * w) / scale, rounded down.
uint32_t MixField(uint32_t a, uint32_t b, uint32_t w, uint32_t scale);
// Three 5-bit fields at bits 0, 5 and 10; bit 15 of the result is 0.
uint16_t Mix555(uint16_t a, uint16_t b, uint32_t w, uint32_t scale);

// The reference walks: pixel by pixel, field by field, into the target of
// `c` (which callers point at their expected copy).
void ReferenceFade(Form form, const FrameCapture& c, int32_t weight);
void ReferenceBand(Form form, const FrameCapture& c, int32_t bandHeight, int32_t bandPosition,
                   int32_t bandSelector);

}  // namespace kt
