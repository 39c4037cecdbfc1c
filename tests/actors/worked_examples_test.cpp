// The worked examples of the actors through the loaded module: the capture's
// fields for known rectangles, the host calls of Cue, Continue and Finish,
// the fade weights, the band sizes, the band positions with the rows and
// columns they copy and write back, the colour phases and the tint.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "tests/actors/playback.h"

using namespace orv::module;

namespace actors_test {
namespace {

class WorkedExamples : public LeakChecked {
 protected:
  // An actor with the portable kernels (or MMX), cued over rect.
  std::unique_ptr<Actor> Cued(Kind kind, Stage& stage, const HostRect& rect,
                              const TransitionParams& params, bool mmx = false) {
    auto actor = std::make_unique<Actor>(host, ClassOf(kind));
    cpu = CpuFeatures{mmx ? 1 : 0, 1};
    actor->SetProperty(PropertyColorChoice, reinterpret_cast<intptr_t>(&colour));
    actor->SetProperty(PropertyCpuFeatures, reinterpret_cast<intptr_t>(&cpu));
    EXPECT_EQ(actor->Cue(stage, rect, params), 0);
    return actor;
  }

  CpuFeatures cpu{0, 1};
  int32_t colour = 6;
};

TEST_F(WorkedExamples, CaptureOf640By480At16BitsAndTheHostCalls) {
  Stage stage(host, 640, 480, 16);
  stage.Fill(1);
  const HostRect rect{100, 13, 300, 250};
  const TransitionParams params{64, 1000, 0, 0};
  auto actor = std::make_unique<Actor>(host, ClassOf(Kind::kFade));
  actor->SetProperty(PropertyCpuFeatures, reinterpret_cast<intptr_t>(&cpu));
  host.calls.clear();
  ASSERT_EQ(actor->Cue(stage, rect, params), 0);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"GetNativeInfo window", "GetNativeInfo offscreen",
                                                  "GetDepth offscreen"}));
  const FrameCapture& c = actor->fields<FadeFields>().capture;
  EXPECT_EQ(c.depth, 16);
  EXPECT_EQ(c.bytesPerPixel, 2);
  EXPECT_EQ(c.rowBytes, 1280);
  EXPECT_EQ(c.imageHeight, 480);
  EXPECT_EQ(c.imageWidth, 640);
  EXPECT_EQ(c.alignedLeft, 12);
  EXPECT_EQ(c.captureColumns, 240);
  EXPECT_EQ(c.alignedRight, 252);
  EXPECT_EQ(c.rowStart, 180);
  EXPECT_EQ(c.rowEnd, 380);
  EXPECT_EQ(c.captureRows, 200);
  EXPECT_EQ(c.rectWidth, 237);
  EXPECT_EQ(c.rectHeight, 200);
  EXPECT_EQ(c.targetPixels - stage.offscreen->pixels, 230424);
  EXPECT_EQ(c.windowDC, stage.window->dc);
  EXPECT_EQ(c.offscreenDC, stage.offscreen->dc);
  EXPECT_EQ(c.windowExtra, reinterpret_cast<intptr_t>(&stage.window->header));
  EXPECT_EQ(c.started, 0);
  // Buffers rounded up to 8 bytes inside their blocks.
  for (auto [block, pixels] :
       {std::pair{c.startBlock, c.startPixels}, std::pair{c.endBlock, c.endPixels}}) {
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pixels) % 8, 0u);
    EXPECT_GE(pixels - static_cast<uint8_t*>(block), 0);
    EXPECT_LT(pixels - static_cast<uint8_t*>(block), 8);
  }

  host.calls.clear();
  TransitionParams step = params;
  step.elapsed = 500;
  EXPECT_EQ(actor->Continue(stage, rect, step), 0);
  EXPECT_EQ(c.started, 1);
  EXPECT_TRUE(host.calls.empty()) << "a step copies with BitBlt, not through the host";
  EXPECT_EQ(actor->Finish(stage, rect, step), 0);
  EXPECT_EQ(host.calls, std::vector<std::string>{"Blit offscreen -> window"});
}

