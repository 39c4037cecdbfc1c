# The native build and every test suite.
native_cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_BENCH=ON -DORV_REQUIRE_VIDEO=ON)

leg_native() {
  need_packages cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libpng-dev \
    libgif-dev strace "${video_packages[@]}"
  configure_and_build build "${native_cmake_args[@]}"
  ctest --test-dir build --output-on-failure -j "$jobs"
}
