// Whole transitions through the loaded module: every actor at 16, 24 and 32
// bits (and 8, a cut) over rectangles inside the image, on each edge, of odd
// and one-pixel sizes, partly and wholly outside, with both kernel families,
// several chunk sizes and durations. After Cue, after every step and after
// Finish both pictures must equal the model, byte for byte over the whole
// pixel blocks: inside the rectangle the transition, outside it (padding
// included) what was there before.
#include "tests/actors/playback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <sstream>

using namespace orv::module;

namespace actors_test {
namespace {

bool Quick() { return std::getenv("ORV_TEST_QUICK") != nullptr; }

std::vector<HostRect> RectsFor(int32_t w, int32_t h) {
  return {
      {5, 7, h - 6, w - 9},                  // inside
      {0, 3, std::min(11, h), w - 4},        // on the top edge
      {h - 9, 2, h, w - 3},                  // on the bottom edge
      {4, 0, h - 3, 13},                     // on the left edge
      {3, w - 11, h - 2, w},                 // on the right edge
      {0, 0, h, w},                          // the whole image
      {h / 2, 2, h / 2 + 1, w - 1},          // one pixel high
      {1, w / 2, h - 1, w / 2 + 1},          // one pixel wide
      {3, 5, 16, 22},                        // odd sizes
      {-5, -7, 9, 12},                       // partly outside, top left
      {h - 4, w - 5, h + 6, w + 9},          // partly outside, bottom right
      {h + 2, 0, h + 10, w},                 // wholly below
      {-10, -10, -1, -1},                    // wholly above and left
      {0, w, h, w + 20},                     // wholly right
      {INT_MIN, INT_MIN, INT_MAX, INT_MAX},  // everything
      {20, 10, 5, 30},                       // upside down: nothing
      {h / 2, 3, h / 2, w - 3},              // no rows: plays, drawing nothing
      {2, w / 2, h - 2, w / 2},              // no columns: plays, drawing nothing
      {h, w, h, w},                          // no area, in the bottom right corner
  };
}

class PlaybackTest : public LeakChecked, public ::testing::WithParamInterface<KindFacts> {
 protected:
  // Every image of a depth with its rectangles, both kernel families, the
  // chunk sizes, durations and colours taken in turn.
  void PlayAll(Kind kind, int32_t depth) {
    struct Image {
      int32_t width, height;
      bool allRects;
    };
    // An odd width (rows not a whole number of 8-byte units), one whose pixel
    // block fills whole pages (both ends against the guard pages), tiny ones
    // (spans wider than a row) and one larger than the bands.
    std::vector<Image> images = {{61, 47, true}, {3, 5, false}, {1, 4, false}, {301, 203, false}};
    images.push_back(depth == 16   ? Image{32, 64, true}
                     : depth == 24 ? Image{128, 32, true}
                                   : Image{64, 16, true});
    const int32_t chunks[] = {16, 33, 100, 200, 64};
    const int32_t durations[] = {1000, 7, 255, 3, 2000, 1};
    uint32_t n = 0;
    for (const Image& image : images) {
      if (Quick() && image.width != 61) continue;
      const std::vector<HostRect> rects = RectsFor(image.width, image.height);
      for (size_t i = 0; i < rects.size(); ++i) {
        if (!image.allRects && i != 0 && i != 5 && i != 9 && i != 10) continue;
        if (Quick() && i % 3 != 0) continue;
        for (bool mmx : {false, true}) {
          if (Quick() && mmx != (i % 2 == 1)) continue;
          ++n;
          PlayAndCompare(
              host, Play{kind, depth, image.width, image.height, rects[i], mmx,
                         chunks[n % std::size(chunks)], durations[n % std::size(durations)],
                         static_cast<int32_t>(n % 8), n * 7919u + static_cast<uint32_t>(depth)});
          if (HasFatalFailure() || HasNonfatalFailure()) return;
        }
      }
    }
  }
};

TEST_P(PlaybackTest, At16Bits) { PlayAll(GetParam().kind, 16); }
TEST_P(PlaybackTest, At24Bits) { PlayAll(GetParam().kind, 24); }
TEST_P(PlaybackTest, At32Bits) { PlayAll(GetParam().kind, 32); }
TEST_P(PlaybackTest, At8BitsIsACut) {
  for (const HostRect& r :
       {HostRect{5, 7, 40, 50}, HostRect{0, 0, 47, 61}, HostRect{-5, -7, 9, 12}})
    PlayAndCompare(host, Play{GetParam().kind, 8, 61, 47, r, true, 64, 1000, 2, 11});
}

INSTANTIATE_TEST_SUITE_P(EveryKind, PlaybackTest, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.id); });

}  // namespace
}  // namespace actors_test
