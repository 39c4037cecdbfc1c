// The transpositions of the horizontal wipes against plain loops written from
// their effects, under every kernel set the processor runs: the worked
// example, round trips, the stride rules per pixel size, overlapping target
// rows, and the counts and pixel sizes that do nothing.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kernel_test_support.h"

using namespace kt;
using namespace orv::kernels;

namespace {

constexpr ptrdiff_t kGuard = 64;

// Destination pixel (row j, position i) = source pixel (row i, position j),
// source rows sourceRowBytes apart.
void ReferenceToColumns(const uint8_t* source, ptrdiff_t sourceRowBytes, uint8_t* destination,
                        int32_t columns, int32_t rows, int32_t bpp) {
  for (int32_t i = 0; i < rows; ++i) {
    for (int32_t j = 0; j < columns; ++j) {
      std::memcpy(destination + (static_cast<ptrdiff_t>(j) * rows + i) * bpp,
                  source + i * sourceRowBytes + static_cast<ptrdiff_t>(j) * bpp, bpp);
    }
  }
}

// Source row k, position i lands at k * bpp + i * stride; later writes win.
void ReferenceFromColumns(const uint8_t* source, uint8_t* destination, int32_t count, int32_t n,
                          int32_t bpp, ptrdiff_t stride) {
  for (int32_t k = 0; k < n; ++k) {
    for (int32_t i = 0; i < count; ++i) {
      std::memcpy(destination + static_cast<ptrdiff_t>(k) * bpp + i * stride,
                  source + (static_cast<ptrdiff_t>(k) * count + i) * bpp, bpp);
    }
  }
}

std::vector<uint8_t> RandomBytes(Rng& rng, size_t count) {
  std::vector<uint8_t> bytes(count);
  rng.Fill(bytes.data(), count);
  return bytes;
}

std::string Sizes(const KernelSet& set, int32_t a, int32_t b, int32_t bpp) {
  return std::string(set.name) + " " + std::to_string(a) + " x " + std::to_string(b) + " bpp " +
         std::to_string(bpp);
}

TEST(Transpositions, WorkedExample) {
  const uint32_t source[6] = {0xA, 0xB, 0xC, 0xD, 0xE, 0xF};
  ForEachKernelSet([&](const KernelSet& set) {
    SCOPED_TRACE(set.name);
    uint32_t columns[6] = {};
    TransposeToColumns(reinterpret_cast<const uint8_t*>(source),
                       reinterpret_cast<uint8_t*>(columns), 3, 2, 4);
    EXPECT_EQ(std::vector<uint32_t>(columns, columns + 6),
              (std::vector<uint32_t>{0xA, 0xD, 0xB, 0xE, 0xC, 0xF}));
    // Back into a picture whose rows are 5 pixels apart.
    std::vector<uint32_t> picture(10, 0x55);
    TransposeFromColumns(reinterpret_cast<const uint8_t*>(columns),
                         reinterpret_cast<uint8_t*>(picture.data()), 2, 3, 4, 20);
    EXPECT_EQ(picture,
              (std::vector<uint32_t>{0xA, 0xB, 0xC, 0x55, 0x55, 0xD, 0xE, 0xF, 0x55, 0x55}));
  });
}

// The bytes around `middle` bytes at offset kGuard are as they were.
bool GuardsKept(const std::vector<uint8_t>& now, const std::vector<uint8_t>& before) {
  return std::equal(now.begin(), now.begin() + kGuard, before.begin()) &&
         std::equal(now.end() - kGuard, now.end(), before.end() - kGuard);
}

// Turning a buffer and turning it back gives it byte for byte; a 1 x k buffer
// turns into k x 1 with the same bytes in the same order.
TEST(Transpositions, RoundTripsGiveTheBufferBack) {
  Rng rng(21);
  ForEachKernelSet([&](const KernelSet& set) {
    for (const int32_t bpp : {2, 3, 4}) {
      for (const auto& [columns, rows] :
           {std::pair{1, 1}, {1, 9}, {9, 1}, {8, 8}, {17, 33}, {64, 3}, {40, 41}, {129, 70}}) {
        const auto bytes = static_cast<size_t>(columns * rows * bpp);
        const std::vector<uint8_t> original = RandomBytes(rng, bytes);
        const std::vector<uint8_t> before = RandomBytes(rng, bytes + 2 * kGuard);
        std::vector<uint8_t> turned = before;
        std::vector<uint8_t> back = before;
        TransposeToColumns(original.data(), turned.data() + kGuard, columns, rows, bpp);
        TransposeToColumns(turned.data() + kGuard, back.data() + kGuard, rows, columns, bpp);
        EXPECT_TRUE(GuardsKept(turned, before) && GuardsKept(back, before))
            << Sizes(set, columns, rows, bpp);
        EXPECT_TRUE(std::equal(original.begin(), original.end(), back.begin() + kGuard))
            << Sizes(set, columns, rows, bpp);
        if (rows == 1) {
          EXPECT_TRUE(std::equal(original.begin(), original.end(), turned.begin() + kGuard))
              << Sizes(set, columns, rows, bpp);
        }
      }
    }
  });
}

// Packed source rows, and (TransposeRowsToColumns) rows further apart, as an
// image's are, the source against the fence after its last row or before its
// first.
TEST(Transpositions, ToColumnsMatchesTheReference) {
  Rng rng(22);
  ForEachKernelSet([&](const KernelSet& set) {
    for (int round = 0; round < Cases(120); ++round) {
      const int32_t bpp = rng.Between(2, 4);
      const int32_t columns = rng.Between(1, 70);
      const int32_t rows = rng.Between(1, 70);
      const ptrdiff_t gap = round % 2 ? rng.Between(1, 40) : 0;
      const ptrdiff_t sourceRowBytes = columns * bpp + gap;
      const auto bytes = static_cast<size_t>(columns * rows * bpp);
      const auto sourceBytes = static_cast<size_t>((rows - 1) * sourceRowBytes + columns * bpp);
      GuardedBytes source(sourceBytes, round / 2 % 2 != 0 ? Fence::kStart : Fence::kEnd);
      rng.Fill(source.data(), sourceBytes);
      const std::vector<uint8_t> sourceCopy(source.data(), source.data() + sourceBytes);
      std::vector<uint8_t> target = RandomBytes(rng, bytes + 2 * kGuard);
      std::vector<uint8_t> expected = target;
      ReferenceToColumns(source.data(), sourceRowBytes, expected.data() + kGuard, columns, rows,
                         bpp);
      if (gap == 0)
        TransposeToColumns(source.data(), target.data() + kGuard, columns, rows, bpp);
      else
        TransposeRowsToColumns(source.data(), sourceRowBytes, target.data() + kGuard, columns, rows,
                               bpp);
      ASSERT_TRUE(SameBytes("destination", expected, target.data(), kGuard, rows * bpp))
          << Sizes(set, columns, rows, bpp);
      ASSERT_TRUE(SameBytes("source", sourceCopy, source.data(), 0, 0))
          << Sizes(set, columns, rows, bpp);
    }
  });
}

// step as passed, stride the row distance the pixel size must make of it.
struct FromCase {
  int32_t count;
  int32_t n;
  int32_t bpp;
  int32_t step;
  ptrdiff_t stride;
};

// Runs TransposeFromColumns into a random area big enough for every row the
// stride can reach, the destination placed so that negative strides fit.
testing::AssertionResult FromColumnsMatches(Rng& rng, const FromCase& c, Fence fence) {
  const ptrdiff_t stride = c.stride;
  const ptrdiff_t reach = (c.count > 0 ? c.count - 1 : 0) * (stride < 0 ? -stride : stride);
  const ptrdiff_t span = static_cast<ptrdiff_t>(c.n > 0 ? c.n : 0) * c.bpp;
  const ptrdiff_t origin = kGuard + (stride < 0 ? reach : 0);
  const auto sourceBytes = static_cast<size_t>(c.count > 0 && c.n > 0 ? c.count * c.n * c.bpp : 0);
  GuardedBytes source(sourceBytes, fence);
  rng.Fill(source.data(), sourceBytes);
  const std::vector<uint8_t> sourceCopy(source.data(), source.data() + sourceBytes);
  std::vector<uint8_t> target = RandomBytes(rng, static_cast<size_t>(reach + span + 2 * kGuard));
  std::vector<uint8_t> expected = target;
  ReferenceFromColumns(source.data(), expected.data() + origin, c.count, c.n, c.bpp, c.stride);
  TransposeFromColumns(source.data(), target.data() + origin, c.count, c.n, c.bpp, c.step);
  testing::AssertionResult result = SameBytes("destination", expected, target.data(), origin,
                                              static_cast<int32_t>(stride > 0 ? stride : 0));
  if (result) result = SameBytes("source", sourceCopy, source.data(), 0, 0);
  return result << "; count " << c.count << " n " << c.n << " bpp " << c.bpp << " step " << c.step;
}

// The same with the source against each fence in turn.
testing::AssertionResult FromColumnsMatches(Rng& rng, const FromCase& c) {
  for (const Fence fence : kFences) {
    testing::AssertionResult result = FromColumnsMatches(rng, c, fence);
    if (!result) return result << ", source " << NameOf(fence);
  }
  return testing::AssertionSuccess();
}

// Target rows at least a column span apart (the offscreen image) and closer
// ones, whose pixels overlap and where the plain order decides what remains.
TEST(Transpositions, FromColumnsMatchesTheReference) {
  Rng rng(23);
  ForEachKernelSet([&](const KernelSet& set) {
    for (int round = 0; round < Cases(160); ++round) {
      const int32_t bpp = rng.Between(2, 4);
      const int32_t n = rng.Between(1, 60);
      const int32_t count = rng.Between(1, 60);
      // A row distance in whole pixels (any byte count at 3 bytes), then a
      // step that gives it: at 4 bytes with low bits to drop, at 2 bytes with
      // a low bit and the 16-bit pixel count's overflow to drop.
      int32_t pixels = n + rng.Between(0, 10);
      if (round % 4 == 1) pixels = rng.Between(0, n);
      if (round % 4 == 2 && bpp != 2) pixels = -pixels;
      int32_t stride = pixels * bpp;
      int32_t step = stride;
      if (bpp == 3) stride = step = stride + rng.Between(-2, 2);
      if (bpp == 4) step += rng.Between(0, 3);
      if (bpp == 2) step += rng.Between(0, 1) + 131072 * rng.Between(0, 1);
      ASSERT_TRUE(FromColumnsMatches(rng, {count, n, bpp, step, stride})) << set.name;
    }
  });
}

// 4 bytes: the step rounded down to whole pixels (arithmetically, so
// negative steps round away from zero); 3 bytes: the step as it is; 2 bytes:
// half the step taken modulo 65536, twice over.
TEST(Transpositions, StrideRulesPerPixelSize) {
  Rng rng(24);
  const FromCase cases[] = {{5, 3, 4, 31, 28},     {5, 3, 4, -29, -32},   {5, 3, 4, 12, 12},
                            {4, 5, 3, 17, 17},     {4, 5, 3, -16, -16},   {4, 5, 3, 15, 15},
                            {6, 3, 2, 13, 12},     {6, 3, 2, 131086, 14}, {3, 2, 2, 131073, 0},
                            {3, 2, 2, -6, 131066}, {3, 2, 2, 131072, 0}};
  ForEachKernelSet([&](const KernelSet& set) {
    for (const FromCase& c : cases) EXPECT_TRUE(FromColumnsMatches(rng, c)) << set.name;
  });
}

// One source row becomes one target column of count pixels.
TEST(Transpositions, OneRowMakesOneColumn) {
  ForEachKernelSet([&](const KernelSet& set) {
    const uint16_t source[4] = {0x1111, 0x2222, 0x3333, 0x4444};
    std::vector<uint16_t> picture(16, 0);
    TransposeFromColumns(reinterpret_cast<const uint8_t*>(source),
                         reinterpret_cast<uint8_t*>(picture.data()), 4, 1, 2, 8);
    EXPECT_EQ(picture, (std::vector<uint16_t>{0x1111, 0, 0, 0, 0x2222, 0, 0, 0, 0x3333, 0, 0, 0,
                                              0x4444, 0, 0, 0}))
        << set.name;
  });
}

// Counts of zero or less and pixel sizes other than 2, 3 and 4 write nothing.
TEST(Transpositions, NothingForEmptyCountsOrOtherPixelSizes) {
  Rng rng(25);
  const std::vector<uint8_t> source = RandomBytes(rng, 256);
  ForEachKernelSet([&](const KernelSet& set) {
    const std::vector<uint8_t> before = RandomBytes(rng, 256);
    for (const auto& [a, b, bpp] : {std::tuple{0, 4, 4},
                                    {4, 0, 4},
                                    {-3, 4, 2},
                                    {4, -1, 3},
                                    {4, 4, 1},
                                    {4, 4, 0},
                                    {4, 4, 5},
                                    {4, 4, -2}}) {
      std::vector<uint8_t> target = before;
      TransposeToColumns(source.data(), target.data(), a, b, bpp);
      EXPECT_EQ(target, before) << "TransposeToColumns " << Sizes(set, a, b, bpp);
      TransposeFromColumns(source.data(), target.data(), a, b, bpp, 16);
      EXPECT_EQ(target, before) << "TransposeFromColumns " << Sizes(set, a, b, bpp);
    }
  });
}

}  // namespace
