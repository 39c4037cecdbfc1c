#!/usr/bin/python3
"""Plays the shipped 32-bit Windows module under Wine (i386) on this processor,
through tests/pe32/win32_harness.cpp, and compares every result with the native
module driven by tests/pe32/oracle.cpp on the same commands, under each kernel
set the processor has.

  wine32.py run DLL MAP ORACLE [--sets c,mmx,...] -- HARNESS...
  wine32.py damage DLL MAP OUT     OUT: DLL with one shift count changed in its AVX2 code

HARNESS is the command that starts the harness under Wine; its environment
gets ORV_MODULE (the DLL, by its Windows path) and ORV_SIMD (the cap). MAP is
the link map of the same build: the breakpoints that show which set ran go on
the entry points of each set's functions, the relocated pointers into the code
of kernels_<set>.cpp.obj (the set's slot table holds them). Run by Debian's
/usr/bin/python3, which has python3-pefile.
"""

import hashlib
import os
import subprocess
import sys

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from emu32.compare import COLOR, DEPTHS, STAGES, report_mismatch  # noqa: E402
from emu32.link_map import LADDER, damage, kernel_code  # noqa: E402
from emu32.machine import Failure  # noqa: E402

# Besides the pe32 leg's stages: empty rectangles, with no height and with no width.
EMPTY_STAGES = [(37, 29, 5, 5, 5, 30, 64), (37, 29, 3, 9, 26, 9, 64)]
CPU_FLAGS = {"c": None, "mmx": "mmx", "sse2": "sse2", "ssse3": "ssse3", "avx2": "avx2"}


def processor_sets():
    """The kernel sets this processor runs, as /proc/cpuinfo's flags tell (the kernel
    clears avx2 where the system does not save the AVX registers)."""
    flags = set()
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("flags"):
                flags = set(line.split(":", 1)[1].split())
                break
    return [s for s in LADDER if CPU_FLAGS[s] is None or CPU_FLAGS[s] in flags]


def entry_points(dll, map_file):
    """{set: [rva, ...]}: the relocated pointers into each set's code."""
    pe = pefile.PE(dll)
    base = pe.OPTIONAL_HEADER.ImageBase
    ranges = kernel_code(map_file)
    found = {name: set() for name in ranges}
    for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
        for entry in block.entries:
            if entry.type != pefile.RELOCATION_TYPE["IMAGE_REL_BASED_HIGHLOW"]:
                continue
            value = pe.get_dword_at_rva(entry.rva)
            for name, (start, size) in ranges.items():
                if start <= value < start + size:
                    found[name].add(value - base)
    missing = [name for name in LADDER if not found.get(name)]
    if missing:
        raise Failure("%s: no pointer into the code of kernels_%s" % (dll, ", kernels_".join(missing)))
    return {name: sorted(rvas) for name, rvas in found.items()}


def commands():
    yield "classes"
    yield "register 2 colorIcon"  # a Put that fails half-way
    yield "register -1 -"


def plays(entries):
    for entry in range(entries):
        yield "media %d %s -" % (entry, COLOR)
        for depth in DEPTHS:
            for w, h, top, left, bottom, right, chunk in STAGES + EMPTY_STAGES:
                yield "play %d %d %d %d %d %d %d %d %d 1000 100 %s 0" % (
                    entry, depth, w, h, top, left, bottom, right, chunk, COLOR)
        for fail_at in range(1, 5):  # an allocation that fails at each point of a short playback
            yield "play %d 32 9 5 0 0 5 9 64 200 100 %s %d" % (entry, COLOR, fail_at)


