// Every transition step as the host runs it: the loaded module, the stand-in
// host, an actor made by a placed member, cued, stepped and finished on a
// 1920 x 1080 stage at 16, 24 and 32 bits, over the whole stage and over a
// 1280 x 720 rectangle at an odd offset (suffix /720p), and over the whole of
// smaller and larger stages, for how the cost grows with the pixel count
// (suffix /stage<width>x<height>: 320 x 240 up to 7680 x 4320).
//
//   step/<symbol>/<depth>/cue       Cue: both frames captured, and what the
//                                   transition prepares (tint, column order)
//   step/<symbol>/<depth>/continue  one mid-transition Continue, the per-step
//                                   presentation included
//   step/<symbol>/<depth>/finish    Finish: the end frame back, buffers freed,
//                                   the rectangle shown
//
// The Continue is the step from elapsed 1000 to 1033 ms of a 2000 ms playback
// at 30 frames a second (chunk 64: a 64-row band). Each iteration first steps
// to 1000 with the timer paused, then times the step to 1033: the wipes'
// reveal edges move back with the paused step, so the timed one copies the
// rows or columns newly passed, as a real step does, every time.
//
// Beside each step, in the same iteration, its memory-traffic floor: memcpy
// (and, for the second frame of a mix, a plain read) of the bytes the step
// must read and write at the least, over the same memory (the window, the
// offscreen image and, for a Continue, the actor's buffers):
//
//   Continue  fade, colour       mix the rectangle (read two frames, write one)
//                                + presentation (copy the rectangle)
//             vertical wipes     mix the band's rows in the rectangle + copy the
//                                rows newly passed + presentation
//             horizontal wipes   mix the band's column-rows + copy the column-rows
//                                newly passed (into the working image) + write the
//                                band and those column-rows back into the image
//                                (as a copy of the same bytes) + presentation
//   Cue       every transition   3 copies of the rectangle: the end frame out of
//                                the offscreen image, the window into it, the
//                                start frame out of it
//             colour             + 1: the tinted copy (read the end frame, write)
//             horizontal wipes   + 1: the working image (the frames taken
//                                straight into column order)
//   Finish    every transition   2 copies: the end frame back, then the window
//
// The fade and colour steps at 24 and 32 bits also run a peer: libyuv's
// ARGBInterpolate over the same bytes and weight from the actor's buffers
// into the offscreen image, plus the same presentation copy, that is the
// whole step done with libyuv.
//
// The reported time is the step's alone. floor_ratio = step / floor and
// peer_ratio = step / peer, in this thread's processor time summed over all
// iterations. The floor and the peer run twice per iteration, once to bring
// their buffers into the caches as the paused step does for the timed one,
// then timed; the three take turns at coming first.
//
// Cue and Finish read frames a host's other work has long pushed out of the
// caches, which the warmed floor does not. For them floor_ratio compares
// cold runs: before each, the step's and the floor's alike, a buffer twice
// the last-level cache is written over (the size from sysfs, 64 MB where the
// system does not say), for the first kColdRuns iterations of a run (the
// flushes cost far more than a small stage's step). warm_floor_ratio keeps
// the warm comparison beside it, and cold_us the step's cold time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "actors/actor.h"
#include "bench/aligned_bytes.h"
#include "bench/bench_clock.h"
#include "bench/bench_groups.h"
#include "host/member.h"
#include "host/stand_in_host.h"

#if defined(ORV_BENCH_LIBYUV)
#include <libyuv/planar_functions.h>
#endif

using namespace orv::module;

