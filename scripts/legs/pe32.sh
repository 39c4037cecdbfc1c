# The shipped 32-bit Windows module executed: tests/pe32/pe32.py loads
# build-win32/bin/ORVPACK1.x32 into a CPU emulator (Unicorn) with our own PE
# loader, Win32 shim and host in emulated memory, and compares every result
# with the native module built in build-pe32/ and driven by
# tests/pe32/oracle.cpp on the same inputs. The portable, MMX, SSE2 and
# SSSE3 kernels run, chosen by the module's own processor test through the
# emulated CPUID; the AVX2 kernels of the 32-bit build do not (the emulator
# has no AVX, and OSXSAVE stays clear). The emulator does not fault on a
# misaligned 16-byte SSE operand, so pe32.py checks those operands' addresses
# itself. Then the leg's own check: the same run on a copy of the module with
# one shift count changed in a kernel, found through the link map of the same
# build, must report a mismatch.
leg_pe32() {
  need_packages cmake ninja-build g++ libgtest-dev libgmock-dev libpng-dev python3-unicorn \
    g++-mingw-w64-i686 binutils-mingw-w64-i686
  local dll=build-win32/bin/ORVPACK1.x32 oracle=build-pe32/bin/pe32_oracle
  local damaged=build-pe32/ORVPACK1-damaged.x32 out
  JOBS=$jobs scripts/build-windows
  cmake -S "$root" -B build-pe32 -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_TOOLS=OFF \
    -DORV_BUILD_BENCH=OFF
  cmake --build build-pe32 -j "$jobs" --target pe32_oracle
  /usr/bin/python3 tests/pe32/pe32.py run "$dll" build-win32/ORVPACK1.map "$oracle"
  echo "-- a damaged copy of the module must not pass"
  /usr/bin/python3 tests/pe32/pe32.py damage "$dll" build-win32/ORVPACK1.map MixBytesC "$damaged"
  if out=$(/usr/bin/python3 tests/pe32/pe32.py run "$damaged" build-win32/ORVPACK1.map "$oracle" 2>&1); then
    echo "FAIL: the damaged module $damaged passed" >&2
    return 1
  fi
  echo "$out"
  grep -q "^pe32: mismatch" <<<"$out" || { echo "FAIL: wanted a mismatch" >&2; return 1; }
  echo "pe32 checks passed: $dll"
}
