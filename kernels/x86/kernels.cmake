# x86, 32- and 64-bit: the MMX, SSE2, SSSE3 and AVX2 sets, each with the flags
# its file needs, and the processor identification and ladder, built with none.
orv_kernel_architecture(x86 "defined(__i386__) || defined(__x86_64__)")
if(NOT orv_this_architecture)
  return()
endif()

set(unaligned_moves "")
if(MINGW)
  # The Windows unwinder cannot realign the stack for 32-byte spills; have
  # the assembler turn aligned vector moves into unaligned ones.
  include(CheckCXXCompilerFlag)
  check_cxx_compiler_flag(-Wa,-muse-unaligned-vector-move ORV_HAVE_UNALIGNED_VECTOR_MOVE)
  if(ORV_HAVE_UNALIGNED_VECTOR_MOVE)
    set(unaligned_moves -Wa,-muse-unaligned-vector-move)
  endif()
endif()

orv_kernel_set(kernels_mmx.cpp -mmmx ${unaligned_moves})
orv_kernel_set(kernels_sse2.cpp -msse2 ${unaligned_moves})
orv_kernel_set(kernels_ssse3.cpp -mssse3 ${unaligned_moves})
orv_kernel_set(kernels_avx2.cpp -mavx2 ${unaligned_moves})
orv_kernel_sources(cpuid.cpp ladder.cpp)