namespace {

using namespace orv::actors;
using orvbench::Allocate;
using orvbench::Bytes;
using orvbench::Now;
using orvbench::ReadBytes;

constexpr int32_t kDuration = 2000;
constexpr int32_t kChunk = 64;  // a 64-row band
constexpr int32_t kBand = 64;
constexpr int32_t kBefore = 1000;  // elapsed of the paused step
constexpr int32_t kMid = 1033;     // elapsed of the timed step: the next frame at 30 fps

enum class Kind { kFade, kRising, kFalling, kRisingColumns, kFallingColumns, kColor };
enum class Phase { kCue, kContinue, kFinish };

// Each transition's floor model, by symbol. The benchmarks run every
// transition the module registers; one without a model here stops the run.
struct Transition {
  const char* symbol;
  Kind kind;
};
constexpr Transition kFloorModels[] = {
    {"OrvFade", Kind::kFade},
    {"OrvWipeUp", Kind::kRising},
    {"OrvWipeDown", Kind::kFalling},
    {"OrvWipeLeft", Kind::kFallingColumns},
    {"OrvWipeRight", Kind::kRisingColumns},
    {"OrvColor", Kind::kColor},
};

// A stage and the rectangle the transition plays over.
struct Area {
  const char* suffix;
  int32_t width, height;
  HostRect rect;
};
constexpr Area kAreas[] = {
    {"", 1920, 1080, {0, 0, 1080, 1920}},
    {"/720p", 1920, 1080, {181, 301, 181 + 720, 301 + 1280}},
    {"/stage320x240", 320, 240, {0, 0, 240, 320}},
    {"/stage640x480", 640, 480, {0, 0, 480, 640}},
    {"/stage1280x720", 1280, 720, {0, 0, 720, 1280}},
    {"/stage3840x2160", 3840, 2160, {0, 0, 2160, 3840}},
    {"/stage7680x4320", 7680, 4320, {0, 0, 4320, 7680}},
};

// The lines (rows, or column-rows of the horizontal wipes) a step at elapsed
// kMid works on, after a step at kBefore; [first, end) each.
struct Lines {
  int64_t bandFirst = 0, bandEnd = 0;    // mixed
  int64_t copyFirst = 0, copyEnd = 0;    // copied whole from the end frame
  int64_t writeFirst = 0, writeEnd = 0;  // written back (horizontal wipes)
};

// The band position and edges as the wipes compute them, over n lines.
Lines LinesOf(Kind kind, int64_t n) {
  auto clip = [n](int64_t v) { return std::clamp<int64_t>(v, 0, n); };
  Lines l;
  if (kind == Kind::kRising || kind == Kind::kRisingColumns) {
    const int64_t p0 = (n + kBand) * kBefore / kDuration - kBand;
    const int64_t p1 = (n + kBand) * kMid / kDuration - kBand;
    l.bandFirst = clip(p1), l.bandEnd = clip(p1 + kBand + 1);
    l.copyFirst = clip(p0), l.copyEnd = clip(p1);
    l.writeFirst = clip(p0), l.writeEnd = clip(p1 + kBand);
  } else {
    const int64_t q0 = (kDuration - kBefore) * (n + kBand) / kDuration;
    const int64_t q1 = (kDuration - kMid) * (n + kBand) / kDuration;
    l.bandFirst = clip(q1 - kBand), l.bandEnd = clip(q1 + 1);
    l.copyFirst = clip(q1), l.copyEnd = clip(q0);
    l.writeFirst = clip(q1 - kBand), l.writeEnd = clip(q0);
  }
  return l;
}

// The floor of each step over the same memory as the step: the stage's two
// images (x: the offscreen image, y: the window) and, for a Continue, the
// actor's own buffers (a, b: the two frames the step mixes, work: the
// horizontal wipes' working image). Cue and Finish have no buffers to share
// (they make and free them): there the floor has its own of the same sizes.
class Floor {
 public:
  Floor(int32_t depth, const Area& area, uint8_t* offscreen, uint8_t* window)
      : bpp_(depth / 8),
        imageRowBytes_((size_t(area.width) * bpp_ + 3) / 4 * 4),
        imageHeight_(area.height),
        rows_(area.rect.bottom - area.rect.top),
        columns_(area.rect.right - area.rect.left),
        rowLength_(size_t(columns_) * bpp_),
        frameBytes_(rowLength_ * rows_),
        ownA_(Allocate(frameBytes_, 1)),
        ownB_(Allocate(frameBytes_, 2)),
        ownWork_(Allocate(frameBytes_, 3)),
        a_(ownA_.get()),
        b_(ownB_.get()),
        work_(ownWork_.get()),
        x_(offscreen + RectOffset(area.rect)),
        y_(window + RectOffset(area.rect)) {}

