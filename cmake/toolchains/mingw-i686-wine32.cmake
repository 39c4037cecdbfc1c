# 32-bit x86 Windows, the suites' build: GoogleTest needs the posix thread
# model. The programs run under Wine (i386) through scripts/wine32-run, in a
# prefix of the build folder's own, on the Wine of ORV_WINE32_ROOT ("-": this
# machine's own; else a private i386 root). ORV_WINE32_MODULE, where set, is
# the module file every program loads instead of the one it was built with:
# the wine32 leg gives the shipped one.
set(ORV_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)

if(NOT DEFINED ORV_WINE32_ROOT)
  set(ORV_WINE32_ROOT -)
endif()
set(orv_wine32_env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEARCH=win32 WINEDEBUG=-all
                   WINEDLLOVERRIDES=mscoree,mshtml=)
if(ORV_WINE32_MODULE)
  list(APPEND orv_wine32_env ORV_MODULE=Z:${ORV_WINE32_MODULE})
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env ${orv_wine32_env}
    ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine32-run ${ORV_WINE32_ROOT})
