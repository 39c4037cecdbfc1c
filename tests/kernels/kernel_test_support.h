// Shared by the kernel tests: the seed, guarded buffers, the pictures the
// kernels run on, a reference written straight from the per-field formulas,
// and comparisons that name the first differing byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kernels/blend_kernel.h"
#include "kernels/kernel_dispatch.h"

namespace kt {

using orv::kernels::BlendKernel;
using orv::kernels::FrameCapture;

// ORV_TEST_SEED when set, else drawn once per run; printed with every failure.
uint64_t Seed();
std::string SeedNote();

// ORV_TEST_QUICK set (e.g. under emulation): fewer random cases.
bool Quick();
int Cases(int normal);

class Rng {
 public:
  // `salt` keeps each test's draws independent of the order tests run in.
  explicit Rng(uint64_t salt);
  int Between(int low, int high);  // inclusive
  void Fill(uint8_t* bytes, size_t count);

 private:
  std::mt19937_64 engine_;
};

// Bytes whose end touches an inaccessible page where the system allows it,
// so that a kernel reading past the end of a buffer faults at once.
class GuardedBytes {
 public:
  explicit GuardedBytes(size_t size);
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void* mapping_ = nullptr;
  size_t mappingSize_ = 0;
  std::vector<uint8_t> fallback_;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

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

// Whole buffers compared; the first difference is named by its offset from
// `origin` and, with rowBytes > 0, by target row and byte within the row.
testing::AssertionResult SameBytes(const char* what, const std::vector<uint8_t>& expected,
                                   const uint8_t* actual, ptrdiff_t origin, int32_t rowBytes);

enum class Form {
  kFadeRows16,
  kFadeRows32,
  kFadeRows16Mmx,
  kFadeRows32Mmx,
  kBandRows,
  kBandRows16Mmx,
  kBandRows32Mmx
};

struct KernelCase {
  const char* name;
  BlendKernel kernel;
  Form form;
};

inline constexpr KernelCase kFadeKernels[] = {
    {"FadeRows16", orv::kernels::FadeRows16, Form::kFadeRows16},
    {"FadeRows32", orv::kernels::FadeRows32, Form::kFadeRows32},
    {"FadeRows16Mmx", orv::kernels::FadeRows16Mmx, Form::kFadeRows16Mmx},
    {"FadeRows32Mmx", orv::kernels::FadeRows32Mmx, Form::kFadeRows32Mmx},
};

inline constexpr KernelCase kBandKernels[] = {
    {"BandRows", orv::kernels::BandRows, Form::kBandRows},
    {"BandRows16Mmx", orv::kernels::BandRows16Mmx, Form::kBandRows16Mmx},
    {"BandRows32Mmx", orv::kernels::BandRows32Mmx, Form::kBandRows32Mmx},
};

bool IsSixteenBit(Form form);

// Per-field arithmetic: (a * (scale - w) + b * w) / scale, rounded down.
uint32_t MixField(uint32_t a, uint32_t b, uint32_t w, uint32_t scale);
// Three 5-bit fields at bits 0, 5 and 10; bit 15 of the result is 0.
uint16_t Mix555(uint16_t a, uint16_t b, uint32_t w, uint32_t scale);

// The reference kernels: pixel by pixel, field by field, into the target of
// `c` (which callers point at their expected copy).
void ReferenceFade(Form form, const FrameCapture& c, int32_t weight);
void ReferenceBand(Form form, const FrameCapture& c, int32_t bandHeight, int32_t bandPosition,
                   int32_t bandSelector);

// Runs `body` under every kernel set this processor runs (within ORV_SIMD),
// then returns the kernels to their automatic choice.
void ForEachKernelSet(const std::function<void(const orv::kernels::KernelSet&)>& body);

uint16_t Load16(const uint8_t* p);
void Store16(uint8_t* p, uint16_t v);
uint32_t Load32(const uint8_t* p);
void Store32(uint8_t* p, uint32_t v);

}  // namespace kt