TEST_F(WorkedExamples, SpansAndRowsOfTheCapture) {
  struct Case {
    int32_t width, height, depth;
    HostRect rect;
    int32_t rowBytes, alignedLeft, captureColumns, rowStart, rowEnd;
  };
  const Case cases[] = {
      // 101 pixels at 3 bytes: rows of 304 bytes.
      {101, 20, 24, {2, 3, 9, 40}, 304, 0, 40, 11, 18},
      // 3 bytes per pixel: 8-pixel units, a row of 144 bytes.
      {80, 40, 24, {5, 13, 20, 50}, 240, 8, 48, 20, 35},
      // 2 bytes, rows a multiple of 8 bytes.
      {64, 40, 16, {5, 13, 20, 50}, 128, 12, 40, 20, 35},
      // Rows 10..29 of an image 100 high: memory rows 70 to 89.
      {64, 100, 32, {10, 4, 30, 20}, 256, 4, 16, 70, 90},
      // 2 bytes, rows of 204 bytes, bottom 5, left 0: the span would begin 4
      // bytes before column 0, in the previous row; it begins at column 0.
      {102, 100, 16, {2, 0, 5, 30}, 204, 0, 32, 95, 98},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << k.width << "x" << k.height << "x" << k.depth);
    Stage stage(host, k.width, k.height, k.depth);
    auto actor = Cued(Kind::kFade, stage, k.rect, TransitionParams{64, 1000, 0, 0});
    const FrameCapture& c = actor->fields<FadeFields>().capture;
    EXPECT_EQ(c.rowBytes, k.rowBytes);
    EXPECT_EQ(c.alignedLeft, k.alignedLeft);
    EXPECT_EQ(c.captureColumns, k.captureColumns);
    EXPECT_EQ(c.alignedRight, k.alignedLeft + k.captureColumns);
    EXPECT_EQ(c.rowStart, k.rowStart);
    EXPECT_EQ(c.rowEnd, k.rowEnd);
    EXPECT_EQ(c.captureRows, k.rowEnd - k.rowStart);
    EXPECT_EQ(c.captureColumns * c.bytesPerPixel % 8, 0);
  }
}

TEST_F(WorkedExamples, BytesPerPixelFromTheDepth) {
  const std::pair<int32_t, int32_t> depths[] = {{8, 1},  {15, 2}, {16, 2},
                                                {20, 2}, {24, 3}, {32, 4}};
  for (auto [depth, bytes] : depths) {
    SCOPED_TRACE(depth);
    Stage stage(host, 16, 8, depth);
    auto actor = Cued(Kind::kFade, stage, HostRect{0, 0, 8, 16}, TransitionParams{64, 1000, 0, 0});
    const FrameCapture& c = actor->fields<FadeFields>().capture;
    EXPECT_EQ(c.depth, depth);
    EXPECT_EQ(c.bytesPerPixel, bytes);
    EXPECT_EQ(c.startBlock != nullptr, depth > 8) << "buffers only above 8 bits";
  }
}

TEST_F(WorkedExamples, FadeWeightsAndDone) {
  Stage stage(host, 32, 16, 32);
  stage.Fill(2);
  const HostRect rect{0, 0, 16, 32};
  auto actor = Cued(Kind::kFade, stage, rect, TransitionParams{64, 1000, 0, 0});
  const std::tuple<int32_t, int32_t, int32_t> steps[] = {
      {0, 0, 0}, {3, 0, 0}, {250, 64, 0}, {500, 128, 0}, {1000, 256, 0}, {1010, 256, 1}};
  for (auto [elapsed, weight, done] : steps) {
    EXPECT_EQ(actor->Continue(stage, rect, TransitionParams{64, 1000, 0, elapsed}), done);
    EXPECT_EQ(actor->fields<FadeFields>().weight, weight) << "elapsed " << elapsed;
  }
  // The step that reports done still draws, at weight 256: the end frame.
  const Memory before = Snapshot(*stage.offscreen);
  actor->Finish(stage, rect, TransitionParams{64, 1000, 0, 1010});
  EXPECT_EQ(FirstDifference(before, *stage.offscreen), "");
}

