# The module and every test suite built for 64-bit Windows with mingw-w64 and
# run under wine64, so that the Windows code paths meet real Win32 services:
# the stand-in host loads the module with LoadLibrary, the module finds its
# bitmaps with FindResourceA/LoadResource, and the surfaces are DIB sections
# copied with BitBlt. (The shipped 32-bit module itself runs under 32-bit Wine
# in the wine32 leg, and in a CPU emulator in the pe32 leg; the i386 leg
# covers the 32-bit ABI of every suite.)
leg_wine() {
  need_packages cmake ninja-build googletest g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 \
    xvfb
  local rc=0
  wine_start build-wine /usr/lib/wine/wine64 /usr/lib/wine/wineserver64 || return 1
  DISPLAY="$wine_display" configure_and_build build-wine \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_BENCH=OFF || rc=$?
  [ "$rc" = 0 ] && { wine_ctest build-wine || rc=$?; }
  wine_stop
  return "$rc"
}

# wine_start DIR WINE WINESERVER [ENV...]: a virtual X server, and the prefix
# DIR/wineprefix made and its server and wine's own services started, for the
# whole leg: started here with their output in a file, the services do not
# hold the pipe of the first test program's caller open, and no test program
# pays their start-up. WINE and WINESERVER may be commands of several words
# (a quoted string, split on blanks); ENV goes into the environment of both.
# Sets wine_display and wine_env, which wine_stop and wine_ctest use.
wine_start() {
  local dir=$1 wine=$2 server=$3
  shift 3
  wine_run=($wine)
  wine_server=($server)
  mkdir -p "$dir"
  rm -f "$dir/xvfb.display"
  # The dialogs need a display: one for the whole leg, shared by wine's
  # services and every test program.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/xvfb.display" \
    2>"$dir/xvfb.log" &
  wine_xvfb=$!
  local tries=0
  until [ -s "$dir/xvfb.display" ] || [ $((tries += 1)) -gt 100 ]; do sleep 0.1; done
  if [ ! -s "$dir/xvfb.display" ]; then
    echo "the virtual X server did not start; see $dir/xvfb.log" >&2
    kill "$wine_xvfb" 2>/dev/null || true
    return 1
  fi
  wine_display=:$(head -n 1 "$dir/xvfb.display")
  # The same prefix as the test programs' (see the toolchain files).
  wine_env=(env WINEPREFIX="$root/$dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    DISPLAY="$wine_display" "$@")
  if [ ! -f "$dir/wineprefix/system.reg" ]; then
    echo "-- creating the wine prefix $dir/wineprefix"
    "${wine_env[@]}" "${wine_run[@]}" wineboot -i >"$dir/wineboot.log" 2>&1
  fi
  "${wine_env[@]}" "${wine_server[@]}" -p 2>/dev/null || true  # or one is running already
  "${wine_env[@]}" "${wine_run[@]}" wineboot >>"$dir/wineboot.log" 2>&1
  # With no window manager on the virtual display, windows the X driver
  # leaves to one would wait a second for it at every hide.
  if ! grep -qs '"Managed"="N"' "$dir/wineprefix/user.reg"; then
    "${wine_env[@]}" "${wine_run[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ \
      /d N /f >>"$dir/wineboot.log" 2>&1
  fi
}

# ctest in DIR on the leg's display. A program the wine server dropped at its
# start ("wine client error") never ran its test: those alone run once more.
# A test that fails on its own fails again.
wine_ctest() {
  local dir=$1 rc=0
  DISPLAY="$wine_display" ctest --test-dir "$dir" --output-on-failure -j "$jobs" 2>&1 |
    tee "$dir/ctest.log" || rc=$?
  # A test program that wine dropped says so ("wine client error"), or fails
  # before it prints a line: a failed test with no output at all never ran.
  # Those run once more; a test that ran and failed prints its failure.
  if [ "$rc" != 0 ] && { grep -q 'wine client error' "$dir/ctest.log" ||
    awk '/\*\*\*Failed/ {failed++; after = 1; next}
         after && NF {if ($1 != "Start" && !/tests passed/) printed = 1; after = 0}
         END {exit !(failed && !printed)}' "$dir/ctest.log"; }; then
    echo "-- wine dropped a test program; the failed tests run once more"
    rc=0
    DISPLAY="$wine_display" ctest --test-dir "$dir" --rerun-failed --output-on-failure || rc=$?
  fi
  return "$rc"
}

# Stops the prefix's server, then the display.
wine_stop() {
  "${wine_env[@]}" "${wine_server[@]}" -k 2>/dev/null || true
  kill "$wine_xvfb" 2>/dev/null || true
}
