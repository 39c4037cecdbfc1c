# The module, the stand-in host bound to the module linked into each program,
# and the module's own suites built for WebAssembly with emscripten and run
# under node: once with the SIMD128 kernels (build-wasm/) and once with the
# portable ones alone (build-wasm-c/), as an engine without SIMD128 needs.
leg_wasm() {
  need_packages cmake ninja-build googletest emscripten nodejs
  # emscripten's own scripts find node's packages (acorn) here.
  export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
  local dir simd
  for dir in build-wasm:ON build-wasm-c:OFF; do
    simd=${dir#*:}
    dir=${dir%%:*}
    configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/wasm32.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_MODULE_ONLY=ON -DORV_WASM_SIMD128="$simd"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
  done
}
