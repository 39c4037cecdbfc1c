// The two mix slots of every kernel set the processor runs, called directly,
// against the mix written from its formula: every width up to 70 units and
// random longer ones, weights at and around the ends and random ones (all
// 257 at some widths), each source against the fence after it and the one
// before it, the destination at every offset within 32 bytes with its
// surroundings checked, and the sources checked untouched.
#include <iterator>
#include <string>
#include <vector>

#include "kernel_test_support.h"

using namespace kt;
using namespace orv::kernels;

namespace {

constexpr ptrdiff_t kGuard = 64;

// (a * (256 - w) + b * w) >> 8, for a byte or a 5-bit field alike.
uint32_t MixedField(uint32_t a, uint32_t b, uint32_t w) { return (a * (256 - w) + b * w) >> 8; }

void ReferenceMixBytes(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  for (ptrdiff_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(MixedField(a[i], b[i], w));
}

// Each 5-bit field mixed alone; bit 15 comes out 0.
void ReferenceMix555(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  for (ptrdiff_t i = 0; i < n; ++i) {
    const uint32_t A = Load16(a + 2 * i);
    const uint32_t B = Load16(b + 2 * i);
    uint32_t mixed = 0;
    for (const int shift : {0, 5, 10}) {
      mixed |= MixedField(A >> shift & 31, B >> shift & 31, w) << shift;
    }
    Store16(out + 2 * i, static_cast<uint16_t>(mixed));
  }
}

// One row per mix slot, in kMixSlots' order: its unit (a byte, a pixel of
// two bytes) and its reference.
struct MixSlotCase {
  KernelSlot<MixBytesFn> slot;
  const char* name;
  ptrdiff_t unitBytes;
  MixBytesFn reference;
};
constexpr MixSlotCase kMixSlotCases[] = {
    {&KernelSet::mixBytes, "mixBytes", 1, ReferenceMixBytes},
    {&KernelSet::mix555, "mix555", 2, ReferenceMix555},
};
static_assert(std::size(kMixSlotCases) == std::size(kMixSlots), "a reference for every mix slot");

// The widths, in units, and the weights of each.
struct Width {
  ptrdiff_t n;
  std::vector<uint32_t> weights;
};

std::vector<Width> Widths(Rng& rng) {
  std::vector<ptrdiff_t> ns;
  for (ptrdiff_t n = 0; n <= 70; ++n) ns.push_back(n);
  for (int k = 0; k < Cases(24); ++k) ns.push_back(rng.Between(71, 400));
  std::vector<Width> widths;
  for (const ptrdiff_t n : ns) {
    Width width{n, {0, 1, 7, 8, 128, 248, 255, 256}};
    if (n == 37 || n == 67 || n == 70) {
      width.weights.clear();
      for (uint32_t w = 0; w <= 256; ++w) width.weights.push_back(w);
    } else {
      for (int k = 0; k < 4; ++k)
        width.weights.push_back(static_cast<uint32_t>(rng.Between(0, 256)));
    }
    widths.push_back(std::move(width));
  }
  return widths;
}

TEST(Mixes, EverySlotOfEverySetMatchesTheFormula) {
  for (size_t i = 0; i < std::size(kMixSlotCases); ++i) {
    ASSERT_EQ(kMixSlotCases[i].slot, kMixSlots[i]) << kMixSlotCases[i].name;
  }
  Rng rng(41);
  const std::vector<Width> widths = Widths(rng);
  for (const MixSlotCase& slot : kMixSlotCases) {
    for (const Width& width : widths) {
      const auto bytes = static_cast<size_t>(width.n * slot.unitBytes);
      // a against one fence and b against the other, then the other way round.
      for (const Fence fence : kFences) {
        GuardedBytes a(bytes, fence);
        GuardedBytes b(bytes, fence == Fence::kEnd ? Fence::kStart : Fence::kEnd);
        rng.Fill(a.data(), bytes);
        rng.Fill(b.data(), bytes);
        const std::vector<uint8_t> aCopy(a.data(), a.data() + bytes);
        const std::vector<uint8_t> bCopy(b.data(), b.data() + bytes);
        for (const uint32_t w : width.weights) {
          const ptrdiff_t offset = rng.Between(0, 31);
          std::vector<uint8_t> target(bytes + 2 * kGuard + 32);
          rng.Fill(target.data(), target.size());
          std::vector<uint8_t> expected = target;
          slot.reference(aCopy.data(), bCopy.data(), expected.data() + kGuard + offset, width.n, w);
          ForEachKernelSet([&](const KernelSet& set) {
            std::vector<uint8_t> actual = target;
            (set.*slot.slot)(a.data(), b.data(), actual.data() + kGuard + offset, width.n, w);
            const std::string what = std::string(set.name) + " " + slot.name + " n " +
                                     std::to_string(width.n) + " w " + std::to_string(w) + ", a " +
                                     NameOf(fence) + ", destination offset " +
                                     std::to_string(offset);
            ASSERT_TRUE(SameBytes("destination", expected, actual.data(), kGuard + offset, 0))
                << what;
            ASSERT_TRUE(SameBytes("a", aCopy, a.data(), 0, 0)) << what;
            ASSERT_TRUE(SameBytes("b", bCopy, b.data(), 0, 0)) << what;
          });
        }
      }
    }
  }
}

}  // namespace
