# The shipped module, build-win32/bin/ORVPACK1.x32, on this processor under
# Wine (i386): every suite built for 32-bit Windows with mingw-w64 and run
# under Wine loads those bytes, the options dialog and the about box are
# drawn by Wine's USER32 from its templates (pictures in build-wine32/screenshots),
# and tests/pe32/wine32.py plays every transition on it under each kernel set
# the processor has, AVX2 included, every window equal to the native
# module's. Then a copy changed in its AVX2 code must fail.
#
# Wine (i386) is this machine's own wine32:i386 where it can be had at the
# amd64 packages' versions; where it cannot, a private i386 Debian root with
# Wine (build-wine32/root, made by debootstrap, run by scripts/wine32-run),
# which leaves this machine's packages alone. Where neither can be had, or
# this machine runs no 32-bit programs, the leg says why and is skipped.
leg_wine32() {
  need_packages cmake ninja-build googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 xvfb \
    python3-pefile python3-unicorn g++ libgtest-dev libgmock-dev
  local dll=build-win32/bin/ORVPACK1.x32 map=build-win32/ORVPACK1.map
  local oracle=build-pe32/bin/pe32_oracle damaged=build-wine32/ORVPACK1-damaged.x32
  local wine_root rc=0 out
  if ! runs_32bit_programs; then
    leg_skipped="$runs_32bit_why"
    return 0
  fi
  wine32_wine || {
    leg_skipped=$wine32_why
    return 0
  }
  wine_root=$wine32_root
  [ "$wine_root" = - ] && echo "-- Wine (i386): this machine's wine32:i386" ||
    echo "-- Wine (i386): the private i386 root $wine_root"
  JOBS=$jobs scripts/build-windows
  local run=(scripts/wine32-run "$wine_root")
  wine_start build-wine32 "${run[*]}" "${run[*]} --server" WINEARCH=win32 || return 1
  DISPLAY="$wine_display" configure_and_build build-wine32 \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-i686-wine32.cmake" \
    -DORV_WINE32_ROOT="$wine_root" -DORV_WINE32_MODULE="$root/$dll" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_BENCH=OFF || rc=$?
  rm -rf build-wine32/screenshots
  local digest
  digest=$(sha256sum "$dll" | cut -d' ' -f1)
  [ "$rc" = 0 ] && { wine_ctest build-wine32 || rc=$?; }
  if [ "$rc" = 0 ]; then
    cmake -S "$root" -B build-pe32 -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_TOOLS=OFF \
      -DORV_BUILD_BENCH=OFF >/dev/null && cmake --build build-pe32 -j "$jobs" --target pe32_oracle || rc=$?
  fi
  local harness=("${wine_env[@]}" "${run[@]}" build-wine32/bin/win32_harness.exe)
  if [ "$rc" = 0 ]; then
    /usr/bin/python3 tests/pe32/wine32.py run "$dll" "$map" "$oracle" -- "${harness[@]}" |
      tee build-wine32/playbacks.log || rc=$?
  fi
  if [ "$rc" = 0 ] && grep -q "^wine32: ORV_SIMD=avx2 not played" build-wine32/playbacks.log; then
    # Every other set passed, but what most users' processors run did not.
    leg_skipped="the AVX2 kernels and the damaged AVX2 copy: this processor has no AVX2"
  elif [ "$rc" = 0 ]; then
    echo "-- a copy changed in its AVX2 code must not pass"
    /usr/bin/python3 tests/pe32/wine32.py damage "$dll" "$map" "$damaged" || rc=$?
  fi
  if [ "$rc" = 0 ]; then
    if out=$(/usr/bin/python3 tests/pe32/wine32.py run "$damaged" "$map" "$oracle" --sets avx2 -- \
      "${harness[@]}" 2>&1); then
      echo "FAIL: the damaged module $damaged passed" >&2
      rc=1
    else
      echo "$out"
      grep -q "^wine32: mismatch (avx2 kernels)" <<<"$out" || {
        echo "FAIL: wanted a mismatch under the AVX2 kernels" >&2
        rc=1
      }
    fi
  fi
  wine_stop
  [ "$rc" = 0 ] || return "$rc"
  # The suites and the playbacks ran the file scripts/build-windows made,
  # which the win32 leg reads back and the release ships.
  if [ "$(sha256sum "$dll" | cut -d' ' -f1)" != "$digest" ]; then
    echo "FAIL: $dll changed during the leg" >&2
    return 1
  fi
  echo "wine32: every suite loaded $dll, sha256 $digest"
  local shot
  for shot in options about; do
    [ -s "build-wine32/screenshots/$shot.png" ] || {
      echo "FAIL: no picture of the $shot dialog in build-wine32/screenshots" >&2
      return 1
    }
  done
  echo "wine32 checks passed: $dll as Wine (i386) runs it; the dialogs as its USER32 draws" \
    "them: build-wine32/screenshots/options.png, about.png"
}

# Finds Wine (i386): wine32_root is "-" for this machine's own, else the
# private root's folder; or returns 1 with the reason in wine32_why. The root
# holds the release's packages and its updates but not the security suite,
# whose i386 list is the one that fails to download where the root is needed;
# it runs nothing but the leg's own programs.
wine32_wine() {
  local dir=build-wine32/root
  wine32_root=-
  need_i386_packages wine32:i386 && return 0
  echo "-- this machine's wine32:i386 cannot be had: $i386_why"
  wine32_root=$root/$dir
  if [ "$(id -u)" != 0 ] || ! unshare --mount --propagation private true 2>/dev/null; then
    wine32_why="no Wine (i386): $i386_why; and a private i386 root needs root and mount"
    wine32_why+=" namespaces (debootstrap, unshare, chroot), which this machine does not give"
    return 1
  fi
  [ -x "$dir/usr/lib/wine/wine" ] && return 0
  need_packages debootstrap
  echo "-- making the private i386 root $dir (debootstrap, then Wine)"
  rm -rf "$dir.part"
  local mirror=http://deb.debian.org/debian log=build-wine32/root.log
  mkdir -p build-wine32
  if ! { debootstrap --arch=i386 --variant=minbase bookworm "$dir.part" "$mirror" &&
    echo "deb $mirror bookworm-updates main" >>"$dir.part/etc/apt/sources.list" &&
    unshare --mount --propagation private sh -ec '
      mount -t proc proc "$1/proc"
      chroot "$1" apt-get -qq update
      DEBIAN_FRONTEND=noninteractive chroot "$1" apt-get -qq install -y --no-install-recommends \
        wine32 wine' sh "$dir.part"; } >"$log" 2>&1; then
    wine32_why="no Wine (i386): $i386_why; and the private i386 root could not be made (see $log:"
    wine32_why+=" $(grep -m1 -iE '^E:|error|fail' "$log" || tail -n 1 "$log"))"
    return 1
  fi
  mv "$dir.part" "$dir"
}
