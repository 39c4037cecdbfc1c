# Each fuzz target for a bounded time (FUZZ_SECONDS, default 60), under
# AddressSanitizer and UndefinedBehaviorSanitizer, starting from the seed
# corpus in the repo. New crashing inputs land in build-fuzz/artifacts; keep
# them in tests/fuzz/corpus/<target>/ as regression inputs.
leg_fuzz() {
  need_packages cmake ninja-build clang libclang-rt-dev libgtest-dev libgmock-dev
  configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DORV_FUZZ=ON -DORV_SANITIZE=ON \
    -DORV_BUILD_BENCH=OFF -DORV_BUILD_TOOLS=OFF
  local seconds=${FUZZ_SECONDS:-60} target
  mkdir -p build-fuzz/artifacts
  for target in actor_fuzz media_fuzz; do
    local work=build-fuzz/corpus-$target lengths=()
    # libFuzzer lengthens inputs a byte at a time from the longest seed; a
    # playback near the 64-operation cap is some 300 bytes, so actor_fuzz
    # tries every length up to 512 from the start.
    [ "$target" = actor_fuzz ] && lengths=(-len_control=0 -max_len=512)
    mkdir -p "$work"
    cp -n tests/fuzz/corpus/$target/* "$work"/ 2>/dev/null || true
    echo "-- fuzz $target for ${seconds}s"
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      build-fuzz/bin/$target -max_total_time="$seconds" -print_final_stats=1 "${lengths[@]}" \
      -artifact_prefix=build-fuzz/artifacts/$target- "$work" 2>&1 |
      grep -E 'stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|DEADLY|==[0-9]+==' || true
    if ls build-fuzz/artifacts/$target-* >/dev/null 2>&1; then
      echo "fuzz $target found a failing input:" build-fuzz/artifacts/$target-*
      return 1
    fi
  done
}
