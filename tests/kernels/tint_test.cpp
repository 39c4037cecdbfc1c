// The tint of every kernel set the processor runs against the grey written
// from its formula: every channel sum 0..765 and every 5-5-5 pixel, random
// pixels, every set of kept channels, lengths around each set's step, the
// source against either fence, the destination's surroundings and the source
// checked.
#include <algorithm>
#include <string>
#include <vector>

#include "kernel_test_support.h"

using namespace kt;
using namespace orv::kernels;

namespace {

constexpr ptrdiff_t kGuard = 64;

// Red, green and blue are bits 2, 1 and 0 of `channels`.
bool Kept(int channels, int channel) { return (channels >> channel & 1) != 0; }

uint32_t KeepPattern(int channels, int32_t bpp) {
  const uint32_t field = bpp == 2 ? 31 : 255;
  const int shift = bpp == 2 ? 5 : 8;
  uint32_t keep = 0;
  for (int c = 0; c < 3; ++c) keep |= Kept(channels, c) ? field << (c * shift) : 0;
  return keep;
}

void ReferenceTint(const uint8_t* source, uint8_t* destination, ptrdiff_t n, int32_t bpp,
                   int channels) {
  for (ptrdiff_t i = 0; i < n; ++i) {
    const uint8_t* s = source + i * bpp;
    uint8_t* d = destination + i * bpp;
    if (bpp == 2) {
      const uint32_t v = Load16(s);
      const uint32_t grey = ((v & 31) + (v >> 5 & 31) + (v >> 10 & 31)) / 3;
      uint32_t out = 0;
      for (int c = 0; c < 3; ++c) out |= Kept(channels, c) ? grey << (5 * c) : 0;
      Store16(d, static_cast<uint16_t>(out));
      continue;
    }
    const auto grey = static_cast<uint8_t>((s[0] + s[1] + s[2]) / 3);
    for (int c = 0; c < 3; ++c) d[c] = Kept(channels, c) ? grey : 0;
    if (bpp == 4) d[3] = s[3];
  }
}

TintFn TintOf(const KernelSet& set, int32_t bpp) {
  return bpp == 2 ? set.tint2 : bpp == 3 ? set.tint3 : set.tint4;
}

TEST(Tint, EverySetMatchesTheFormula) {
  Rng rng(31);
  for (const int32_t bpp : {2, 3, 4}) {
    // First the pixels that reach every channel sum (at 2 bytes: every pixel,
    // bit 15 random), then random ones.
    const ptrdiff_t special = bpp == 2 ? 32768 : 766;
    const ptrdiff_t total = special + 200;
    GuardedBytes source(static_cast<size_t>(total * bpp));
    rng.Fill(source.data(), source.size());
    for (ptrdiff_t k = 0; k < special; ++k) {
      uint8_t* p = source.data() + k * bpp;
      if (bpp == 2) {
        Store16(p, static_cast<uint16_t>(k | (Load16(p) & 0x8000)));
      } else {
        p[0] = static_cast<uint8_t>(std::min<ptrdiff_t>(k, 255));
        p[1] = static_cast<uint8_t>(std::clamp<ptrdiff_t>(k - 255, 0, 255));
        p[2] = static_cast<uint8_t>(k - p[0] - p[1]);
      }
    }
    const std::vector<uint8_t> sourceCopy(source.data(), source.data() + source.size());
    // The same pixels against the fence before them.
    GuardedBytes sourceAtStart(source.size(), Fence::kStart);
    std::copy(sourceCopy.begin(), sourceCopy.end(), sourceAtStart.data());
    std::vector<ptrdiff_t> lengths = {total, 0,  1,  2,  3,  7,  8,  9, 15,
                                      16,    17, 23, 24, 25, 31, 32, 33};
    for (int k = 0; k < Cases(16); ++k) lengths.push_back(rng.Between(34, 200));
    for (const ptrdiff_t n : lengths) {
      const ptrdiff_t misalign = rng.Between(0, 3);
      for (int channels = 0; channels < 8; ++channels) {
        // The last n pixels, so that reading past them faults, or for every
        // other set of channels the first n, so that reading before them does.
        const bool atStart = channels % 2 != 0;
        const GuardedBytes& read = atStart ? sourceAtStart : source;
        const uint8_t* from = atStart ? read.data() : read.data() + (total - n) * bpp;
        std::vector<uint8_t> target(static_cast<size_t>(n * bpp + 2 * kGuard + misalign));
        rng.Fill(target.data(), target.size());
        std::vector<uint8_t> expected = target;
        ReferenceTint(from, expected.data() + kGuard + misalign, n, bpp, channels);
        ForEachKernelSet([&](const KernelSet& set) {
          std::vector<uint8_t> actual = target;
          TintOf(set, bpp)(from, actual.data() + kGuard + misalign, n, KeepPattern(channels, bpp));
          const std::string what = std::string(set.name) + " bpp " + std::to_string(bpp) + " n " +
                                   std::to_string(n) + " channels " + std::to_string(channels) +
                                   (atStart ? ", first pixels" : ", last pixels");
          ASSERT_TRUE(SameBytes("destination", expected, actual.data(), kGuard + misalign, 0))
              << what;
          ASSERT_TRUE(SameBytes("source", sourceCopy, read.data(), 0, 0)) << what;
        });
      }
    }
  }
}

}  // namespace
