# WebAssembly: an engine without SIMD128 refuses the whole program, so the
# set cannot be chosen at run time as the x86 ones are. It is compiled in
# only when ORV_WASM_SIMD128 asks for it (a second build gives the portable
# module) and its rung then always runs; that build needs SIMD128 anyway, so
# SIMD code slipping into shared inline functions costs nothing there.
orv_kernel_architecture(wasm "defined(__wasm__)")
if(NOT orv_this_architecture)
  return()
endif()

option(ORV_WASM_SIMD128 "Build the SIMD128 kernel set (the module then needs SIMD128)" OFF)
if(ORV_WASM_SIMD128)
  orv_kernel_set(kernels_simd128.cpp -msimd128)
  set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/ladder.cpp APPEND PROPERTY COMPILE_DEFINITIONS
                                                                 ORV_WASM_SIMD128)
endif()
orv_kernel_sources(ladder.cpp)