TEST_F(WorkedExamples, BandFromTheChunkSize) {
  const std::tuple<int32_t, int32_t, int32_t> chunks[] = {
      {-5, 0, 32},  {16, 0, 32},   {32, 0, 32},   {33, 1, 64},   {64, 1, 64},
      {65, 2, 128}, {127, 2, 128}, {128, 3, 256}, {5000, 3, 256}};
  Stage stage(host, 16, 8, 16);
  for (Kind kind : kAllKinds) {
    const Shape shape = ShapeOf(kind);
    if (shape != Shape::kVertical && shape != Shape::kHorizontal) continue;
    for (auto [chunk, selector, height] : chunks) {
      SCOPED_TRACE(NameOf(kind) + " chunk " + std::to_string(chunk));
      auto actor = Cued(kind, stage, HostRect{0, 0, 8, 16}, TransitionParams{chunk, 1000, 0, 0});
      const int32_t wantSelector = selector, wantHeight = height;  // lambdas take no bindings
      WithFields(*actor, kind, [&](auto& f) {
        if constexpr (requires { f.bandSelector; }) {
          EXPECT_EQ(f.bandSelector, wantSelector);
          EXPECT_EQ(f.bandHeight, wantHeight);
        }
      });
    }
  }
}

// Reads row r (0 = the rectangle's bottom row) or column j of the rectangle.
uint32_t RowPixel(const Memory& m, const HostRect& rect, int32_t r, int32_t c) {
  return m.Get(rect.left + c, rect.bottom - 1 - r);
}

struct BandCheck {
  int32_t elapsed;
  int32_t bandPosition;  // lower edge; the wipes down and left: q - bandHeight
  int32_t revealEdge;
};

// 200 rows (or columns), band 32, duration 1000: the worked table. Each line
// is checked against the model, and the revealEdge field of the actor too.
void CheckBandTable(
    orvhost::Host& host, Kind kind, std::vector<BandCheck> table,
    const std::function<void(const Memory&, const Memory&, const Memory&, int32_t elapsed)>& spot) {
  const bool vertical = ShapeOf(kind) == Shape::kVertical;
  const int32_t width = vertical ? 24 : 200, height = vertical ? 210 : 30;
  const HostRect rect = vertical ? HostRect{5, 0, 205, 24} : HostRect{5, 0, 25, 200};
  Stage stage(host, width, height, 32);
  stage.Fill(static_cast<uint32_t>(kind) + 40);
  const Memory start = Snapshot(*stage.window), end = Snapshot(*stage.offscreen);
  ModelSetup setup;
  setup.kind = kind;
  setup.chunkSize = 16;
  TransitionModel model(setup, rect, start, end);
  Actor actor(host, ClassOf(kind));
  CpuFeatures cpu{0, 1};
  actor.SetProperty(PropertyCpuFeatures, reinterpret_cast<intptr_t>(&cpu));
  ASSERT_EQ(actor.Cue(stage, rect, TransitionParams{16, 1000, 0, 0}), 0);
  model.Cue(SpanAfterCue(actor, kind));
  if (!vertical) {
    const HorizontalWipeFields& f = actor.fields<HorizontalWipeFields>();
    EXPECT_EQ(f.capture.captureRows, 200);  // column-rows
    EXPECT_EQ(f.capture.captureColumns, 20);
    EXPECT_EQ(f.capture.rowBytes, 80);
    EXPECT_EQ(f.capture.targetPixels, f.columnPixels);
    EXPECT_EQ(f.savedCapture.captureRows, 20);
    EXPECT_EQ(f.savedCapture.captureColumns, 200);
    EXPECT_EQ(f.revealEdge, kind == Kind::kWipeLeft ? 200 : 0);
  }
  for (const BandCheck& line : table) {
    SCOPED_TRACE("elapsed " + std::to_string(line.elapsed));
    const TransitionParams params{16, 1000, 0, line.elapsed};
    EXPECT_EQ(actor.Continue(stage, rect, params), 0);
    model.Continue(line.elapsed);
    EXPECT_EQ(model.bandPosition, line.bandPosition);
    EXPECT_EQ(model.revealEdge, line.revealEdge);
    EXPECT_EQ(vertical ? actor.fields<WipeFields>().revealEdge
                       : actor.fields<HorizontalWipeFields>().revealEdge,
              line.revealEdge);
    SamePictures(model, stage, "");
    spot(start, end, Snapshot(*stage.offscreen), line.elapsed);
  }
  actor.Finish(stage, rect, TransitionParams{16, 1000, 0, 1000});
}

