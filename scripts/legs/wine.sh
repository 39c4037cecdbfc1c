# The module and every test suite built for 64-bit Windows with mingw-w64 and
# run under wine64, so that the Windows code paths meet real Win32 services:
# the stand-in host loads the module with LoadLibrary, the module finds its
# bitmaps with FindResourceA/LoadResource, and the surfaces are DIB sections
# copied with BitBlt. (This machine runs no 32-bit code natively: the 32-bit
# module itself runs in a CPU emulator in the pe32 leg, all but its AVX2
# kernels, and the i386 leg covers the 32-bit ABI of every suite.)
# The dialogs need a display: a virtual X server for the whole leg, so that
# wine's services and every test program share it.
leg_wine() {
  need_packages cmake ninja-build googletest g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 \
    xvfb
  local wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64 rc=0
  mkdir -p build-wine
  rm -f build-wine/xvfb.display
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>build-wine/xvfb.display \
    2>build-wine/xvfb.log &
  local xvfb=$! tries=0
  until [ -s build-wine/xvfb.display ] || [ $((tries += 1)) -gt 100 ]; do sleep 0.1; done
  if [ ! -s build-wine/xvfb.display ]; then
    echo "the virtual X server did not start; see build-wine/xvfb.log" >&2
    kill "$xvfb" 2>/dev/null || true
    return 1
  fi
  local display
  display=:$(head -n 1 build-wine/xvfb.display)
  # The same prefix as the test programs' (see the toolchain file).
  local env=(env WINEPREFIX="$root/build-wine/wineprefix" WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY="$display")
  if [ ! -f build-wine/wineprefix/system.reg ]; then
    echo "-- creating the wine prefix build-wine/wineprefix"
    "${env[@]}" "$wine" wineboot -i >build-wine/wineboot.log 2>&1
  fi
  # One server and one set of wine's own services for the whole leg. Started
  # here with their output in a file, the services do not hold the pipe of the
  # first test program's caller open, and no program pays their start-up.
  "${env[@]}" "$wineserver" -p 2>/dev/null || true  # or one is running already
  "${env[@]}" "$wine" wineboot >>build-wine/wineboot.log 2>&1
  # With no window manager on the virtual display, windows the X driver
  # leaves to one would wait a second for it at every hide.
  if ! grep -qs '"Managed"="N"' build-wine/wineprefix/user.reg; then
    "${env[@]}" "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
      >>build-wine/wineboot.log 2>&1
  fi
  DISPLAY="$display" configure_and_build build-wine \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_BENCH=OFF || rc=$?
  if [ "$rc" = 0 ]; then
    DISPLAY="$display" ctest --test-dir build-wine --output-on-failure -j "$jobs" 2>&1 |
      tee build-wine/ctest.log || rc=$?
    # A program the wine server dropped at its start ("wine client error") never
    # ran its test: those alone run once more. A test that fails on its own
    # fails again.
    if [ "$rc" != 0 ] && grep -q 'wine client error' build-wine/ctest.log; then
      echo "-- the wine server dropped a test program; the failed tests run once more"
      rc=0
      DISPLAY="$display" ctest --test-dir build-wine --rerun-failed --output-on-failure || rc=$?
    fi
  fi
  # Stop this prefix's server, then the display.
  "${env[@]}" "$wineserver" -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  return "$rc"
}
