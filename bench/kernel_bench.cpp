// Every kernel under every kernel set the processor runs, over a 1920 x 1080
// rectangle, each timed beside the memory-traffic floor of the same job and,
// for the 32-bit mixes, beside libyuv's ARGBInterpolate.
//
// Within one iteration the kernel, the floor and the peer run in turn on the
// same buffers, so they see the same caches and the same interference. The
// reported time is the kernel's alone (the others run with the timer
// paused); floor_ratio = kernel / floor and peer_ratio = kernel / peer, in
// processor time summed over all iterations.
//
// The floors: a mix reads two frames and writes one, so its floor copies
// the start frame's rows into the target with memcpy and reads the end
// frame's rows; a transposition moves every byte once, so its floor is a
// memcpy of the same bytes; so is the tint's, which reads one frame and
// writes one.
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "actors/row_walks.h"
#include "bench/aligned_bytes.h"
#include "bench/bench_clock.h"
#include "bench/bench_groups.h"
#include "kernels/kernel_dispatch.h"
#include "kernels/pixel_kernels.h"

#if defined(ORV_BENCH_LIBYUV)
#include <libyuv/planar_functions.h>
#endif

namespace {

using namespace orv::kernels;
using namespace orv::actors;
using orvbench::Allocate;
using orvbench::Bytes;
using orvbench::Now;
using orvbench::ReadBytes;

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

// Two captured frames and the offscreen image they mix into.
struct Frames {
  explicit Frames(int32_t depth)
      : bpp(depth / 8),
        rowLength(static_cast<size_t>(kWidth) * bpp),
        rowBytes((rowLength + 3) / 4 * 4),
        start(Allocate(rowLength * kHeight, 1)),
        end(Allocate(rowLength * kHeight, 2)),
        target(Allocate(rowBytes * kHeight, 3)),
        columns(Allocate(rowLength * kHeight, 4)) {
    capture.startPixels = start.get();
    capture.endPixels = end.get();
    capture.targetPixels = target.get();
    capture.bytesPerPixel = bpp;
    capture.rowBytes = static_cast<int32_t>(rowBytes);
    capture.depth = depth;
    capture.captureRows = kHeight;
    capture.captureColumns = kWidth;
  }

  size_t frameBytes() const { return rowLength * kHeight; }

  int32_t bpp;
  size_t rowLength;
  size_t rowBytes;
  Bytes start;
  Bytes end;
  Bytes target;
  Bytes columns;  // column-order buffer of the transpositions
  FrameCapture capture{};
};

void MixFloor(Frames& f) {
  uint64_t sum = 0;
  for (int32_t r = 0; r < kHeight; ++r) {
    std::memcpy(f.target.get() + r * f.rowBytes, f.start.get() + r * f.rowLength, f.rowLength);
    sum += ReadBytes(f.end.get() + r * f.rowLength, f.rowLength);
  }
  benchmark::DoNotOptimize(sum);
}

#if defined(ORV_BENCH_LIBYUV)
void MixPeer(Frames& f) {
  libyuv::ARGBInterpolate(f.start.get(), static_cast<int>(f.rowLength), f.end.get(),
                          static_cast<int>(f.rowLength), f.target.get(),
                          static_cast<int>(f.rowBytes), kWidth, kHeight, 100);
}
#endif

// Bands of 257 rows at positions 257 apart: every row of the rectangle is
// mixed once, at every row weight 0..32.
void BandsOverTheRectangle(BlendKernel kernel, const FrameCapture& capture) {
  for (int32_t position = 0; position < kHeight; position += 257) {
    kernel(capture, 0, 256, position, 3);
  }
}

struct Job {
  std::function<void(Frames&)> kernel;
  std::function<void(Frames&)> floor;
  std::function<void(Frames&)> peer;  // empty: no peer
  size_t bytesMoved;                  // per run, reads and writes
};

void RunJob(benchmark::State& state, const KernelSet* set, int32_t depth,
            const std::function<Job(Frames&)>& makeJob) {
  Frames frames(depth);
  const Job job = makeJob(frames);
  orv::kernels::UseKernelSet(set);
  double kernelTime = 0;
  double floorTime = 0;
  double peerTime = 0;
  for (auto _ : state) {
    const double t0 = Now();
    job.kernel(frames);
    const double t1 = Now();
    state.PauseTiming();
    job.floor(frames);
    const double t2 = Now();
    if (job.peer) job.peer(frames);
    const double t3 = Now();
    state.ResumeTiming();
    kernelTime += t1 - t0;
    floorTime += t2 - t1;
    peerTime += t3 - t2;
  }
  orv::kernels::UseKernelSet(nullptr);
  state.counters["floor_ratio"] = kernelTime / floorTime;
  if (job.peer) state.counters["peer_ratio"] = kernelTime / peerTime;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * job.bytesMoved));
}

