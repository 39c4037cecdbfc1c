# The module and every test suite built for 64-bit Windows with mingw-w64 and
# run under wine64, so that the Windows code paths meet real Win32 services:
# the stand-in host loads the module with LoadLibrary, the module finds its
# bitmaps with FindResourceA/LoadResource, and the surfaces are DIB sections
# copied with BitBlt. (A 32-bit Windows program cannot run on this machine,
# which runs no 32-bit code natively; the i386 leg covers the 32-bit ABI.)
leg_wine() {
  need_packages cmake ninja-build googletest g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
  local wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64 rc=0
  # The same prefix as the test programs' (see the toolchain file).
  local env=(env WINEPREFIX="$root/build-wine/wineprefix" WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml=)
  mkdir -p build-wine
  if [ ! -f build-wine/wineprefix/system.reg ]; then
    echo "-- creating the wine prefix build-wine/wineprefix"
    "${env[@]}" "$wine" wineboot -i >build-wine/wineboot.log 2>&1
  fi
  # One server and one set of wine's own services for the whole leg. Started
  # here with their output in a file, the services do not hold the pipe of the
  # first test program's caller open, and no program pays their start-up.
  "${env[@]}" "$wineserver" -p 2>/dev/null || true  # or one is running already
  "${env[@]}" "$wine" wineboot >>build-wine/wineboot.log 2>&1
  configure_and_build build-wine \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_BENCH=OFF || rc=$?
  [ "$rc" = 0 ] && { ctest --test-dir build-wine --output-on-failure -j "$jobs" || rc=$?; }
  # Stop this prefix's server.
  "${env[@]}" "$wineserver" -k 2>/dev/null || true
  return "$rc"
}
