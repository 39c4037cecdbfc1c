#!/usr/bin/python3
"""Runs the shipped 32-bit Windows module in a CPU emulator (Unicorn) and plays
the host's part on it, comparing every result with the native module run on
the same inputs by tests/pe32/oracle.cpp.

  pe32.py run DLL MAP ORACLE         every kernel set; exit 1 at the first mismatch
  pe32.py damage DLL MAP SYMBOL OUT  OUT: DLL with one shift count changed in SYMBOL's code

MAP is the link map of the same build (-Wl,-Map): the DLL is stripped, and the
map tells where each kernel set's code is, so that the run can show that the
processor test chose the set the emulated CPUID offered, and check the
addresses of the SSE operands that must be aligned (Unicorn does not fault).

Our own small loader maps the module (at its image base, and at another base
with its relocations applied), binds every import to a one-byte `ret` stub
whose code hook serves the call (result in EAX, stdcall arguments popped by
rewriting the stack) and runs the TLS callbacks and DllMain. The host's
objects live in emulated memory with their 32-bit layouts; calls the host
makes back into the module from inside one of its operations (CreateInstance,
a dialog procedure, an instance's terminate) return through a second stub.
Run by Debian's /usr/bin/python3, which has python3-unicorn.
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from emu32.compare import compare  # noqa: E402
from emu32.link_map import damage  # noqa: E402
from emu32.machine import Failure  # noqa: E402


def main(argv):
    try:
        if len(argv) == 5 and argv[1] == "run":
            compare(*argv[2:])
        elif len(argv) == 6 and argv[1] == "damage":
            damage(*argv[2:])
        else:
            print(__doc__.split("\n\n")[1], file=sys.stderr)
            return 2
    except (Failure, OSError, subprocess.CalledProcessError) as e:
        print("pe32: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))