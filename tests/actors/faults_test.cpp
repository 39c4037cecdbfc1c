// The actors under faults: sizes that overflow 32 bits, buffers the heap
// cannot give, durations nothing can be divided by, elapsed times out of
// range, images too wide for the column write-back, rectangles outside the
// image and actors released without Finish. None may crash, write out of
// bounds or keep memory, and the end frame must show at the end.
#include <gtest/gtest.h>
#include <malloc.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "host/member.h"
#include "tests/actors/playback.h"
#include "tests/support/actor_classes.h"
#include "tests/support/asset_peek.h"

using namespace orv::module;

namespace actors_test {
namespace {

class Faults : public LeakChecked {
 protected:
  void SetUp() override {
    // Large blocks always come fresh from the system, so that a limit on the
    // address space reaches them.
#if !defined(_WIN32)
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
    host.recording = false;       // the call log would count as heap in use
    { SCOPED_TRACE("warm-up"); }  // the test framework's per-thread trace stack
    // Whatever the module, the host or the runtime set up on first use is
    // set up before any test counts the heap.
    for (int32_t depth : {8, 16, 24, 32})
      for (Kind kind : kAllKinds) {
        Stage stage(host, 9, 5, depth);
        const HostRect rect{1, 1, 4, 8};
        auto actor = Made(kind);
        actor->Cue(stage, rect, {64, 10, 0, 0});
        actor->Continue(stage, rect, {64, 10, 0, 5});
        actor->Finish(stage, rect, {64, 10, 0, 11});
      }
  }
  std::unique_ptr<Actor> Made(Kind kind) {
    auto actor = std::make_unique<Actor>(host, ClassOf(kind));
    actor->SetProperty(PropertyColorChoice, reinterpret_cast<intptr_t>(&colour));
    actor->SetProperty(PropertyCpuFeatures, reinterpret_cast<intptr_t>(&cpu));
    return actor;
  }

  // Plays kind as a cut: nothing drawn at the first step, which reports done,
  // the offscreen image holding the end frame from Cue on, and the end frame
  // in the window after Finish.
  void ExpectCut(Kind kind, Stage& stage, const HostRect& rect, const TransitionParams& params) {
    SCOPED_TRACE(NameOf(kind));
    const Memory window = Snapshot(*stage.window), offscreen = Snapshot(*stage.offscreen);
    ModelSetup setup;
    setup.kind = kind;
    setup.cut = true;
    TransitionModel model(setup, rect, window, offscreen);
    auto actor = Made(kind);
    ASSERT_EQ(actor->Cue(stage, rect, params), 0);
    EXPECT_EQ(CaptureOf(*actor, kind).startBlock, nullptr);
    EXPECT_EQ(CaptureOf(*actor, kind).endBlock, nullptr);
    SamePictures(model, stage, "after Cue");
    for (int32_t elapsed : {0, params.duration / 2}) {
      TransitionParams step = params;
      step.elapsed = elapsed;
      EXPECT_EQ(actor->Continue(stage, rect, step), 1);
      SamePictures(model, stage, "after a step");
    }
    ASSERT_EQ(actor->Finish(stage, rect, params), 0);
    model.Finish();
    SamePictures(model, stage, "after Finish");
  }

