#include <benchmark/benchmark.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "bench/bench_groups.h"

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // Freed frame buffers stay in the heap for the next Cue. Otherwise every
  // Cue of a large stage maps fresh pages, and the time goes to the system
  // zeroing and mapping them (on a virtual machine that hands freed memory
  // back, about 50 ms for a 1920 x 1080 stage at 32 bits) rather than to the
  // module's copies.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  // Frames above the largest threshold (an 8K stage's, 132 MB) too: with no
  // mappings at all, every allocation comes from the heap.
  mallopt(M_MMAP_MAX, 0);
#endif
  RegisterKernelBenchmarks();
  RegisterStepBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
