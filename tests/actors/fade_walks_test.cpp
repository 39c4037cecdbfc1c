// The actors' fade walks against a per-field reference, under every kernel
// set the processor runs: worked examples, every 5-bit field pair at every weight,
// and random pictures of many shapes with the target's surroundings checked.
#include <string>

#include "row_walk_support.h"

using namespace kt;
using orv::kernels::KernelSet;

namespace {

std::string Describe(const KernelCase& k, const KernelSet& set, const Shape& s, int32_t weight) {
  return std::string(k.name) + "/" + set.name + " bpp " + std::to_string(s.bytesPerPixel) +
         " rows " + std::to_string(s.rows) + " columns " + std::to_string(s.columns) +
         " rowBytes " + std::to_string(s.rowBytes) + " weight " + std::to_string(weight);
}

Shape SixteenBit(int32_t rows, int32_t columns) { return {2, 16, rows, columns, 2 * columns}; }

// One row of one 8-byte unit, every start pixel a and every end pixel b;
// returns the first output pixel after `kernel` at `weight`.
uint32_t FadePixel(const KernelCase& k, uint32_t a, uint32_t b, int32_t weight) {
  Rng rng(1);
  const bool sixteen = IsSixteenBit(k.form);
  const Shape shape = sixteen ? SixteenBit(1, 4) : Shape{4, 32, 1, 2, 8};
  Scene scene(rng, shape);
  scene.FillBoth(a, b, sixteen);
  k.kernel(scene.Capture(), weight, 0, 0, 0);
  return scene.FirstTargetPixel(sixteen);
}

const KernelCase& Kernel(Form form) {
  for (const KernelCase& k : kFadeWalks) {
    if (k.form == form) return k;
  }
  return kFadeWalks[0];
}

TEST(FadeWalks, WorkedExamples) {
  const KernelCase& f16 = Kernel(Form::kFade555Step4Weight32);
  const KernelCase& f16Full = Kernel(Form::kFade555Step8Weight256);
  ForEachKernelSet([&](const KernelSet& set) {
    SCOPED_TRACE(set.name);
    for (const KernelCase* k : {&f16, &f16Full}) {
      SCOPED_TRACE(k->name);
      EXPECT_EQ(FadePixel(*k, 0x7C00, 0x001F, 128), 0x3C0Fu);
      EXPECT_EQ(FadePixel(*k, 0x9234, 0xC321, 0), 0x1234u);
      EXPECT_EQ(FadePixel(*k, 0x0000, 0x7FFF, 255), 0x7BDEu);
    }
    EXPECT_EQ(FadePixel(f16Full, 0x7C00, 0x001F, 100), 0x480Cu);
    EXPECT_EQ(FadePixel(f16, 0x7C00, 0x001F, 100), 0x4C0Bu);
    for (const Form form : {Form::kFadeBytesStep4, Form::kFadeBytesStep8}) {
      SCOPED_TRACE(Kernel(form).name);
      EXPECT_EQ(FadePixel(Kernel(form), 0x00FF8040, 0x80004020, 128), 0x407F6030u);
      EXPECT_EQ(FadePixel(Kernel(form), 0x00FF8040, 0x80004020, 100), 0x329B6733u);
    }
  });
}

// Weight 0 is the start frame and 256 the end frame, byte for byte (16-bit:
// with bit 15 cleared); checked against the sources, not the reference.
TEST(FadeWalks, EndWeightsGiveTheFrames) {
  Rng rng(2);
  ForEachKernelSet([&](const KernelSet& set) {
    for (const KernelCase& k : kFadeWalks) {
      const bool sixteen = IsSixteenBit(k.form);
      const Shape shape = sixteen ? SixteenBit(5, 36) : Shape{4, 32, 5, 18, 72};
      Scene scene(rng, shape);
      for (const int32_t weight : {0, 256}) {
        k.kernel(scene.Capture(), weight, 0, 0, 0);
        const uint8_t* frame = weight == 0 ? scene.start() : scene.end();
        const uint8_t* out = scene.target().data() + scene.targetOrigin();
        for (ptrdiff_t i = 0; i < shape.rows * scene.rowLength(); i += 2) {
          uint16_t want = Load16(frame + i);
          if (sixteen) want &= 0x7FFF;
          ASSERT_EQ(Load16(out + i), want) << k.name << "/" << set.name << " weight " << weight
                                           << " byte " << i << "; " << SeedNote();
        }
      }
    }
  });
}

// Pixel k carries field pair k (a = k & 31, b = k >> 5) in field 0 and the
// pairs in two other orders in fields 1 and 2, so four rows of 256 pixels hold
// every pair in every field; bit 15 is random.
TEST(FadeWalks, EverySixteenBitFieldPairAtEveryWeight) {
  Rng rng(3);
  Scene scene(rng, SixteenBit(4, 256));
  for (uint32_t k = 0; k < 1024; ++k) {
    const uint32_t p1 = (k * 7 + 3) % 1024;
    const uint32_t p2 = (k * 13 + 5) % 1024;
    const uint16_t a = static_cast<uint16_t>((k & 31) | (p1 & 31) << 5 | (p2 & 31) << 10 |
                                             (Load16(scene.start() + 2 * k) & 0x8000));
    const uint16_t b = static_cast<uint16_t>((k >> 5) | (p1 >> 5) << 5 | (p2 >> 5) << 10 |
                                             (Load16(scene.end() + 2 * k) & 0x8000));
    Store16(scene.start() + 2 * k, a);
    Store16(scene.end() + 2 * k, b);
  }
  scene.AcceptSources();
  ForEachKernelSet([&](const KernelSet& set) {
    for (const Form form : {Form::kFade555Step4Weight32, Form::kFade555Step8Weight256}) {
      const KernelCase& k = Kernel(form);
      for (int32_t weight = 0; weight <= 256; ++weight) {
        std::vector<uint8_t> expected = scene.initialTarget();
        ReferenceFade(form, scene.CaptureOver(expected), weight);
        scene.ResetTarget();
        k.kernel(scene.Capture(), weight, 0, 0, 0);
        ASSERT_TRUE(scene.Check(expected)) << Describe(k, set, scene.shape(), weight);
      }
    }
  });
}

// Byte k of the pictures carries the pair a = k & 255, b = k >> 8: every
// pair of bytes at every weight, the extremes a lane's arithmetic could
// overflow or saturate at included.
TEST(FadeWalks, EveryBytePairAtEveryWeight) {
  Rng rng(4);
  Scene scene(rng, Shape{4, 32, 256, 64, 256});
  for (uint32_t k = 0; k < 65536; ++k) {
    scene.start()[k] = static_cast<uint8_t>(k);
    scene.end()[k] = static_cast<uint8_t>(k >> 8);
  }
  scene.AcceptSources();
  ForEachKernelSet([&](const KernelSet& set) {
    for (const Form form : {Form::kFadeBytesStep4, Form::kFadeBytesStep8}) {
      const KernelCase& k = Kernel(form);
      for (int32_t weight = 0; weight <= 256; ++weight) {
        std::vector<uint8_t> expected = scene.initialTarget();
        ReferenceFade(form, scene.CaptureOver(expected), weight);
        scene.ResetTarget();
        k.kernel(scene.Capture(), weight, 0, 0, 0);
        ASSERT_TRUE(scene.Check(expected)) << Describe(k, set, scene.shape(), weight);
      }
    }
  });
}

// Fade555Step4Weight32 mixes at v = weight >> 3 of 32: weights 1..7 leave the
// start frame, 248..255 all give v = 31, and multiples of 8 agree with
// Fade555Step8Weight256.
TEST(FadeWalks, FiveBitWeightWalkDropsTheLowThreeBits) {
  Rng rng(4);
  Scene scene(rng, SixteenBit(3, 20));
  const KernelCase& f16 = Kernel(Form::kFade555Step4Weight32);
  const KernelCase& f16Full = Kernel(Form::kFade555Step8Weight256);
  auto run = [&](const KernelCase& k, int32_t weight) {
    scene.ResetTarget();
    k.kernel(scene.Capture(), weight, 0, 0, 0);
    return scene.target();
  };
  ForEachKernelSet([&](const KernelSet& set) {
    SCOPED_TRACE(set.name);
    const std::vector<uint8_t> atZero = run(f16, 0);
    const std::vector<uint8_t> at248 = run(f16, 248);
    for (int32_t weight = 1; weight < 8; ++weight) EXPECT_EQ(run(f16, weight), atZero) << weight;
    for (int32_t weight = 249; weight < 256; ++weight) {
      EXPECT_EQ(run(f16, weight), at248) << weight;
    }
    for (int32_t weight = 0; weight <= 256; weight += 8) {
      EXPECT_EQ(run(f16, weight), run(f16Full, weight)) << weight;
    }
  });
}

struct FadeShape {
  Form form;
  Shape shape;
};

// Mostly rows of whole 8-byte units, as every capture has; some odd widths,
// of which each form mixes its whole steps and leaves the rest. Target rows
// are as long as a row, padded, or closer than a row (a negative gap).
Shape RandomFadeShape(Rng& rng, Form form) {
  const bool sixteen = IsSixteenBit(form);
  const int32_t bpp = sixteen ? 2 : rng.Between(3, 4);
  const int32_t unit = bpp == 2 ? 4 : bpp == 3 ? 8 : 2;  // columns per whole 8 bytes
  int32_t columns = unit * rng.Between(0, 40);
  if (rng.Between(0, 3) == 0) columns = rng.Between(1, 99);
  const int32_t rows = rng.Between(0, 4) == 0 ? rng.Between(0, 2) : rng.Between(1, 24);
  const int32_t length = columns * bpp;
  const int32_t whole = (length + 3) / 4 * 4;
  int32_t rowBytes = whole;
  switch (rng.Between(0, 3)) {
    case 0:
      rowBytes = whole + 4 * rng.Between(1, 6);
      break;
    case 1:
      rowBytes = whole - 4 * rng.Between(0, whole / 4 - 1 > 0 ? whole / 4 - 1 : 0);
      break;
    default:
      break;
  }
  if (rowBytes <= 0) rowBytes = 4;
  return {bpp, bpp == 2 ? 16 : 8 * bpp, rows, columns, rowBytes};
}

TEST(FadeWalks, RandomPicturesMatchTheReference) {
  Rng rng(5);
  for (const KernelCase& k : kFadeWalks) {
    const int step = Quick() ? 5 : 1;
    for (int32_t weight = 0; weight <= 256; weight += step) {
      const Shape shape = RandomFadeShape(rng, k.form);
      Scene scene(rng, shape, rng.Between(0, 3));
      std::vector<uint8_t> expected = scene.initialTarget();
      ReferenceFade(k.form, scene.CaptureOver(expected), weight);
      bool failed = false;
      ForEachKernelSet([&](const KernelSet& set) {
        if (failed) return;
        scene.ResetTarget();
        k.kernel(scene.Capture(), weight, 0, 0, 0);
        const testing::AssertionResult same = scene.Check(expected);
        EXPECT_TRUE(same) << Describe(k, set, shape, weight);
        failed = !same;
      });
      if (failed) return;
    }
  }
}

// No rows, or rows shorter than one step of the form: nothing is written.
TEST(FadeWalks, NothingToMixWritesNothing) {
  Rng rng(6);
  struct Case {
    Form form;
    Shape shape;
  };
  const Case cases[] = {
      {Form::kFade555Step4Weight32, {2, 16, 0, 8, 16}},
      {Form::kFade555Step4Weight32, {2, 16, 3, 1, 4}},
      {Form::kFade555Step8Weight256, {2, 16, 3, 3, 8}},
      {Form::kFadeBytesStep4, {4, 32, 0, 4, 16}},
      {Form::kFadeBytesStep8, {4, 32, 3, 1, 4}},
      {Form::kFadeBytesStep8, {3, 24, 2, 2, 8}},
      {Form::kFade555Step8Weight256, {2, 16, 2, -4, 8}},
      {Form::kFadeBytesStep4, {4, 32, -1, 4, 16}},
  };
  ForEachKernelSet([&](const KernelSet& set) {
    for (const Case& c : cases) {
      Scene scene(rng, c.shape);
      Kernel(c.form).kernel(scene.Capture(), 77, 0, 0, 0);
      EXPECT_TRUE(scene.Check(scene.initialTarget())) << Describe(Kernel(c.form), set, c.shape, 77);
    }
  });
}

// Weights beyond 0..256 are held to the range rather than overflowing fields.
TEST(FadeWalks, WeightsOutsideTheRangeAreHeldToIt) {
  Rng rng(7);
  ForEachKernelSet([&](const KernelSet& set) {
    for (const KernelCase& k : kFadeWalks) {
      const Shape shape = IsSixteenBit(k.form) ? SixteenBit(2, 8) : Shape{4, 32, 2, 4, 16};
      Scene scene(rng, shape);
      for (const auto& [outside, inside] : {std::pair{-9, 0}, std::pair{300, 256}}) {
        std::vector<uint8_t> expected = scene.initialTarget();
        ReferenceFade(k.form, scene.CaptureOver(expected), inside);
        scene.ResetTarget();
        k.kernel(scene.Capture(), outside, 0, 0, 0);
        EXPECT_TRUE(scene.Check(expected)) << Describe(k, set, shape, outside);
      }
    }
  });
}

#if defined(__i386__) || defined(__x86_64__)
// The x87 tag word: 0xFFFF while every register is empty, as compiled code
// leaves it between statements; MMX code without EMMS marks them in use.
uint32_t FpuTagWord() {
  struct {
    uint32_t control, status, tag, rest[4];
  } environment;
  asm volatile("fnstenv %0\n\tfldenv %0" : "=m"(environment));
  return environment.tag & 0xFFFF;
}
#endif

// The MMX registers share the x87 stack: a kernel that left them in use
// would turn the next long double result into NaN.
TEST(FadeWalks, KernelsLeaveTheFloatingPointUnitUsable) {
  Rng rng(8);
  ForEachKernelSet([&](const KernelSet& set) {
    for (const KernelCase& k : kFadeWalks) {
      Scene scene(rng, IsSixteenBit(k.form) ? SixteenBit(2, 8) : Shape{4, 32, 2, 4, 16});
      k.kernel(scene.Capture(), 99, 0, 0, 0);
#if defined(__i386__) || defined(__x86_64__)
      EXPECT_EQ(FpuTagWord(), 0xFFFFu) << k.name << "/" << set.name;
#endif
      volatile long double x = 1.5L;
      const long double y = x * 3.0L + 0.25L;
      EXPECT_EQ(static_cast<double>(y), 4.75) << k.name << "/" << set.name;
    }
  });
}

}  // namespace