TEST_F(WorkedExamples, WipeUpTable) {
  const HostRect rect{5, 0, 205, 24};
  CheckBandTable(host, Kind::kWipeUp, {{0, -32, 0}, {500, 84, 84}, {1000, 200, 200}},
                 [&](const Memory& s, const Memory& e, const Memory& now, int32_t t) {
                   if (t != 500) return;
                   for (int32_t c : {0, 23}) {
                     EXPECT_EQ(RowPixel(now, rect, 83, c), RowPixel(e, rect, 83, c));
                     EXPECT_EQ(RowPixel(now, rect, 84, c), RowPixel(e, rect, 84, c));
                     EXPECT_EQ(
                         RowPixel(now, rect, 100, c),
                         BandMix(RowPixel(s, rect, 100, c), RowPixel(e, rect, 100, c), 16, 4));
                     EXPECT_EQ(RowPixel(now, rect, 116, c), RowPixel(s, rect, 116, c));
                     EXPECT_EQ(RowPixel(now, rect, 117, c), RowPixel(s, rect, 117, c));
                   }
                 });
}

TEST_F(WorkedExamples, WipeDownTable) {
  const HostRect rect{5, 0, 205, 24};
  uint32_t bandAt100 = 0;
  CheckBandTable(host, Kind::kWipeDown, {{0, 200, 200}, {500, 84, 116}, {1000, -32, 116}},
                 [&](const Memory& s, const Memory& e, const Memory& now, int32_t t) {
                   if (t == 500) {
                     EXPECT_EQ(RowPixel(now, rect, 83, 0), RowPixel(s, rect, 83, 0));
                     EXPECT_EQ(RowPixel(now, rect, 84, 0), RowPixel(s, rect, 84, 0));
                     bandAt100 =
                         BandMix(RowPixel(e, rect, 100, 0), RowPixel(s, rect, 100, 0), 16, 4);
                     EXPECT_EQ(RowPixel(now, rect, 100, 0), bandAt100);
                     EXPECT_EQ(RowPixel(now, rect, 116, 0), RowPixel(e, rect, 116, 0));
                     EXPECT_EQ(RowPixel(now, rect, 199, 0), RowPixel(e, rect, 199, 0));
                   }
                   if (t == 1000) {
                     // Only row 0 is drawn: rows 1..83 keep the start frame and
                     // 84..115 the band of the step before, until Finish.
                     EXPECT_EQ(RowPixel(now, rect, 0, 0), RowPixel(e, rect, 0, 0));
                     EXPECT_EQ(RowPixel(now, rect, 50, 0), RowPixel(s, rect, 50, 0));
                     EXPECT_EQ(RowPixel(now, rect, 100, 0), bandAt100);
                     EXPECT_EQ(RowPixel(now, rect, 150, 0), RowPixel(e, rect, 150, 0));
                   }
                 });
}

uint32_t ColumnPixel(const Memory& m, const HostRect& rect, int32_t j, int32_t r) {
  return m.Get(rect.left + j, rect.bottom - 1 - r);
}

TEST_F(WorkedExamples, WipeRightTable) {
  const HostRect rect{5, 0, 25, 200};
  CheckBandTable(host, Kind::kWipeRight, {{0, -32, 0}, {500, 84, 84}, {1000, 200, 200}},
                 [&](const Memory& s, const Memory& e, const Memory& now, int32_t t) {
                   if (t != 500) return;
                   EXPECT_EQ(ColumnPixel(now, rect, 83, 3), ColumnPixel(e, rect, 83, 3));
                   EXPECT_EQ(ColumnPixel(now, rect, 84, 3), ColumnPixel(e, rect, 84, 3));
                   EXPECT_EQ(
                       ColumnPixel(now, rect, 115, 3),
                       BandMix(ColumnPixel(s, rect, 115, 3), ColumnPixel(e, rect, 115, 3), 31, 4));
                   EXPECT_EQ(ColumnPixel(now, rect, 116, 3), ColumnPixel(s, rect, 116, 3));
                 });
}