  CpuFeatures cpu{1, 1};
  int32_t colour = 2;
};

TEST_F(Faults, SizesBeyond32BitsPlayACut) {
  // 16384 x 32769 pixels of 4 bytes: the frame alone is over 2^31 bytes. The
  // window covers the top left corner only; the pixel block is mapped but
  // never touched beyond that corner.
  std::unique_ptr<orvhost::Surface> offscreen;
  try {
    offscreen = host.NewSurface("offscreen", 16384, 32769, 32);
  } catch (const std::exception&) {
    GTEST_SKIP() << "no address space for a 2 GiB image here";
  }
  Stage stage(host.NewSurface("window", 64, 64, 32), std::move(offscreen));
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 64; ++x) {
      const uint32_t v = static_cast<uint32_t>(x * 64 + y) * 2654435761u;
      std::memcpy(stage.offscreen->Row(y) + x * 4, &v, 4);
    }
  const int64_t heap = HeapInUse();
  const HostRect rects[] = {{0, 0, 32769, 16384}, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}};
  for (const HostRect& rect : rects)
    for (Kind kind : kAllKinds) {
      auto actor = Made(kind);
      const TransitionParams params{64, 1000, 0, 0};
      ASSERT_EQ(actor->Cue(stage, rect, params), 0);
      EXPECT_EQ(CaptureOf(*actor, kind).startBlock, nullptr) << NameOf(kind);
      EXPECT_EQ(actor->Continue(stage, rect, params), 1) << NameOf(kind);
      EXPECT_EQ(actor->Finish(stage, rect, params), 0);
      for (int32_t y : {0, 31, 63})
        EXPECT_EQ(std::memcmp(stage.window->Row(y), stage.offscreen->Row(y), 64 * 4), 0)
            << NameOf(kind) << ": the end frame after Finish";
    }
  if (HeapCounted()) {
    EXPECT_NEAR(HeapInUse(), heap, kHeapSlack);
  }
}

// The process's address space for the duration of a scope: what it maps now
// and room bytes more.
#if defined(_WIN32)
// No per-process address-space limit on Windows: the cases that need it skip.
class AddressSpaceLimit {
 public:
  explicit AddressSpaceLimit(int64_t) {}
  bool active() const { return false; }
};
#else
class AddressSpaceLimit {
 public:
  explicit AddressSpaceLimit(int64_t room) {
    getrlimit(RLIMIT_AS, &saved_);
    std::ifstream status("/proc/self/status");
    std::string key;
    int64_t kilobytes = 0;
    while (status >> key)
      if (key == "VmSize:" && status >> kilobytes) break;
    rlimit limit = saved_;
    limit.rlim_cur = static_cast<rlim_t>(kilobytes * 1024 + room);
    active_ = kilobytes > 0 && setrlimit(RLIMIT_AS, &limit) == 0;
    if (active_) {
      // The limit must hold here: under emulation or a checker it may not.
      void* probe = std::malloc(static_cast<size_t>(room) + (64 << 20));
      if (probe) active_ = false;
      std::free(probe);
    }
  }
  ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &saved_); }
  bool active() const { return active_; }

 private:
  rlimit saved_{};
  bool active_ = false;
};
#endif

TEST_F(Faults, BuffersTheHeapCannotGivePlayACut) {
  // The sanitizer's allocator and valgrind need address space of their own.
  if (UnderSanitizer() || UnderValgrind()) GTEST_SKIP() << "a checker needs the address space";
  // 2048 x 2048 pixels of 4 bytes: each buffer about 16 MiB. Only Cue runs
  // under the limit; everything the test keeps is made before.
  Stage stage(host, 2048, 2048, 32);
  stage.Fill(3);
  const Memory window = Snapshot(*stage.window), offscreen = Snapshot(*stage.offscreen);
  const HostRect rect{0, 0, 2048, 2048};
  const TransitionParams params{64, 1000, 0, 0};
  constexpr int64_t kMiB = 1 << 20;
  const int64_t heap = HeapInUse();
  for (Kind kind : kAllKinds) {
    // Room for no buffer, for one, and (actors with a third block) for two.
    for (int64_t room : {8 * kMiB, 24 * kMiB, 40 * kMiB}) {
      if (room == 40 * kMiB && !HasSecondBuffer(kind)) continue;
      SCOPED_TRACE(NameOf(kind) + ", room for " + std::to_string(room / kMiB) + " MiB");
      auto actor = Made(kind);
      {
        AddressSpaceLimit limit(room);
        if (!limit.active()) GTEST_SKIP() << "the address-space limit does not hold here";
        ASSERT_EQ(actor->Cue(stage, rect, params), 0);
      }
      EXPECT_EQ(CaptureOf(*actor, kind).startBlock, nullptr);
      EXPECT_EQ(CaptureOf(*actor, kind).endBlock, nullptr);
      EXPECT_EQ(FirstDifference(window, *stage.window), "");
      EXPECT_EQ(FirstDifference(offscreen, *stage.offscreen), "") << "the end frame after Cue";
      EXPECT_EQ(actor->Continue(stage, rect, params), 1);
      EXPECT_EQ(FirstDifference(window, *stage.window), "") << "nothing drawn";
      EXPECT_EQ(actor->Finish(stage, rect, params), 0);
      EXPECT_EQ(FirstDifference(offscreen, *stage.window), "") << "the end frame after Finish";
      std::memcpy(stage.window->pixels, window.bytes.data(), window.bytes.size());
    }
  }
  if (HeapCounted()) {
    EXPECT_NEAR(HeapInUse(), heap, kHeapSlack);
  }
}

