// Drives whole playbacks through the loaded module from fuzz bytes: any
// stage size and depth, any rectangle, timing and call order, host faults.
// After each input nothing may leak, nothing outside the rectangle may have
// changed, and a Finish after one Cue shows the end frame.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "host/member.h"
#include "tests/fuzz/fuzz_input.h"

using namespace orv::module;

using namespace orvhost;

namespace {

struct Box {
  int32_t top, left, bottom, right;
  bool Contains(int32_t y, int32_t x) const {
    return y >= top && y < bottom && x >= left && x < right;
  }
};

// The rectangle clipped to the image. Bottom and right are exclusive, so a
// reversed rectangle holds no pixel, as the host's own copies treat it.
Box Clip(const HostRect& r, int32_t width, int32_t height) {
  Box b{std::clamp(r.top, 0, height), std::clamp(r.left, 0, width), std::clamp(r.bottom, 0, height),
        std::clamp(r.right, 0, width)};
  b.bottom = std::max(b.bottom, b.top);
  b.right = std::max(b.right, b.left);
  return b;
}

std::vector<uint8_t> Snapshot(Surface& s) {
  std::vector<uint8_t> out(static_cast<size_t>(s.rowBytes) * static_cast<size_t>(s.height));
  std::memcpy(out.data(), s.pixels, out.size());
  return out;
}

// Every pixel outside box equals outside's; inside it equals inside's, or
// anything when inside is null.
bool Matches(Surface& s, const std::vector<uint8_t>& outside, const Box& box,
             const std::vector<uint8_t>* inside) {
  const int32_t bpp = s.depth <= 8 ? 1 : s.depth == 24 ? 3 : s.depth == 32 ? 4 : 2;
  for (int32_t y = 0; y < s.height; ++y) {
    const size_t row = static_cast<size_t>(s.height - 1 - y) * static_cast<size_t>(s.rowBytes);
    for (int32_t x = 0; x < s.width; ++x) {
      const std::vector<uint8_t>* want = box.Contains(y, x) ? inside : &outside;
      if (!want) continue;
      const size_t at = row + static_cast<size_t>(x * bpp);
      if (std::memcmp(s.pixels + at, want->data() + at, static_cast<size_t>(bpp)) != 0)
        return false;
    }
  }
  return true;
}

// Random pixels; 2-byte pixels are 5-5-5 with bit 15 clear, as the host's
// are: the kernels write that bit as 0 in the widened columns too.
void Fill(Surface& s, uint32_t seed) {
  uint32_t x = seed | 1;
  const bool fiveFiveFive = s.depth > 8 && s.depth != 24 && s.depth != 32;
  for (int32_t i = 0; i < s.rowBytes * s.height; ++i) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    s.pixels[i] = static_cast<uint8_t>(x);
    if (fiveFiveFive && (i & 1)) s.pixels[i] &= 0x7F;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Host& host = TheHost();

  // The member: any index the module registers or any other, any colour,
  // through its registry entry and media.
  const std::vector<int32_t>& registered = RegisteredIndices();
  const int32_t index = in.Byte() < 240 ? registered[in.Byte() % registered.size()] : in.Int(100);
  const int32_t color = in.Byte() < 240 ? in.Byte() % 7 : in.Int(100);
  const uint8_t faults = in.Byte();

  static const int32_t kDepths[] = {1, 4, 8, 15, 16, 24, 32, 16, 24, 32, 12, 64};
  const int32_t depth = kDepths[in.Byte() % (sizeof kDepths / sizeof kDepths[0])];
  int32_t width = 1 + in.Raw<uint16_t>() % 4096;
  int32_t height = 1 + in.Raw<uint16_t>() % 4096;
  // Keep each input quick: at most a quarter of a million pixels, any shape.
  while (static_cast<int64_t>(width) * height > (1 << 18)) (width > height ? width : height) /= 2;

  HostRect rect{in.Int(2 * height), in.Int(2 * width), in.Int(2 * height), in.Int(2 * width)};
  TransitionParams params{in.Int(300), in.Int(3000), 0, 0};

  {
    Member member;
    if (member.Create(host) != 0) return 0;
    auto entry = host.NewDict();
    entry->Set("myData", kDictBytes, &index, 4);
    OpsOf<InitFromDictOps>(member.initFromDict).InitFromDict(member.initFromDict, entry.get());
    auto media = host.NewStream();
    const uint8_t be[4] = {static_cast<uint8_t>(color >> 24), static_cast<uint8_t>(color >> 16),
                           static_cast<uint8_t>(color >> 8), static_cast<uint8_t>(color)};
    media->bytes.assign(be, be + 4);
    host.refuseUtilities = faults & 1;
    if (faults & 2) media->failRead = kHostFault;
    member.Load(*media);
    host.refuseUtilities = false;

    auto window = host.NewSurface("window", width, height, depth);
    auto offscreen = host.NewSurface("offscreen", width, height, depth);
    Fill(*window, 0x1234567u ^ static_cast<uint32_t>(size));
    Fill(*offscreen, 0x89ABCDEu ^ static_cast<uint32_t>(size));
    const std::vector<uint8_t> start = Snapshot(*window), end = Snapshot(*offscreen);
    const Box box = Clip(rect, width, height);

    if (faults & 4) host.failCreateInstance = kHostFault;
    if (faults & 8) host.failAllocAt = 1;
    Actor actor;
    member.MakeActor(actor);
    host.failCreateInstance = 0;
    host.failAllocAt = 0;
    // The asset may go before its actor: the actor keeps what it needs.
    if (faults & 16) member.Release();

    int cues = 0;
    bool finishedAfterOneCue = false;
    for (int ops = 0; actor && !in.empty() && ops < 64; ++ops) {
      const uint8_t op = in.Byte() % 8;
      finishedAfterOneCue = false;
      if (op == 0) {
        actor.Cue(*window, *offscreen, rect, params);
        ++cues;
      } else if (op <= 4) {
        int32_t done = -1;
        // Mostly around the duration; Int reaches the far ends too.
        params.elapsed = in.Int(params.duration > 0 ? std::min(params.duration, 1 << 28) * 2 : 200);
        actor.Continue(*window, *offscreen, rect, params, &done);
        Check(done == 0 || done == 1, "Continue left done neither 0 nor 1");
      } else if (op == 5) {
        actor.Finish(*window, *offscreen, rect, params);
        finishedAfterOneCue = cues == 1;
      } else if (op == 6) {
        params.chunkSize = in.Int(300);
        params.duration = in.Int(3000);
      } else {
        actor.Release();
      }
      Check(Matches(*window, start, box, nullptr), "the window changed outside the rectangle");
      Check(Matches(*offscreen, end, box, nullptr),
            "the offscreen image changed outside the rectangle");
      if (finishedAfterOneCue) {
        Check(Matches(*offscreen, end, box, &end), "Finish left the offscreen image changed");
        Check(Matches(*window, start, box, &end), "Finish did not show the end frame");
      }
    }
  }
  CheckNothingLeft(host);
  return 0;
}
