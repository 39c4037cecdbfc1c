// The actors' band walks against a per-field reference, under every kernel
// set the processor runs: worked examples, the row clipping, every 5-bit field pair
// at every row weight, and random pictures at every band selector and band
// positions from below the first row to past the last.
#include <string>
#include <vector>

#include "row_walk_support.h"

using namespace kt;
using orv::kernels::KernelSet;

namespace {

struct Band {
  int32_t height;
  int32_t position;
  int32_t selector;
};

Band AtSelector(int32_t selector, int32_t position) { return {32 << selector, position, selector}; }

std::string Describe(const KernelCase& k, const KernelSet& set, const Shape& s, const Band& b) {
  return std::string(k.name) + "/" + set.name + " depth " + std::to_string(s.depth) + " bpp " +
         std::to_string(s.bytesPerPixel) + " rows " + std::to_string(s.rows) + " columns " +
         std::to_string(s.columns) + " rowBytes " + std::to_string(s.rowBytes) + " bandHeight " +
         std::to_string(b.height) + " bandPosition " + std::to_string(b.position) +
         " bandSelector " + std::to_string(b.selector);
}

void Run(const KernelCase& k, const FrameCapture& c, const Band& b) {
  k.kernel(c, 0, b.height, b.position, b.selector);
}

// The walks that serve a depth: BandByDepth always, the one-layout walk of its size.
std::vector<KernelCase> KernelsFor(int32_t depth) {
  return {kBandWalks[0], depth >= 24 ? kBandWalks[2] : kBandWalks[1]};
}

// Runs each walk for `depth` under each set and compares with the reference.
testing::AssertionResult MatchesReference(Scene& scene, const Band& band) {
  for (const KernelCase& k : KernelsFor(scene.shape().depth)) {
    std::vector<uint8_t> expected = scene.initialTarget();
    ReferenceBand(k.form, scene.CaptureOver(expected), band.height, band.position, band.selector);
    testing::AssertionResult result = testing::AssertionSuccess();
    ForEachKernelSet([&](const KernelSet& set) {
      if (!result) return;
      scene.ResetTarget();
      Run(k, scene.Capture(), band);
      result = scene.Check(expected);
      if (!result) result << "; " << Describe(k, set, scene.shape(), band);
    });
    if (!result) return result;
  }
  return testing::AssertionSuccess();
}

// One row, start pixel a and end pixel b everywhere, at row weight m (band
// position -m puts band index m on row 0); returns the first output pixel.
uint32_t BandPixel(const KernelCase& k, int32_t depth, uint32_t a, uint32_t b, int32_t m) {
  Rng rng(11);
  const bool sixteen = depth < 24;
  Scene scene(rng, sixteen ? Shape{2, 16, 1, 4, 8} : Shape{4, 32, 1, 2, 8});
  scene.FillBoth(a, b, sixteen);
  Run(k, scene.Capture(), AtSelector(0, -m));
  return scene.FirstTargetPixel(sixteen);
}

TEST(BandWalks, WorkedExamplePixels) {
  ForEachKernelSet([&](const KernelSet& set) {
    for (const KernelCase& k : KernelsFor(32)) {
      SCOPED_TRACE(std::string(k.name) + "/" + set.name);
      EXPECT_EQ(BandPixel(k, 32, 0x00FF8040, 0x80004020, 16), 0x407F6030u);
      EXPECT_EQ(BandPixel(k, 32, 0x00FF8040, 0x80004020, 5), 0x6C274A25u);
      EXPECT_EQ(BandPixel(k, 32, 0x00FF8040, 0x80004020, 0), 0x80004020u);
      EXPECT_EQ(BandPixel(k, 32, 0x00FF8040, 0x80004020, 32), 0x00FF8040u);
    }
    for (const KernelCase& k : KernelsFor(16)) {
      SCOPED_TRACE(std::string(k.name) + "/" + set.name);
      EXPECT_EQ(BandPixel(k, 16, 0x7C00, 0x001F, 16), 0x3C0Fu);
      EXPECT_EQ(BandPixel(k, 16, 0x7C00, 0x001F, 5), 0x101Au);
      EXPECT_EQ(BandPixel(k, 16, 0xFC00, 0x801F, 0), 0x001Fu);
      EXPECT_EQ(BandPixel(k, 16, 0xFC00, 0x801F, 32), 0x7C00u);
    }
  });
}

// Start frame all 0xFF, end frame all 0x00: a mixed byte is 255 * m / 32,
// which tells m back; the target's 0x5A is no such value and marks rows the
// band left alone.
std::vector<int32_t> RowWeights(const KernelCase& k, int32_t rows, const Band& band) {
  Rng rng(12);
  Scene scene(rng, {4, 32, rows, 2, 8});
  std::fill(scene.start(), scene.start() + rows * 8, 0xFF);
  std::fill(scene.end(), scene.end() + rows * 8, 0x00);
  std::fill(scene.target().begin(), scene.target().end(), 0x5A);
  Run(k, scene.Capture(), band);
  std::vector<int32_t> weights;
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t byte = scene.target()[scene.targetOrigin() + 8 * r];
    int32_t m = -1;
    for (int32_t w = 0; w <= 32; ++w) {
      if (255 * w / 32 == byte) m = w;
    }
    weights.push_back(m);
  }
  return weights;
}

