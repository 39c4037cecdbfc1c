# WebAssembly (wasm32) through emscripten's own toolchain file, the programs
# run under node. There is no dynamic loading: the module is linked into each
# program and the stand-in host binds to its exports directly
# (ORV_HOST_LINKED_MODULE). -DORV_WASM_SIMD128=ON adds the SIMD128 kernels.
find_file(ORV_EMSCRIPTEN_TOOLCHAIN Emscripten.cmake
          PATHS /usr/share/emscripten/cmake/Modules/Platform $ENV{EMSCRIPTEN}/cmake/Modules/Platform
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT ORV_EMSCRIPTEN_TOOLCHAIN)
  message(FATAL_ERROR "emscripten's Emscripten.cmake not found (Debian: emscripten)")
endif()
include(${ORV_EMSCRIPTEN_TOOLCHAIN})

# Emscripten's node is newer than some of its scripts expect: without fetch
# the generated programs load their .wasm file from disk.
find_program(ORV_NODE NAMES node nodejs REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ORV_NODE};--no-experimental-fetch"
    CACHE STRING "Runs the generated programs" FORCE)

# Handles and resource names compared with 0x10000 need the program's data
# above the first 64 KiB; allocations that fail must return null, not abort;
# the interface objects catch what the module's code throws; the programs read
# the environment (ORV_SIMD, ORV_TEST_QUICK) of the node process that runs them.
set(CMAKE_CXX_FLAGS_INIT "-fexceptions")
set(CMAKE_C_FLAGS_INIT "-fexceptions")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-fexceptions -sGLOBAL_BASE=65536 -sALLOW_MEMORY_GROWTH=1 -sENVIRONMENT=node -sNODERAWFS=1 --pre-js ${CMAKE_CURRENT_LIST_DIR}/wasm32-env.js")
set(ORV_HOST_LINKED_MODULE ON CACHE BOOL "" FORCE)
