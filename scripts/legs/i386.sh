# The module, the stand-in host and every test suite built for 32-bit x86
# Linux (-m32) and run under qemu-i386: 4-byte pointers, so every 32-bit layout
# check is compiled in, stdcall operations and the MMX kernels for real.
leg_i386() {
  need_packages cmake ninja-build g++-multilib googletest qemu-user
  configure_and_build build-i386 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/linux-i386.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_BENCH=OFF
  ctest --test-dir build-i386 --output-on-failure -j "$jobs"
}
