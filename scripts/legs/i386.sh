# The module, the stand-in host and every test suite built for 32-bit x86
# Linux (-m32): 4-byte pointers, so every 32-bit layout check is compiled in,
# stdcall operations and the MMX kernels for real. The programs run directly
# where this machine executes 32-bit programs, else under qemu-i386; the
# about box on a processor without MMX needs qemu-i386 either way.
leg_i386() {
  need_packages cmake ninja-build g++-multilib googletest qemu-user
  local native=OFF
  if runs_32bit_programs; then
    native=ON
    echo "-- the suites run natively: this machine executes 32-bit x86 programs"
  else
    echo "-- the suites run under qemu-i386: this machine does not execute 32-bit x86 programs"
  fi
  configure_and_build build-i386 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/linux-i386.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_BENCH=OFF -DORV_I386_NATIVE=$native
  ctest --test-dir build-i386 --output-on-failure -j "$jobs"
}

# Whether the kernel runs a 32-bit x86 program: a tiny one built with -m32,
# run once. Its reason, when it does not, is in the variable runs_32bit_why.
runs_32bit_programs() {
  local dir
  dir=$(mktemp -d)
  printf 'int main(void) { return sizeof(void *) == 4 ? 0 : 3; }\n' >"$dir/p.c"
  runs_32bit_why=""
  if ! gcc -m32 "$dir/p.c" -o "$dir/p" 2>"$dir/err"; then
    runs_32bit_why="gcc -m32 cannot build a program: $(head -n 1 "$dir/err")"
  elif ! "$dir/p" 2>"$dir/err"; then
    runs_32bit_why="the kernel does not run a 32-bit x86 program: $(head -n 1 "$dir/err")"
  fi
  rm -rf "$dir"
  [ -z "$runs_32bit_why" ]
}
