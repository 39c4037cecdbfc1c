// Compiled-in resources for builds without a resource compiler.
