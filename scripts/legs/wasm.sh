# The module, the stand-in host bound to the module linked into each program,
# and the module's own suites built for WebAssembly with emscripten and run
# under node: once with the SIMD128 kernels (build-wasm/) and once with the
# portable ones alone (build-wasm-c/), as an engine without SIMD128 needs.
# Then the browser page built from both, in headless Chromium: its frames
# against the native orvplay's, and a user's session (build-wasm/page-check/).
leg_wasm() {
  need_packages cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev \
    libpng-dev libgif-dev nlohmann-json3-dev "${video_packages[@]}" emscripten nodejs chromium ffmpeg python3
  # emscripten's own scripts find node's packages (acorn) here.
  export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
  # Configures both builds and puts the page in build-wasm/site/.
  JOBS=$jobs scripts/build-site
  local dir
  for dir in build-wasm build-wasm-c; do
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
  done

  # orvplay plays the same cases natively. Two odd-sized pictures (and one of
  # another size, which the page must refuse), drawn by ffmpeg.
  configure_and_build build "${native_cmake_args[@]}"
  local check=build-wasm/page-check
  rm -rf "$check"
  mkdir -p "$check"
  ffmpeg -v error -f lavfi -i "testsrc2=size=334x202,format=rgb24,crop=333:201:0:0" \
    -frames:v 1 "$check/first.png"
  ffmpeg -v error -f lavfi -i "mandelbrot=size=333x201,format=rgb24" -frames:v 1 "$check/second.png"
  ffmpeg -v error -f lavfi -i "testsrc2=size=320x200,format=rgb24" -frames:v 1 "$check/other.png"
  python3 tests/browser/page_check.py build-wasm/site build/bin/orvplay "$check" \
    --first "$check/first.png" --second "$check/second.png" --different "$check/other.png" \
    --rect 17,23,190,301
}