  // The actor's buffers from now on; a null work keeps the floor's own.
  void Use(uint8_t* a, uint8_t* b, uint8_t* work) {
    a_ = a;
    b_ = b;
    if (work) work_ = work;
  }

  // The bytes each part moves, reads and writes counted.
  int64_t Continue(Kind kind) {
    int64_t moved = Present();
    if (kind == Kind::kFade || kind == Kind::kColor)
      return moved + Mix(x_, imageRowBytes_, 0, rows_, rowLength_);
    if (kind == Kind::kRising || kind == Kind::kFalling) {
      const Lines l = LinesOf(kind, rows_);
      moved += Mix(x_, imageRowBytes_, l.bandFirst, l.bandEnd, rowLength_);
      return moved + Copy(x_, imageRowBytes_, b_, rowLength_, l.copyFirst, l.copyEnd, rowLength_);
    }
    // Column-rows of rows_ pixels each, in the packed working image.
    const Lines l = LinesOf(kind, columns_);
    const size_t line = size_t(rows_) * bpp_;
    moved += Mix(work_, line, l.bandFirst, l.bandEnd, line);
    moved += Copy(work_, line, b_, line, l.copyFirst, l.copyEnd, line);
    // The written-back column-rows hold n x rows_ pixels: as many bytes into
    // the image's rows.
    const size_t n = size_t(l.writeEnd - l.writeFirst) * bpp_;
    if (n > 0)
      moved += Copy(x_ + l.writeFirst * bpp_, imageRowBytes_, work_ + l.writeFirst * line, n, 0,
                    rows_, n);
    return moved;
  }

  int64_t Cue(Kind kind) {
    int64_t moved = Copy(a_, rowLength_, x_, imageRowBytes_, 0, rows_, rowLength_);
    moved += Copy(x_, imageRowBytes_, y_, imageRowBytes_, 0, rows_, rowLength_);
    moved += Copy(b_, rowLength_, x_, imageRowBytes_, 0, rows_, rowLength_);
    if (kind == Kind::kColor || kind == Kind::kRisingColumns || kind == Kind::kFallingColumns)
      moved += Copy(work_, rowLength_, a_, rowLength_, 0, rows_, rowLength_);
    return moved;
  }

  int64_t Finish() {
    return Copy(x_, imageRowBytes_, a_, rowLength_, 0, rows_, rowLength_) + Present();
  }

#if defined(ORV_BENCH_LIBYUV)
  // The mix and the presentation of a fade step, done with libyuv: the
  // rectangle's bytes taken four at a time.
  void Peer(int weight) {
    libyuv::ARGBInterpolate(a_, int(rowLength_), b_, int(rowLength_), x_, int(imageRowBytes_),
                            int(rowLength_ / 4), rows_, weight);
    Present();
  }
#endif

 private:
  size_t RectOffset(const HostRect& rect) const {
    return size_t(imageHeight_ - rect.bottom) * imageRowBytes_ + size_t(rect.left) * bpp_;
  }

  // The rectangle from the offscreen image to the window.
  int64_t Present() { return Copy(y_, imageRowBytes_, x_, imageRowBytes_, 0, rows_, rowLength_); }

  // Lines first..end-1 of length bytes: frame a copied to the target, frame b read.
  int64_t Mix(uint8_t* to, size_t stride, int64_t first, int64_t end, size_t length) {
    uint64_t sum = 0;
    for (int64_t i = first; i < end; ++i) {
      std::memcpy(to + i * stride, a_ + i * length, length);
      sum += ReadBytes(b_ + i * length, length);
    }
    benchmark::DoNotOptimize(sum);
    return std::max<int64_t>(end - first, 0) * 3 * int64_t(length);
  }