TEST_F(WorkedExamples, WipeLeftTable) {
  const HostRect rect{5, 0, 25, 200};
  uint32_t bandAt100 = 0;
  CheckBandTable(host, Kind::kWipeLeft, {{0, 200, 200}, {500, 84, 116}, {1000, -32, 116}},
                 [&](const Memory& s, const Memory& e, const Memory& now, int32_t t) {
                   if (t == 500) {
                     EXPECT_EQ(ColumnPixel(now, rect, 84, 7), ColumnPixel(s, rect, 84, 7));
                     bandAt100 =
                         BandMix(ColumnPixel(e, rect, 100, 7), ColumnPixel(s, rect, 100, 7), 16, 4);
                     EXPECT_EQ(ColumnPixel(now, rect, 100, 7), bandAt100);
                     EXPECT_EQ(ColumnPixel(now, rect, 116, 7), ColumnPixel(e, rect, 116, 7));
                   }
                   if (t == 1000) {
                     // Column-rows 0..115 written back: column 0 the end frame,
                     // 1..83 the start frame, 84..115 the band of the step before.
                     EXPECT_EQ(ColumnPixel(now, rect, 0, 7), ColumnPixel(e, rect, 0, 7));
                     EXPECT_EQ(ColumnPixel(now, rect, 1, 7), ColumnPixel(s, rect, 1, 7));
                     EXPECT_EQ(ColumnPixel(now, rect, 83, 7), ColumnPixel(s, rect, 83, 7));
                     EXPECT_EQ(ColumnPixel(now, rect, 100, 7), bandAt100);
                     EXPECT_EQ(ColumnPixel(now, rect, 199, 7), ColumnPixel(e, rect, 199, 7));
                   }
                 });
}

TEST_F(WorkedExamples, ColorPhases) {
  Stage stage(host, 24, 8, 32);
  stage.Fill(5);
  const HostRect rect{0, 0, 8, 24};
  const Memory s = Snapshot(*stage.window), e = Snapshot(*stage.offscreen);
  colour = 4;
  auto actor = Cued(Kind::kColor, stage, rect, TransitionParams{64, 1000, 0, 0});
  const std::tuple<int32_t, int32_t> steps[] = {{0, 0},   {250, 0},  {500, 0},
                                                {750, 0}, {1000, 0}, {1200, 1}};
  for (auto [elapsed, done] : steps) {
    SCOPED_TRACE(elapsed);
    EXPECT_EQ(actor->Continue(stage, rect, TransitionParams{64, 1000, 0, elapsed}), done);
    const Memory now = Snapshot(*stage.offscreen);
    for (int32_t y : {0, 7})
      for (int32_t x : {0, 23}) {
        const uint32_t a = s.Get(x, y), b = e.Get(x, y), t = Tint(b, 4, 4);
        const uint32_t want = elapsed == 0     ? a
                              : elapsed == 250 ? FadeMix(a, t, 128, 4, false)
                              : elapsed == 500 ? t
                              : elapsed == 750 ? FadeMix(t, b, 128, 4, false)
                                               : b;
        EXPECT_EQ(now.Get(x, y), want);
      }
  }
  actor->Finish(stage, rect, TransitionParams{64, 1000, 0, 1200});
}

// The tinted copy shows alone at the middle of the colour transition.
uint32_t TintedThroughTheModule(orvhost::Host& host, int32_t depth, uint32_t pixel,
                                int32_t choice) {
  Stage stage(host, 8, 2, depth);
  const int32_t bpp = depth / 8;
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 8; ++x)
      std::memcpy(stage.offscreen->Row(y) + x * bpp, &pixel, static_cast<size_t>(bpp));
  Actor actor(host, ClassOf(Kind::kColor));
  CpuFeatures cpu{1, 1};
  actor.SetProperty(PropertyColorChoice, reinterpret_cast<intptr_t>(&choice));
  actor.SetProperty(PropertyCpuFeatures, reinterpret_cast<intptr_t>(&cpu));
  const HostRect rect{0, 0, 2, 8};
  actor.Cue(stage, rect, TransitionParams{64, 1000, 0, 0});
  actor.Continue(stage, rect, TransitionParams{64, 1000, 0, 500});
  uint32_t out = 0;
  std::memcpy(&out, stage.window->Row(1) + 3 * bpp, static_cast<size_t>(bpp));
  actor.Finish(stage, rect, TransitionParams{64, 1000, 0, 1001});
  return out;
}