Job FadeJob(BlendKernel kernel, Frames& f) {
  Job job{
      [kernel](Frames& f) { kernel(f.capture, 100, 0, 0, 0); }, MixFloor, {}, 3 * f.frameBytes()};
#if defined(ORV_BENCH_LIBYUV)
  if (f.bpp == 4) job.peer = MixPeer;
#endif
  return job;
}

Job BandJob(BlendKernel kernel, Frames& f) {
  Job job{[kernel](Frames& f) { BandsOverTheRectangle(kernel, f.capture); },
          MixFloor,
          {},
          3 * f.frameBytes()};
#if defined(ORV_BENCH_LIBYUV)
  if (f.bpp == 4) job.peer = MixPeer;
#endif
  return job;
}

void CopyFrame(Frames& f) { std::memcpy(f.columns.get(), f.start.get(), f.frameBytes()); }

Job ToColumnsJob(Frames& f) {
  return {
      [](Frames& f) { TransposeToColumns(f.start.get(), f.columns.get(), kWidth, kHeight, f.bpp); },
      CopyFrame,
      {},
      2 * f.frameBytes()};
}

// The column-order buffer back into the offscreen image: 1920 columns of
// 1080 pixels.
Job FromColumnsJob(Frames& f) {
  return {[](Frames& f) {
            TransposeFromColumns(f.columns.get(), f.target.get(), kHeight, kWidth, f.bpp,
                                 f.capture.rowBytes);
          },
          [](Frames& f) { std::memcpy(f.target.get(), f.columns.get(), f.frameBytes()); },
          {},
          2 * f.frameBytes()};
}

// The colour transition's tinted copy, a row at a time as its Cue makes it,
// every channel kept.
Job TintJob(Frames& f) {
  return {[](Frames& f) {
            const uint32_t keep = f.bpp == 2 ? 0x7FFF : 0xFFFFFF;
            for (int32_t r = 0; r < kHeight; ++r) {
              const size_t at = r * f.rowLength;
              TintPixels(f.start.get() + at, f.columns.get() + at, kWidth, f.bpp, keep);
            }
          },
          CopyFrame,
          {},
          2 * f.frameBytes()};
}

void Register(const std::string& kernel, const KernelSet* set, int32_t depth,
              std::function<Job(Frames&)> makeJob) {
  const std::string name = "kernel/" + kernel + "/" + set->name + "/" + std::to_string(depth);
  benchmark::RegisterBenchmark(name.c_str(), [set, depth, makeJob](benchmark::State& state) {
    RunJob(state, set, depth, makeJob);
  })->Unit(benchmark::kMicrosecond);
}

}  // namespace

void RegisterKernelBenchmarks() {
  struct Mix {
    const char* name;
    BlendKernel kernel;
    bool fade;
    bool sixteen;  // serves depths below 24
    bool wide;     // serves depths 24 and 32
  };
  const Mix mixes[] = {
      {"Fade555Step4Weight32", Fade555Step4Weight32, true, true, false},
      {"FadeBytesStep4", FadeBytesStep4, true, false, true},
      {"Fade555Step8Weight256", Fade555Step8Weight256, true, true, false},
      {"FadeBytesStep8", FadeBytesStep8, true, false, true},
      {"BandByDepth", BandByDepth, false, true, true},
      {"Band555", Band555, false, true, false},
      {"BandBytes", BandBytes, false, false, true},
  };
  for (const int32_t depth : {16, 24, 32}) {
    for (const Mix& mix : mixes) {
      if (depth < 24 ? !mix.sixteen : !mix.wide) continue;
      for (const KernelSet* set : orv::kernels::RunnableKernelSets()) {
        const BlendKernel kernel = mix.kernel;
        if (mix.fade) {
          Register(mix.name, set, depth, [kernel](Frames& f) { return FadeJob(kernel, f); });
        } else {
          Register(mix.name, set, depth, [kernel](Frames& f) { return BandJob(kernel, f); });
        }
      }
    }
    for (const KernelSet* set : orv::kernels::RunnableKernelSets()) {
      Register("TransposeToColumns", set, depth, ToColumnsJob);
      Register("TransposeFromColumns", set, depth, FromColumnsJob);
      Register("Tint", set, depth, TintJob);
    }
  }
}
