# Shared by the mingw toolchains; ORV_MINGW_THREADS picks the compilers'
# thread model. "win32" (the module's) uses the native Windows threads and needs
# no runtime DLL; "posix" has std::mutex, which GoogleTest needs on Windows, and
# brings winpthread. -static keeps libgcc, libstdc++ and winpthread out of the
# list of DLLs that every program and the module need at run time.
if(NOT ORV_MINGW_THREADS)
  set(ORV_MINGW_THREADS win32)
endif()
foreach(suffix -${ORV_MINGW_THREADS} "")
  find_program(ORV_MINGW_CXX ${ORV_MINGW_TRIPLE}-g++${suffix})
  find_program(ORV_MINGW_CC ${ORV_MINGW_TRIPLE}-gcc${suffix})
endforeach()
if(NOT ORV_MINGW_CXX OR NOT ORV_MINGW_CC)
  message(FATAL_ERROR "${ORV_MINGW_TRIPLE} compilers not found (Debian: g++-mingw-w64)")
endif()
set(CMAKE_C_COMPILER ${ORV_MINGW_CC})
set(CMAKE_CXX_COMPILER ${ORV_MINGW_CXX})
set(CMAKE_RC_COMPILER ${ORV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# A release module ships without symbols.
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