TEST_F(WorkedExamples, TintOfKnownPixels) {
  // Blue 30, green 60, red 90: grey 60.
  EXPECT_EQ(TintedThroughTheModule(host, 24, 0x5A3C1E, 0), 0x3C0000u);      // red
  EXPECT_EQ(TintedThroughTheModule(host, 24, 0x5A3C1E, 3), 0x003C3Cu);      // cyan
  EXPECT_EQ(TintedThroughTheModule(host, 24, 0x5A3C1E, 6), 0x3C3C3Cu);      // black & white
  EXPECT_EQ(TintedThroughTheModule(host, 32, 0x775A3C1E, 1), 0x77003C00u);  // 4th byte kept
  // A white 5-5-5 pixel under red and under yellow.
  EXPECT_EQ(TintedThroughTheModule(host, 16, 0x7FFF, 0), 0x7C00u);
  EXPECT_EQ(TintedThroughTheModule(host, 16, 0x7FFF, 5), 0x7FE0u);
  // 1 + 1 + 0 divided by 3 is 0.
  EXPECT_EQ(TintedThroughTheModule(host, 24, 0x000101, 6), 0u);
  // A choice outside 0..6 keeps all three channels.
  EXPECT_EQ(TintedThroughTheModule(host, 24, 0x5A3C1E, 9), 0x3C3C3Cu);
}

TEST_F(WorkedExamples, PropertiesOtherThanTheKnownOnesChangeNothing) {
  for (Kind kind : kAllKinds) {
    SCOPED_TRACE(NameOf(kind));
    Actor actor(host, ClassOf(kind));
    ClassInstance* owner = actor.object->owner;
    const int32_t size = static_cast<int32_t>(host.RecordOf(owner)->storage.size());
    const std::vector<uint8_t> before(reinterpret_cast<uint8_t*>(owner),
                                      reinterpret_cast<uint8_t*>(owner) + size);
    for (int32_t property : {0, 2, 10, 12, -1}) EXPECT_EQ(actor.SetProperty(property, 0x1234), 0);
    if (ShapeOf(kind) != Shape::kColor) {
      EXPECT_EQ(actor.SetProperty(1, 0x1234), 0);
    }
    EXPECT_EQ(std::memcmp(before.data(), owner, static_cast<size_t>(size)), 0);
    // Property 11 keeps the pointer itself.
    CpuFeatures pair{1, 1};
    EXPECT_EQ(actor.SetProperty(PropertyCpuFeatures, reinterpret_cast<intptr_t>(&pair)), 0);
    EXPECT_NE(std::memcmp(before.data(), owner, static_cast<size_t>(size)), 0);
    EXPECT_EQ(WithFields(actor, kind, [](auto& f) { return f.cpuFeatures; }), &pair);
  }
  // The colour actor copies the value behind property 1.
  Actor actor(host, ClassOf(Kind::kColor));
  int32_t choice = 3;
  EXPECT_EQ(actor.SetProperty(PropertyColorChoice, reinterpret_cast<intptr_t>(&choice)), 0);
  choice = 5;
  EXPECT_EQ(actor.fields<ColorFields>().colorChoice, 3);
}

TEST_F(WorkedExamples, ColorOddDurationHoldsTheWeightAt256) {
  // duration 255: half 127, the step at 255 would weigh 128 * 256 / 127 = 258.
  Stage stage(host, 16, 4, 32);
  stage.Fill(9);
  stage.offscreen->pixels[0] = 255;  // a byte where 258 would spill
  const Memory end = Snapshot(*stage.offscreen);
  const HostRect rect{0, 0, 4, 16};
  auto actor = Cued(Kind::kColor, stage, rect, TransitionParams{64, 255, 0, 0});
  EXPECT_EQ(actor->Continue(stage, rect, TransitionParams{64, 255, 0, 255}), 0);
  EXPECT_EQ(FirstDifference(end, *stage.offscreen), "");
  actor->Finish(stage, rect, TransitionParams{64, 255, 0, 256});
}

}  // namespace
}  // namespace actors_test
