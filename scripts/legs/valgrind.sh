# Every native test program under valgrind: no leak, no invalid access.
# orvplay is built without video here: Debian's libavcodec loads libhwy, whose
# start-up code uses an instruction valgrind cannot run (SIGILL before main).
# The video encoders run under the sanitizers instead.
leg_valgrind() {
  need_packages cmake ninja-build g++ libgtest-dev libgmock-dev libpng-dev libgif-dev valgrind
  configure_and_build build-valgrind -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_BENCH=OFF \
    -DORV_VIDEO=OFF
  local failed=0 t
  for t in build-valgrind/bin/*_test; do
    echo "-- valgrind $(basename "$t")"
    if ! ORV_TEST_QUICK=1 valgrind -q --error-exitcode=99 --leak-check=full \
      --errors-for-leak-kinds=definite,indirect,possible --show-leak-kinds=definite,indirect,possible \
      "$t" --gtest_brief=1 >"build-valgrind/$(basename "$t").log" 2>&1; then
      tail -40 "build-valgrind/$(basename "$t").log"
      failed=1
    fi
  done
  for t in actor_fuzz media_fuzz; do
    echo "-- valgrind ${t}_replay"
    if ! valgrind -q --error-exitcode=99 --leak-check=full \
      --errors-for-leak-kinds=definite,indirect,possible \
      "build-valgrind/bin/${t}_replay" "tests/fuzz/corpus/$t" >"build-valgrind/$t.log" 2>&1; then
      tail -40 "build-valgrind/$t.log"
      failed=1
    fi
  done
  [ "$failed" = 0 ]
}
