# 32-bit x86 Linux with the host compiler's multilib (-m32), so that the
# module, the stand-in host and every test see the 32-bit ABI: 4-byte pointers
# and stdcall interface operations. The programs run directly where the kernel
# executes 32-bit programs (the i386 leg probes it and sets ORV_I386_NATIVE),
# and under qemu-i386 where it does not. qemu-i386, where installed, also
# plays a processor without MMX for the one test that needs it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

find_program(ORV_QEMU_I386 qemu-i386)
if(ORV_QEMU_I386 AND NOT ORV_I386_NATIVE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORV_QEMU_I386})
endif()

# Only 32-bit libraries count: the 64-bit ones in /usr/lib/x86_64-linux-gnu
# (GoogleTest, libpng) must not be picked up.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake
    /usr/lib/x86_64-linux-gnu/cmake/GTest)