  static int64_t Copy(uint8_t* to, size_t toStride, const uint8_t* from, size_t fromStride,
                      int64_t first, int64_t end, size_t length) {
    for (int64_t i = first; i < end; ++i)
      std::memcpy(to + i * toStride, from + i * fromStride, length);
    benchmark::ClobberMemory();
    return std::max<int64_t>(end - first, 0) * 2 * int64_t(length);
  }

  int32_t bpp_;
  size_t imageRowBytes_;
  int32_t imageHeight_;
  int32_t rows_, columns_;
  size_t rowLength_, frameBytes_;
  Bytes ownA_, ownB_, ownWork_;
  uint8_t *a_, *b_, *work_;
  uint8_t *x_, *y_;
};

// The buffers a mid-transition Continue mixes and copies from.
struct StepBuffers {
  uint8_t *a, *b, *work;
};

StepBuffers BuffersOf(Kind kind, InterfaceObject* actor) {
  switch (kind) {
    case Kind::kFade: {
      const FrameCapture& c = FieldsOf<FadeFields>(actor).capture;
      return {c.startPixels, c.endPixels, nullptr};
    }
    case Kind::kRising:
    case Kind::kFalling: {
      const FrameCapture& c = FieldsOf<WipeFields>(actor).capture;
      return {c.startPixels, c.endPixels, nullptr};
    }
    case Kind::kRisingColumns:
    case Kind::kFallingColumns: {
      const HorizontalWipeFields& f = FieldsOf<HorizontalWipeFields>(actor);
      return {f.capture.startPixels, f.capture.endPixels, f.columnPixels};
    }
    case Kind::kColor: {
      // The second half: the tinted copy into the end frame.
      const ColorFields& f = FieldsOf<ColorFields>(actor);
      return {f.tintedPixels, f.capture.endPixels, nullptr};
    }
  }
  return {};
}

void Check(HResult rc, const char* what) {
  if (rc != 0) throw std::runtime_error(std::string(what) + " failed");
}

// The stand-in host with the module loaded and its transitions registered,
// made once for all benchmarks.
orvhost::Host& SharedHost() {
  static orvhost::Host* host = [] {
    auto* h = new orvhost::Host;
    h->recording = false;
    Check(orvhost::RegisterTransitions(*h), "RegisterTransitions");
    return h;
  }();
  return *host;
}

const orvhost::Dict& EntryOf(orvhost::Host& host, const std::string& symbol) {
  for (const auto& entry : host.registry) {
    const orvhost::DictValue* v = entry->Find("symbolString");
    if (v && v->AsText() == symbol) return *entry;
  }
  throw std::runtime_error("no registry entry for " + symbol);
}

const Transition& ModelOf(const std::string& symbol) {
  for (const Transition& t : kFloorModels)
    if (symbol == t.symbol) return t;
  throw std::runtime_error("step_bench: no floor model for the transition " + symbol +
                           "; give it one in kFloorModels");
}

// A placed member, the window and the offscreen image of one benchmark.
struct StepStage {
  StepStage(const Transition& t, int32_t depth, const Area& area)
      : host(SharedHost()), rect(area.rect), params{kChunk, kDuration, 0, 0} {
    Check(member.Place(host, EntryOf(host, t.symbol)), "Place");
    window = host.NewSurface("window", area.width, area.height, depth);
    offscreen = host.NewSurface("offscreen", area.width, area.height, depth);
    const size_t bytes = size_t(window->rowBytes) * area.height;
    for (size_t i = 0; i < bytes; ++i) {
      window->pixels[i] = static_cast<uint8_t>(i * 7 + 1);
      offscreen->pixels[i] = static_cast<uint8_t>(i * 13 + 2);
    }
    shownAtCue.assign(window->pixels, window->pixels + bytes);
  }