TEST_F(Faults, DurationsBelowWhatTheActorDividesByEndAtTheFirstStep) {
  for (Kind kind : kAllKinds)
    for (int32_t duration : {0, -5, INT_MIN, ShapeOf(kind) == Shape::kColor ? 1 : 0}) {
      SCOPED_TRACE(NameOf(kind) + " duration " + std::to_string(duration));
      Stage stage(host, 37, 23, 24);
      stage.Fill(static_cast<uint32_t>(duration) + 7);
      const HostRect rect{2, 3, 20, 33};
      const Memory end = Snapshot(*stage.offscreen);
      auto actor = Made(kind);
      ASSERT_EQ(actor->Cue(stage, rect, TransitionParams{64, duration, 0, 0}), 0);
      EXPECT_EQ(actor->Continue(stage, rect, TransitionParams{64, duration, 0, 0}), 1);
      // The step shows the end frame, in both pictures.
      EXPECT_EQ(FirstDifference(end, *stage.offscreen), "");
      for (int32_t y = rect.top; y < rect.bottom; ++y)
        ASSERT_EQ(std::memcmp(stage.window->Row(y) + rect.left * 3,
                              stage.offscreen->Row(y) + rect.left * 3,
                              static_cast<size_t>(rect.right - rect.left) * 3),
                  0);
      EXPECT_EQ(actor->Continue(stage, rect, TransitionParams{64, duration, 0, 9}), 1);
      EXPECT_EQ(actor->Finish(stage, rect, TransitionParams{64, duration, 0, 9}), 0);
      EXPECT_EQ(FirstDifference(end, *stage.offscreen), "");
    }
}

TEST_F(Faults, ElapsedTimesAndDurationsAtTheEndsOfTheRange) {
  // Before the start counts as the start; products of huge durations and
  // elapsed times are exact.
  for (Kind kind : kAllKinds) {
    PlayAndCompare(host, Play{kind, 32, 40, 30, HostRect{3, 5, 28, 37}, false, 64, INT_MAX, 3, 3});
    PlayAndCompare(host, Play{kind, 16, 40, 30, HostRect{0, 0, 30, 40}, true, 200, 1 << 30, 1, 4});
  }
  auto actor = Made(Kind::kFade);
  Stage stage(host, 16, 8, 32);
  const HostRect rect{0, 0, 8, 16};
  actor->Cue(stage, rect, TransitionParams{64, 1000, 0, 0});
  EXPECT_EQ(actor->Continue(stage, rect, TransitionParams{64, 1000, 0, INT_MIN}), 0);
  EXPECT_EQ(actor->fields<FadeFields>().weight, 0);
  EXPECT_EQ(actor->Continue(stage, rect, TransitionParams{64, INT_MAX, 0, INT_MAX / 2}), 0);
  EXPECT_EQ(actor->fields<FadeFields>().weight, 127);
  EXPECT_EQ(actor->Continue(stage, rect, TransitionParams{64, INT_MAX, 0, INT_MAX}), 0);
  EXPECT_EQ(actor->fields<FadeFields>().weight, 256);
  actor->Finish(stage, rect, TransitionParams{64, 1000, 0, 0});
}

