"""The run: every command under each kernel set, on the emulated module and on the
native one (tests/pe32/oracle.cpp), compared line by line."""

import re
import subprocess

from .host import Log, Session
from .link_map import LADDER, aligned_sse_operands, kernel_code
from .loader import Image
from .machine import RELOCATED_BASE, Failure, Machine
from .win32 import Shim


# What the emulated processor reports in CPUID leaf 1 (EDX, ECX) for each
# kernel set. ECX never has OSXSAVE or AVX, so the module never picks AVX2 here.
SSE2_EDX = (1 << 23) | (1 << 25) | (1 << 26)  # MMX, SSE, SSE2
CPU_SETS = {"portable": (0, 0), "mmx": (1 << 23, 0), "sse2": (SSE2_EDX, 0),
            "ssse3": (SSE2_EDX, (1 << 0) | (1 << 9))}  # SSE3, SSSE3

# Stage sizes: (width, height, rect top, left, bottom, right, chunk). 1 x 1; odd
# widths; a sub-rectangle at an odd offset; chunk sizes in each of the four bands.
STAGES = [(1, 1, 0, 0, 1, 1, 64), (13, 7, 0, 0, 7, 13, 16), (37, 29, 3, 5, 26, 30, 64),
          (150, 140, 0, 0, 140, 150, 100), (301, 270, 1, 3, 270, 300, 200)]
DEPTHS = (8, 16, 24, 32)
COLOR = "00000003"  # the colour transition's media: cyan
# (kernel set, base: None for the image base, the ORV_SIMD value that gives the native module the same set)
RUNS = [("portable", RELOCATED_BASE, "c"), ("mmx", None, "mmx"), ("sse2", RELOCATED_BASE, "sse2"),
        ("ssse3", None, "ssse3")]


def commands(kernel_set, seen):
    """The commands of one run. What follows "register -1 -" plays every entry the
    module registered, and what concerns media every entry that has some: seen
    holds what the emulated module answered so far (learn)."""
    yield "classes"
    yield "register 2 colorIcon"  # a Put that fails half-way
    yield "register -1 -"
    if not seen["entries"]:
        raise Failure("the module registered no transition")
    for entry in range(seen["entries"]):
        yield "media %d %s -" % (entry, COLOR)
    if not seen["with media"]:
        raise Failure("no registered transition has media")
    for entry in seen["with media"]:
        for fault in ("open", "read", "write"):
            yield "media %d %s %s" % (entry, COLOR, fault)
        yield "media %d 0000 -" % entry  # too short
    for entry in range(seen["entries"]):
        for depth in DEPTHS:
            for w, h, top, left, bottom, right, chunk in STAGES:
                stage = "%d %d %d %d %d %d" % (w, h, top, left, bottom, right)
                yield "play %d %d %s %d 1000 100 %s 0" % (entry, depth, stage, chunk, COLOR)
    for entry in range(seen["entries"]):  # an allocation that fails at each point of a short playback
        for fail_at in range(1, 5):
            yield "play %d 32 9 5 0 0 5 9 64 200 100 %s %d" % (entry, COLOR, fail_at)
    # The options of a transition with media (its colour): a click and OK, OK on a colour out of
    # range, a click and Cancel.
    for entry in seen["with media"]:
        for media, script in (("00000003", "1007 ok"), ("00000009", "ok"), ("00000002", "1005 cancel")):
            yield "options %d %s %s" % (entry, media, script)
    if kernel_set != "portable":  # the native processor has MMX: the badge shows
        yield "about 0 - ok"
    yield "thumbnail 32 120 80 5 7 72 107"
    yield "thumbnail 16 50 40 30 40 2 1"  # negative extents: mirrored


def learn(seen, command, out):
    """What commands() needs from a result: the number of registry entries and which
    of them have media (a size other than 0)."""
    words = command.split()
    if command == "register -1 -":
        seen["entries"] = sum(1 for line in out if line.startswith("entry "))
    elif words[0] == "media" and words[3] == "-" and words[2] == COLOR:
        if any(re.fullmatch(r"place 0 size [1-9]\d*", line) for line in out):
            seen["with media"].append(int(words[1]))