  void Make() { Check(member.MakeActor(actor), "MakeActor"); }
  void Cue() { Check(actor.Cue(*window, *offscreen, rect, params), "Cue"); }
  void StepAt(int32_t elapsed) {
    params.elapsed = elapsed;
    int32_t done = 0;
    Check(actor.Continue(*window, *offscreen, rect, params, &done), "Continue");
  }
  void Finish() { Check(actor.Finish(*window, *offscreen, rect, params), "Finish"); }
  // Finish shows the end frame in the window; the next Cue starts from the
  // window as it was.
  void RestoreWindow() { std::memcpy(window->pixels, shownAtCue.data(), shownAtCue.size()); }

  orvhost::Host& host;
  HostRect rect;
  TransitionParams params;
  orvhost::Member member;
  std::unique_ptr<orvhost::Surface> window, offscreen;
  orvhost::Actor actor;
  std::vector<uint8_t> shownAtCue;
};

#if defined(ORV_BENCH_LIBYUV)
// The weight of the timed step, for the peer.
int PeerWeight(Kind kind) {
  if (kind == Kind::kColor) return (kMid - kDuration / 2) * 256 / (kDuration / 2);
  return kMid * 256 / kDuration;
}
#endif

// One of the jobs an iteration runs: made ready (untimed), run (timed), put
// away (untimed).
struct Job {
  std::function<void()> ready, run, after;
  double time = 0;
  double coldTime = 0;
};

// Cold runs per benchmark run of a Cue or Finish.
constexpr int kColdRuns = 16;

// The largest cache's size in bytes as sysfs gives it ("32768K"), or 0.
size_t LastLevelCacheBytes() {
  size_t best = 0;
  int bestLevel = 0;
  for (int index = 0; index < 8; ++index) {
    const std::string dir = "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index);
    std::ifstream levelFile(dir + "/level"), sizeFile(dir + "/size");
    int level = 0;
    std::string size;
    if (!(levelFile >> level) || !(sizeFile >> size)) continue;
    char* unit = nullptr;
    size_t bytes = std::strtoull(size.c_str(), &unit, 10);
    if (unit && (*unit == 'K' || *unit == 'k')) bytes <<= 10;
    if (unit && *unit == 'M') bytes <<= 20;
    if (level >= bestLevel && bytes > 0) best = bytes, bestLevel = level;
  }
  return best;
}

// Pushes everything out of the caches: every line of a buffer twice the
// last-level cache written.
void FlushCaches() {
  static const size_t bytes = [] {
    const size_t llc = LastLevelCacheBytes();
    return 2 * (llc > 0 ? llc : size_t(64) << 20);
  }();
  static const Bytes buffer = Allocate(bytes, 5);
  volatile uint8_t* p = buffer.get();
  for (size_t i = 0; i < bytes; i += 64) p[i] = static_cast<uint8_t>(p[i] + 1);
}

void RunStep(benchmark::State& state, const Transition& t, int32_t depth, const Area& area,
             Phase phase) {
  StepStage stage(t, depth, area);
  Floor floor(depth, area, stage.offscreen->pixels, stage.window->pixels);
  int64_t moved = 0;
  auto runFloor = [&] {
    switch (phase) {
      case Phase::kCue:
        moved = floor.Cue(t.kind);
        break;
      case Phase::kContinue:
        moved = floor.Continue(t.kind);
        break;
      case Phase::kFinish:
        moved = floor.Finish();
        break;
    }
  };
  Job step, floorJob{runFloor, runFloor, [] {}}, peerJob;
  switch (phase) {
    case Phase::kCue:
      step.ready = [&] {
        stage.RestoreWindow();
        stage.Make();
      };
      step.run = [&] { stage.Cue(); };
      step.after = [&] {
        stage.Finish();
        stage.actor.Release();
      };
      break;
    case Phase::kContinue:
      stage.Make();
      stage.Cue();
      stage.StepAt(0);
      {
        const StepBuffers b = BuffersOf(t.kind, stage.actor.get());
        floor.Use(b.a, b.b, b.work);
      }
      step.ready = [&] { stage.StepAt(kBefore); };
      step.run = [&] { stage.StepAt(kMid); };
      step.after = [] {};
      break;
    case Phase::kFinish:
      step.ready = [&] {
        stage.RestoreWindow();
        stage.Make();
        stage.Cue();
        stage.StepAt(kMid);
      };
      step.run = [&] { stage.Finish(); };
      step.after = [&] { stage.actor.Release(); };
      break;
  }
  std::vector<Job*> jobs{&step, &floorJob};
  bool peer = false;
#if defined(ORV_BENCH_LIBYUV)
  peer =
      phase == Phase::kContinue && depth >= 24 && (t.kind == Kind::kFade || t.kind == Kind::kColor);
  if (peer) {
    const int weight = PeerWeight(t.kind);
    auto run = [&floor, weight] { floor.Peer(weight); };
    peerJob = {run, run, [] {}};
    jobs.push_back(&peerJob);
  }
#endif
  // The jobs take turns at coming first: each then follows the others' work
  // equally often, whatever that leaves in the caches.
  const bool cold = phase != Phase::kContinue;
  int coldRuns = 0;
  if (cold) {
    // One whole Cue and Finish first, untimed: the heap then holds the
    // actor's frames' memory, touched, before the first timed run, as it
    // does for every later one (a large stage may run a single iteration).
    step.ready();
    step.run();
    step.after();
  }
  size_t turn = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (size_t k = 0; k < jobs.size(); ++k) {
      Job& job = *jobs[(turn + k) % jobs.size()];
      job.ready();
      if (&job == &step) state.ResumeTiming();
      const double t0 = Now();
      job.run();
      const double t1 = Now();
      if (&job == &step) state.PauseTiming();
      job.time += t1 - t0;
      job.after();
    }
    if (cold && coldRuns < kColdRuns) {
      ++coldRuns;
      for (size_t k = 0; k < jobs.size(); ++k) {
        Job& job = *jobs[(turn + k) % jobs.size()];
        job.ready();
        FlushCaches();
        const double t0 = Now();
        job.run();
        job.coldTime += Now() - t0;
        job.after();
      }
    }
    ++turn;
    state.ResumeTiming();
  }
  if (phase == Phase::kContinue) stage.Finish();
  stage.actor.Release();
  state.counters["floor_ratio"] = step.time / floorJob.time;
  if (cold && coldRuns > 0) {
    state.counters["warm_floor_ratio"] = state.counters["floor_ratio"];
    state.counters["floor_ratio"] = step.coldTime / floorJob.coldTime;
    state.counters["cold_us"] = 1e6 * step.coldTime / coldRuns;
  }
  if (peer) state.counters["peer_ratio"] = step.time / peerJob.time;
  state.SetBytesProcessed(state.iterations() * moved);
}

}  // namespace

void RegisterStepBenchmarks() {
  const std::pair<Phase, const char*> phases[] = {
      {Phase::kCue, "cue"}, {Phase::kContinue, "continue"}, {Phase::kFinish, "finish"}};
  for (const auto& entry : SharedHost().registry) {
    const orvhost::DictValue* symbol = entry->Find("symbolString");
    if (!symbol) throw std::runtime_error("a registry entry without symbolString");
    const Transition& t = ModelOf(symbol->AsText());
    for (const int32_t depth : {16, 24, 32}) {
      for (const auto& [phase, phaseName] : phases) {
        for (const Area& area : kAreas) {
          const std::string name = std::string("step/") + t.symbol + "/" + std::to_string(depth) +
                                   "/" + phaseName + area.suffix;
          const Phase p = phase;
          benchmark::RegisterBenchmark(name.c_str(), [&t, depth, &area,
                                                      p](benchmark::State& state) {
            RunStep(state, t, depth, area, p);
          })->Unit(benchmark::kMicrosecond);
        }
      }
    }
  }
}
