#include "tests/actors/playback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <sstream>

using namespace orv::module;

namespace actors_test {

std::vector<int32_t> ElapsedTimes(int32_t d, bool before) {
  std::vector<int32_t> out;
  if (before) out.push_back(-3);
  if (d <= 0) {
    out.insert(out.end(), {0, 5});
    return out;
  }
  std::vector<int32_t> steps = {
      0, 1, d / 5, d / 3, d / 2, d / 2 + 1, static_cast<int32_t>(int64_t{d} * 2 / 3), d - 1, d};
  if (d < INT32_MAX) steps.push_back(d + 1);
  std::sort(steps.begin(), steps.end());
  steps.erase(std::unique(steps.begin(), steps.end()), steps.end());
  out.insert(out.end(), steps.begin(), steps.end());
  return out;
}

std::string Describe(const Play& p) {
  std::ostringstream out;
  out << NameOf(p.kind) << " " << p.width << "x" << p.height << "x" << p.depth << " rect ("
      << p.rect.top << "," << p.rect.left << "," << p.rect.bottom << "," << p.rect.right << ") "
      << (p.mmx ? "mmx" : "portable") << " chunk " << p.chunkSize << " duration " << p.duration
      << " colour " << p.colorChoice;
  return out.str();
}

bool SamePictures(const TransitionModel& model, const Stage& stage, const std::string& when) {
  for (auto [expected, actual] : {std::pair{&model.window, stage.window.get()},
                                  std::pair{&model.offscreen, stage.offscreen.get()}}) {
    const std::string difference = FirstDifference(*expected, *actual);
    if (!difference.empty()) {
      ADD_FAILURE() << when << ": " << difference;
      return false;
    }
  }
  return true;
}

Span SpanAfterCue(Actor& actor, Kind kind) {
  const FrameCapture& c = ShapeOf(kind) == Shape::kHorizontal
                              ? actor.fields<HorizontalWipeFields>().savedCapture
                              : CaptureOf(actor, kind);
  return {c.alignedLeft, c.captureColumns};
}

void PlayAndCompare(orvhost::Host& host, const Play& p) {
  SCOPED_TRACE(Describe(p));
  Stage stage(host, p.width, p.height, p.depth);
  stage.Fill(p.seed);
  ModelSetup setup;
  setup.kind = p.kind;
  setup.mmx = p.mmx;
  setup.chunkSize = p.chunkSize;
  setup.duration = p.duration;
  setup.colorChoice = p.colorChoice;
  setup.cut = p.depth <= 8;
  TransitionModel model(setup, p.rect, Snapshot(*stage.window), Snapshot(*stage.offscreen));

  Actor actor(host, ClassOf(p.kind));
  ASSERT_NE(actor.object, nullptr);
  CpuFeatures cpu{p.mmx ? 1 : 0, 1};
  int32_t colour = p.colorChoice;
  if (ShapeOf(p.kind) == Shape::kColor) {
    EXPECT_EQ(actor.SetProperty(PropertyColorChoice, reinterpret_cast<intptr_t>(&colour)), 0);
  }
  EXPECT_EQ(actor.SetProperty(PropertyCpuFeatures, reinterpret_cast<intptr_t>(&cpu)), 0);

  TransitionParams params{p.chunkSize, p.duration, 0, 0};
  ASSERT_EQ(actor.Cue(stage, p.rect, params), 0);
  model.Cue(SpanAfterCue(actor, p.kind));
  if (!SamePictures(model, stage, "after Cue")) return;
  for (int32_t elapsed : ElapsedTimes(p.duration, p.seed % 3 == 0)) {
    params.elapsed = elapsed;
    const int32_t done = actor.Continue(stage, p.rect, params);
    ASSERT_EQ(done, model.Continue(elapsed)) << "elapsed " << elapsed;
    if (!SamePictures(model, stage, "after the step at " + std::to_string(elapsed))) return;
    if (done) break;
  }
  ASSERT_EQ(actor.Finish(stage, p.rect, params), 0);
  model.Finish();
  SamePictures(model, stage, "after Finish");
}

}  // namespace actors_test