TEST_F(Faults, HorizontalWipesOnImagesTooWideToWriteBackPlayACut) {
  // Rows of 131200 bytes at 2 bytes per pixel: past what a 16-bit count of
  // pixels reaches. The other actors play as usual.
  Stage stage(host, 65600, 3, 16);
  stage.Fill(8);
  const HostRect rect{0, 65000, 3, 65600};
  for (Kind kind : {Kind::kWipeLeft, Kind::kWipeRight})
    ExpectCut(kind, stage, rect, {64, 100, 0, 0});
  PlayAndCompare(host, Play{Kind::kWipeUp, 16, 65600, 3, rect, false, 64, 100, 0, 1});
}

TEST_F(Faults, RectanglesOutsideTheImageOrReversedAllocateNothing) {
  Stage stage(host, 40, 30, 24);
  stage.Fill(12);
  const int64_t heap = HeapInUse();
  for (const HostRect& rect :
       {HostRect{30, 0, 60, 40}, HostRect{0, 40, 30, 90}, HostRect{-20, -20, 0, 0},
        HostRect{-5, 10, -5, 20}, HostRect{20, 10, 5, 30}, HostRect{10, 20, 15, 10}})
    for (Kind kind : kAllKinds) ExpectCut(kind, stage, rect, {64, 1000, 0, 0});
  if (HeapCounted()) {
    EXPECT_NEAR(HeapInUse(), heap, kHeapSlack);
  }
}

TEST_F(Faults, ActorsReleasedWithoutFinishKeepNothing) {
  // Big enough that every buffer is a mapping of its own.
  for (int32_t depth : {8, 16, 24, 32})
    for (Kind kind : kAllKinds)
      for (int steps : {0, 1, 2}) {
        SCOPED_TRACE(NameOf(kind) + " at " + std::to_string(depth) + " after " +
                     std::to_string(steps) + " steps");
        Stage stage(host, 400, 300, depth);
        const HostRect rect{10, 10, 290, 390};
        const int64_t heap = HeapInUse();
        auto actor = Made(kind);
        actor->Cue(stage, rect, TransitionParams{64, 1000, 0, 0});
        if (depth > 8 && HeapCounted()) {
          EXPECT_GT(HeapInUse(), heap + 2 * 280 * 380 * (depth / 8));
        }
        for (int i = 0; i < steps; ++i)
          actor->Continue(stage, rect, TransitionParams{64, 1000, 0, 400 * i});
        actor.reset();
        if (HeapCounted()) {
          EXPECT_NEAR(HeapInUse(), heap, kHeapSlack);
        }
      }
}

// Every actor made by an asset keeps that asset, whose CpuFeatures pair it
// reads, until the actor's instance ends, also when it is released in the
// middle of a playback; its buffers go with it.
TEST_F(Faults, EveryActorKeepsItsAssetUntilItEnds) {
  for (int32_t index = 0; index < kTransitionsKnown; ++index) {
    SCOPED_TRACE(index);
    orvhost::Member member;
    ASSERT_EQ(member.Create(host), 0);
    AssetFieldsOf(member).transitionIndex = static_cast<orv::module::TransitionIndex>(index);
    ClassInstance* asset = InstanceOf(member);
    orvhost::Actor actor;
    ASSERT_EQ(member.MakeActor(actor), 0);
    member.Release();
    EXPECT_EQ(host.liveInstances(), 2) << "the asset lives on with its actor";
    EXPECT_EQ(host.RecordOf(asset)->refs, 1);

    Stage stage(host, 400, 300, 16);
    stage.Fill(static_cast<uint32_t>(index));
    const HostRect rect{2, 3, 298, 397};
    const int64_t heap = HeapInUse();
    ASSERT_EQ(actor.Cue(*stage.window, *stage.offscreen, rect, {64, 1000, 0, 0}), 0);
    int32_t done = -1;
    ASSERT_EQ(actor.Continue(*stage.window, *stage.offscreen, rect, {64, 1000, 0, 300}, &done), 0);
    EXPECT_EQ(done, 0);
    if (HeapCounted()) {
      EXPECT_GT(HeapInUse(), heap + 2 * 296 * 394 * 2);
    }
    actor.Release();
    EXPECT_EQ(host.liveInstances(), 0) << "the actor, then the asset";
    if (HeapCounted()) {
      EXPECT_NEAR(HeapInUse(), heap, kHeapSlack) << "the buffers went";
    }
  }
}

