// Each source file of orvbench registers its own group of benchmarks.
#pragma once

// kernel/<Kernel>/<variant>/<depth>: every kernel under every kernel set.
void RegisterKernelBenchmarks();