def compare(dll, map_file, oracle):
    blob = open(dll, "rb").read()
    kernels, kernels_ran = kernel_code(map_file), []
    if not set(LADDER) <= set(kernels):
        raise Failure("%s shows no code of kernels_%s" % (map_file, ", kernels_".join(LADDER)))
    aligned = {a: o for name in ("sse2", "ssse3") for a, o in aligned_sse_operands(dll, *kernels[name]).items()}
    aligned_checks = 0
    totals = dict(plays=0, calls=0, module_calls=0, bytes=0, lines=0)  # over all runs
    played, served, bound, bases = set(), set(), [], []
    for kernel_set, base, simd in RUNS:
        m = Machine(CPU_SETS[kernel_set])
        log = Log()
        log.m = m
        shim = Shim(m, log)
        image = Image(m, blob, base, shim)
        shim.image, log.module_base = image, image.base
        m.watch({name: (a - image.preferred + image.base, n) for name, (a, n) in kernels.items()})
        m.check_alignment(aligned, image.base - image.preferred)
        where = "relocated, %d fixups" % image.relocations if base else "image base"
        bases.append("0x%x (%s)" % (image.base, where))
        if image.notify(1) != 1:
            raise Failure("DllMain refused DLL_PROCESS_ATTACH")
        session = Session(m, image, shim, log)
        env = {"ORV_SIMD": simd, "PATH": "/usr/bin:/bin"}
        native = subprocess.Popen([oracle] + (["--portable"] if kernel_set == "portable" else []), env=env,
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        seen = {"entries": 0, "with media": []}
        for command in commands(kernel_set, seen):
            ours = session.run(command)
            learn(seen, command, ours)
            native.stdin.write(command + "\n")
            native.stdin.flush()
            theirs = []
            while not theirs or theirs[-1] != "end":
                line = native.stdout.readline()
                if not line:
                    raise Failure("the native module's driver stopped at: %s" % command)
                theirs.append(line.rstrip("\n"))
            if ours != theirs:
                report_mismatch(kernel_set, command, ours, theirs)
            totals["calls"] += sum(1 for line in ours if line.startswith("call "))
            totals["lines"] += len(ours)
            if command.startswith("play") and command.endswith(" 0"):
                w = command.split()
                played.add((w[1], w[2], w[3] + "x" + w[4], kernel_set))
        native.stdin.close()
        if native.wait() != 0:
            raise Failure("the native module's driver failed")
        if image.notify(0) != 1:
            raise Failure("DllMain failed DLL_PROCESS_DETACH")
        own = {"portable": "c"}.get(kernel_set, kernel_set)
        if own not in m.ran or m.ran - set(LADDER[:LADDER.index(own) + 1]):
            raise Failure("the %s run ran the kernels of %s" % (kernel_set, " ".join(sorted(m.ran))))
        kernels_ran.append("%s run: %s" % (kernel_set, " ".join(sorted(m.ran))))
        totals["bytes"] += session.bytes_compared
        totals["module_calls"] += m.module_calls
        aligned_checks += m.aligned_checks
        totals["plays"] += sum(1 for k in played if k[3] == kernel_set)
        served |= m.served
        bound = image.imports
    dims = [len({k[i] for k in played}) for i in range(4)]
    print("pe32: %d playbacks compared: %d transitions x %d depths x %d stage sizes x %d kernel sets "
          "(after Cue, every step, Finish)" % (totals["plays"], *dims))
    print("pe32: %d calls into the module; %d result lines equal, among them %d host and platform calls "
          "checked in order; %d bytes compared (surfaces by CRC-32, media and registry values whole)"
          % (totals["module_calls"], totals["lines"], totals["calls"], totals["bytes"]))
    imports = [n for n in served if n in bound]
    print("pe32: %d imports bound, %d called and served: %s"
          % (len(bound), len(imports), " ".join(sorted(imports))))
    print("pe32: kernel code that ran (by the link map): %s" % "; ".join(kernels_ran))
    print("pe32: %d SSE2 and SSSE3 instructions with an aligned 16-byte memory operand, "
          "their address checked %d times"
          % (len(aligned), aligned_checks))
    print("pe32: module loaded at %s" % ", ".join(bases))


def report_mismatch(kernel_set, command, ours, theirs, ours_name="emulated DLL"):
    for i, (a, b) in enumerate(zip(ours + ["(nothing)"] * len(theirs), theirs + ["(nothing)"] * len(ours))):
        if a != b:
            clip = lambda s: s if len(s) < 200 else s[:200] + "..."  # noqa: E731
            raise Failure("mismatch (%s kernels) in '%s', line %d:\n  %-13s %s\n  native:       %s"
                          % (kernel_set, command, i + 1, ours_name + ":", clip(a), clip(b)))