class Side:
    """One program answering commands, a line each, until "end"."""

    def __init__(self, name, argv, env):
        self.name = name
        self.process = subprocess.Popen(argv, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        out = []
        while not out or out[-1] != "end":
            line = self.process.stdout.readline()
            if not line:
                raise Failure("%s stopped at: %s (exit %s)" % (self.name, command, self.process.wait()))
            out.append(line.rstrip("\n"))
        return out

    def close(self):
        self.process.stdin.close()
        if self.process.wait() != 0:
            raise Failure("%s failed (exit %d)" % (self.name, self.process.returncode))


def run_set(kernel_set, dll, watch, oracle, harness):
    env = dict(os.environ, ORV_SIMD=kernel_set)
    native = Side("the native module's driver", [oracle], {"ORV_SIMD": kernel_set, "PATH": "/usr/bin:/bin"})
    shipped = Side("the harness under Wine", harness,
                   dict(env, ORV_MODULE="Z:" + os.path.abspath(dll)))
    try:
        watched = shipped.ask("watch " + " ".join(
            "%s=%s" % (name, ",".join("%x" % rva for rva in rvas)) for name, rvas in watch.items()))
        if watched[0] != "watch %d" % sum(len(r) for r in watch.values()):
            raise Failure("the harness set %s" % watched[0])
        ran, played, lines = set(), set(), 0
        entries = 0
        todo = list(commands())
        while todo:
            command = todo.pop(0)
            ours, theirs = shipped.ask(command), native.ask(command)
            if ours != theirs:
                report_mismatch(kernel_set, command, ours, theirs, "shipped DLL")
            lines += len(ours)
            if command == "register -1 -":
                entries = sum(1 for line in ours if line.startswith("entry "))
                if not entries:
                    raise Failure("the module registered no transition")
                todo += list(plays(entries))
            if command.startswith("play"):
                w = command.split()
                ran |= set(shipped.ask("ran")[0].split()[1:])
                if w[-1] == "0":
                    played.add((w[1], w[2], " ".join(w[3:9])))
        shipped.close()
        native.close()
    finally:
        for side in (shipped, native):
            if side.process.poll() is None:
                side.process.kill()
    return ran, played, lines


def run(dll, map_file, oracle, sets, harness):
    digest = hashlib.sha256(open(dll, "rb").read()).hexdigest()
    watch = entry_points(dll, map_file)
    have = processor_sets()
    wanted = sets or list(LADDER)
    runs, total, lines = [], 0, 0
    played_sets = []
    for kernel_set in wanted:
        if kernel_set not in have:
            print("wine32: ORV_SIMD=%s not played: this processor has no %s" % (kernel_set, kernel_set.upper()))
            continue
        played_sets.append(kernel_set)
        ran, played, n = run_set(kernel_set, dll, watch, oracle, harness)
        above = [s for s in ran if LADDER.index(s) > LADDER.index(kernel_set)]
        if kernel_set not in ran or above:
            raise Failure("under ORV_SIMD=%s the shipped module ran the kernels of %s"
                          % (kernel_set, " ".join(s for s in LADDER if s in ran) or "no set"))
        runs.append("%s: %s" % (kernel_set, " ".join(s for s in LADDER if s in ran)))
        total += len(played)
        lines += n
        print("wine32: ORV_SIMD=%s: %d playbacks equal, kernels entered: %s"
              % (kernel_set, len(played), " ".join(s for s in LADDER if s in ran)), flush=True)
    print("wine32: %d playbacks of the shipped module compared with the native module under %d kernel sets "
          "(%s; every window after Cue, each step and Finish, %d result lines equal)"
          % (total, len(played_sets), "; ".join(runs), lines))
    print("wine32: %d breakpoints on the sets' entry points: %s"
          % (sum(len(r) for r in watch.values()), ", ".join("%s %d" % (s, len(watch[s])) for s in LADDER)))
    print("wine32: the file played: %s sha256 %s" % (dll, digest))


def main(argv):
    try:
        if len(argv) >= 6 and argv[1] == "run" and "--" in argv:
            split = argv.index("--")
            options, harness = argv[2:split], argv[split + 1:]
            sets = []
            if len(options) == 5 and options[3] == "--sets":
                sets = options[4].split(",")
                options = options[:3]
            if len(options) != 3 or not harness:
                raise IndexError
            run(*options, sets, harness)
        elif len(argv) == 5 and argv[1] == "damage":
            damage(argv[2], argv[3], "kernels_avx2", argv[4])
        else:
            raise IndexError
    except IndexError:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    except (Failure, OSError, subprocess.CalledProcessError, pefile.PEFormatError) as e:
        print("wine32: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
