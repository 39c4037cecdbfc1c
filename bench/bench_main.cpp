#include <benchmark/benchmark.h>

#include "bench/bench_groups.h"

int main(int argc, char** argv) {
  RegisterKernelBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
