// The environment of the node process that runs the program, for getenv
// (ORV_SIMD, ORV_TEST_QUICK, ORV_TEST_SEED). A page has none.
Module['preRun'] = Module['preRun'] || [];
Module['preRun'].push(function () {
  if (typeof process !== 'undefined' && process.env) Object.assign(ENV, process.env);
});
