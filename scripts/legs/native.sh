# The native build and every test suite.
leg_native() {
  need_packages cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libpng-dev \
    "${video_packages[@]}"
  configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_BENCH=ON \
    -DORV_REQUIRE_VIDEO=ON
  ctest --test-dir build --output-on-failure -j "$jobs"
}