// Weights expected on rows first..last as from..; -1 elsewhere.
std::vector<int32_t> Expect(int32_t rows, int32_t first, int32_t last, int32_t from,
                            int32_t selector = 0) {
  std::vector<int32_t> weights(rows, -1);
  for (int32_t r = first; r <= last; ++r) weights[r] = (from + r - first) >> selector;
  return weights;
}

TEST(BandWalks, WorkedExampleRows) {
  ForEachKernelSet([&](const KernelSet& set) {
    for (const KernelCase& k : KernelsFor(32)) {
      SCOPED_TRACE(std::string(k.name) + "/" + set.name);
      EXPECT_EQ(RowWeights(k, 100, AtSelector(0, 10)), Expect(100, 10, 42, 0));
      EXPECT_EQ(RowWeights(k, 100, AtSelector(0, 80)), Expect(100, 80, 99, 0));
      EXPECT_EQ(RowWeights(k, 100, AtSelector(0, -20)), Expect(100, 0, 12, 20));
      EXPECT_EQ(RowWeights(k, 100, AtSelector(0, -32)), Expect(100, 0, 0, 32));
      EXPECT_EQ(RowWeights(k, 100, AtSelector(0, -33)), Expect(100, 0, -1, 0));
      EXPECT_EQ(RowWeights(k, 100, AtSelector(0, 100)), Expect(100, 0, -1, 0));
      EXPECT_EQ(RowWeights(k, 300, AtSelector(3, 0)), Expect(300, 0, 256, 0, 3));
    }
  });
}

// A band taller than 32 << bandSelector would take weights past 32; they are
// held at 32, the start frame.
TEST(BandWalks, TooTallABandStopsAtTheStartFrame) {
  ForEachKernelSet([&](const KernelSet& set) {
    for (const KernelCase& k : KernelsFor(32)) {
      std::vector<int32_t> want = Expect(80, 0, 64, 0);
      for (int32_t r = 33; r <= 64; ++r) want[r] = 32;
      EXPECT_EQ(RowWeights(k, 80, {64, 0, 0}), want) << k.name << "/" << set.name;
    }
  });
}

