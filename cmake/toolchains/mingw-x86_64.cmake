# 64-bit x86 Windows with Debian's mingw-w64 cross compiler: the build whose
# programs run under wine64 here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORV_MINGW_TRIPLE x86_64-w64-mingw32)
set(ORV_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs run under wine64, in a prefix of the build folder's own, so
# that neither the user's prefix nor a first-start dialog gets in the way.
find_program(ORV_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(ORV_WINE64 NAMES wine64 wine)
if(ORV_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= ${ORV_WINE64})
endif()