// A second Cue starts the playback over: the end frame goes back first, the
// buffers of the first Cue are freed, and the window as it is becomes the
// start frame.
TEST_F(Faults, CueAgainStartsOver) {
  for (Kind kind : kAllKinds)
    for (int32_t depth : {16, 24, 32}) {
      SCOPED_TRACE(NameOf(kind) + " at " + std::to_string(depth));
      Stage stage(host, 300, 260, depth);
      stage.Fill(static_cast<uint32_t>(depth) + static_cast<uint32_t>(kind));
      const Memory offscreen = Snapshot(*stage.offscreen);
      const HostRect rect{0, 3, 255, 300};
      const int64_t heap = HeapInUse();
      auto actor = Made(kind);
      ASSERT_EQ(actor->Cue(stage, rect, {16, 900, 0, 0}), 0);
      EXPECT_EQ(actor->Continue(stage, rect, {16, 900, 0, 400}), 0);
      ModelSetup setup;
      setup.kind = kind;
      setup.mmx = true;
      setup.chunkSize = 33;
      setup.colorChoice = colour;
      {
        TransitionModel model(setup, rect, Snapshot(*stage.window), offscreen);
        ASSERT_EQ(actor->Cue(stage, rect, {33, 1000, 0, 0}), 0);
        model.Cue(SpanAfterCue(*actor, kind));
        SamePictures(model, stage, "after the second Cue");
        for (int32_t elapsed : {0, 300, 700, 1000, 1001}) {
          EXPECT_EQ(actor->Continue(stage, rect, {33, 1000, 0, elapsed}), model.Continue(elapsed));
          SamePictures(model, stage, "after the step at " + std::to_string(elapsed));
        }
        ASSERT_EQ(actor->Finish(stage, rect, {33, 1000, 0, 1001}), 0);
        model.Finish();
        SamePictures(model, stage, "after Finish");
      }
      actor.reset();
      if (HeapCounted()) {
        EXPECT_NEAR(HeapInUse(), heap, kHeapSlack);
      }
    }
}

// Without property 11 there is no pair to read: the portable kernels are
// used. Steps and Finish without a Cue have nothing to draw.
TEST_F(Faults, ActorsWithoutPairOrCueStaySafe) {
  for (Kind kind : kAllKinds) {
    SCOPED_TRACE(NameOf(kind));
    Stage stage(host, 30, 20, 16);
    stage.Fill(21);
    const HostRect rect{1, 2, 19, 28};
    ModelSetup setup;
    setup.kind = kind;
    setup.colorChoice = 0;  // no property 1 either: the fields start at 0
    TransitionModel model(setup, rect, Snapshot(*stage.window), Snapshot(*stage.offscreen));
    Actor actor(host, ClassOf(kind));
    ASSERT_EQ(actor.Cue(stage, rect, {64, 1000, 0, 0}), 0);
    model.Cue(SpanAfterCue(actor, kind));
    // Weight 25 (fade and colour) mixes differently in the two 16-bit forms.
    EXPECT_EQ(actor.Continue(stage, rect, {64, 1000, 0, 100}), model.Continue(100));
    SamePictures(model, stage, "a step with the portable kernels");
    actor.Finish(stage, rect, {64, 1000, 0, 1001});

    Actor uncued(host, ClassOf(kind));
    const Memory window = Snapshot(*stage.window), offscreen = Snapshot(*stage.offscreen);
    EXPECT_EQ(uncued.Continue(stage, rect, {64, 1000, 0, 10}), 1);
    EXPECT_EQ(uncued.Finish(stage, rect, {64, 1000, 0, 10}), 0);
    EXPECT_EQ(FirstDifference(offscreen, *stage.offscreen), "");
  }
}

}  // namespace
}  // namespace actors_test