// 33 rows of 1024 pixels; pixel k carries field pair k in field 0 and the
// pairs in two other orders in fields 1 and 2. A band at position 0 gives
// row r weight r, so every pair meets every weight in every field.
TEST(BandWalks, EverySixteenBitFieldPairAtEveryRowWeight) {
  Rng rng(13);
  Scene scene(rng, {2, 16, 33, 1024, 2048});
  for (int32_t r = 0; r < 33; ++r) {
    for (uint32_t k = 0; k < 1024; ++k) {
      const uint32_t p1 = (k * 7 + 3) % 1024;
      const uint32_t p2 = (k * 13 + 5) % 1024;
      uint8_t* a = scene.start() + 2048 * r + 2 * k;
      uint8_t* b = scene.end() + 2048 * r + 2 * k;
      Store16(a, static_cast<uint16_t>((k & 31) | (p1 & 31) << 5 | (p2 & 31) << 10 |
                                       (Load16(a) & 0x8000)));
      Store16(b, static_cast<uint16_t>((k >> 5) | (p1 >> 5) << 5 | (p2 >> 5) << 10 |
                                       (Load16(b) & 0x8000)));
    }
  }
  scene.AcceptSources();
  EXPECT_TRUE(MatchesReference(scene, AtSelector(0, 0)));
}

// Rows of 2-, 3- and 4-byte pixels. Most rows are whole steps, with target
// rows as long as a row, padded, or closer (a negative gap); the column rows
// of the horizontal wipes may be any length, 1 pixel and odd counts of 2-byte
// pixels included, with target rows one row length apart.
Shape RandomBandShape(Rng& rng, int32_t selector) {
  const int32_t bpp = rng.Between(2, 4);
  const int32_t depth = bpp == 2 ? rng.Between(15, 16) : 8 * bpp;
  const int32_t rows = rng.Between(0, 3) == 0 ? rng.Between(1, 3) : rng.Between(4, 40 << selector);
  const int32_t unit = bpp == 2 ? 4 : bpp == 3 ? 8 : 2;
  if (rng.Between(0, 2) == 0) {
    const int32_t columns = rng.Between(0, 3) == 0 ? 1 : rng.Between(1, 77);
    return {bpp, depth, rows, columns, columns * bpp};
  }
  const int32_t columns = unit * rng.Between(1, 24);
  const int32_t length = columns * bpp;
  int32_t rowBytes = length;
  if (rng.Between(0, 2) == 0) rowBytes = length + 4 * rng.Between(1, 5);
  if (rng.Between(0, 2) == 0) rowBytes = length - 4 * rng.Between(1, length / 4 - 1);
  return {bpp, depth, rows, columns, rowBytes};
}

// Band positions from wholly below row 0 to wholly past the last row: all
// of them for short pictures, a spread with every edge case for tall ones.
std::vector<int32_t> Positions(Rng& rng, int32_t rows, int32_t height) {
  std::vector<int32_t> positions;
  const int32_t low = -height - 2;
  const int32_t high = rows + 1;
  if (high - low <= Cases(64)) {
    for (int32_t p = low; p <= high; ++p) positions.push_back(p);
    return positions;
  }
  for (const int32_t p : {low, -height - 1, -height, -height + 1, -1, 0, 1, rows - height - 1,
                          rows - height, rows - 2, rows - 1, rows, high}) {
    positions.push_back(p);
  }
  for (int i = 0; i < Cases(24); ++i) positions.push_back(rng.Between(low, high));
  return positions;
}

TEST(BandWalks, RandomPicturesMatchTheReference) {
  Rng rng(14);
  for (int32_t selector = 0; selector <= 3; ++selector) {
    for (int picture = 0; picture < Cases(40); ++picture) {
      Scene scene(rng, RandomBandShape(rng, selector), rng.Between(0, 3));
      for (const int32_t position : Positions(rng, scene.shape().rows, 32 << selector)) {
        ASSERT_TRUE(MatchesReference(scene, AtSelector(selector, position)));
      }
    }
  }
}

// Rows of zero length write nothing, wherever the band lies.
TEST(BandWalks, EmptyRowsWriteNothing) {
  Rng rng(15);
  for (const int32_t bpp : {2, 3, 4}) {
    Scene scene(rng, {bpp, bpp == 2 ? 16 : 8 * bpp, 10, 0, 4});
    EXPECT_TRUE(MatchesReference(scene, AtSelector(0, 2)));
    EXPECT_EQ(scene.target(), scene.initialTarget());
  }
}

}  // namespace
