// The environment of the node process that runs the program, for getenv
// (ORV_SIMD, ORV_TEST_QUICK, ORV_TEST_SEED).
Module['preRun'] = Module['preRun'] || [];
Module['preRun'].push(function () {
  Object.assign(ENV, process.env);
});
