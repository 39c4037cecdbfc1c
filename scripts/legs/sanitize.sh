# The native suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# halting on the first report.
leg_sanitize() {
  need_packages cmake ninja-build g++ libgtest-dev libgmock-dev libpng-dev libgif-dev strace \
    "${video_packages[@]}"
  configure_and_build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON \
    -DORV_BUILD_BENCH=OFF -DORV_BUILD_TOOLS=ON
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
}
