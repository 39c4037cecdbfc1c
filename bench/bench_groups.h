// Each source file of orvbench registers its own group of benchmarks.
#pragma once

// kernel/<Kernel>/<variant>/<depth>: every kernel under every kernel set.
void RegisterKernelBenchmarks();

// step/<symbol>/<depth>/<phase>[/720p]: Cue, a mid-transition Continue and
// Finish of every transition through the loaded module and the stand-in host.
void RegisterStepBenchmarks();
