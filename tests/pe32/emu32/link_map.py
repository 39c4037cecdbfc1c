"""What the link map of the 32-bit build tells: where each kernel set's code is
(by the object files kernels_c, kernels_mmx, ...), the SSE operands in it that
must be aligned, and the damaged copy the leg wants to see fail."""

import os
import re
import struct
import subprocess

from .machine import Failure


# SSE instructions whose memory operand may sit anywhere; every other one with
# an XMM register and a memory operand wants it at a multiple of 16.
UNALIGNED_SSE = {"movdqu", "movups", "movupd", "movq", "movd", "movss", "movsd", "movlps", "movhps", "movlpd",
                 "movhpd", "lddqu", "pinsrw", "pextrw", "cvtsi2sd", "cvtsi2ss"}

# The kernel files in ladder order, lowest first, as the link map names them.
LADDER = ("c", "mmx", "sse2", "ssse3", "avx2")


def disassemble(dll, start, end):
    """objdump's instructions in [start, end): (address, bytes, text)."""
    listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--start-address=%d" % start,
                              "--stop-address=%d" % end, dll],
                             capture_output=True, text=True, check=True).stdout
    return [(int(a, 16), b.split(), text.strip()) for a, b, text in
            re.findall(r"^[ \t]*([0-9a-f]+):\t((?:[0-9a-f]{2} )+)[ \t]*(.*)$", listing, re.M) if text.strip()]


def aligned_sse_operands(dll, start, size):
    """{address: (text, displacement, base, index, scale)} of the instructions in
    [start, start + size) whose 16-byte memory operand must be aligned."""
    out = {}
    for address, _, text in disassemble(dll, start, start + size):
        mnemonic, _, operands = text.partition(" ")
        if "%xmm" not in operands or mnemonic in UNALIGNED_SSE:
            continue
        memory = re.search(r"(-?0x[0-9a-f]+)?\((%\w+)?(?:,(%\w+),(\d))?\)", operands) or \
            re.match(r"(0x[0-9a-f]+),", operands)
        if memory:
            disp, base, index, scale = (memory.groups() + (None, None, None))[:4]
            out[address] = (text, int(disp or "0", 16), base, index, int(scale or 1))
    return out


def kernel_code(map_file):
    """Where each kernel set's code is: {"c": (address, size), "mmx": ...}."""
    return {name: (int(a, 16), int(n, 16)) for a, n, name in re.findall(
        r"^ \.text\s+0x([0-9a-f]+)\s+0x([0-9a-f]+) \S*kernels_(\w+)\.cpp\.obj$", open(map_file).read(), re.M)}



def damage(dll, map_file, symbol, out):
    """Changes the first shift count in SYMBOL's code (found through the link map):
    a function the map names, or kernels_<set> for the whole of a kernel set's
    code, whose functions the map does not name."""
    text = open(map_file).read()
    kernels = kernel_code(map_file)
    # In a kernel set's code a vector shift: a scalar one there counts pixels or
    # bytes, and a changed count would run off the rows instead of changing them.
    shifts = r"(shr|sar|shl)\s+\$0x[0-9a-f]+,"
    if symbol.startswith("kernels_") and symbol[len("kernels_"):] in kernels:
        start, size = kernels[symbol[len("kernels_"):]]
        end = start + size
        shifts = r"v?ps(?:rl|ra|ll)[wdq]\s+\$0x[0-9a-f]+,"
    else:
        addresses = sorted(int(a, 16) for a in re.findall(r"^\s+0x([0-9a-f]+)\s+\S", text, re.M))
        found = re.search(r"^\s+0x([0-9a-f]+)\s+(?:\S+::)*%s\(" % re.escape(symbol), text, re.M)
        if not found:
            raise Failure("%s: no symbol %s" % (map_file, symbol))
        start = int(found.group(1), 16)
        end = next(a for a in addresses if a > start)
    # The count is the instruction's last byte in both forms (shr $n,%eax; vpsrlw $n,%ymm1,%ymm0).
    shift = next(((a, b) for a, b, text in disassemble(dll, start, end)
                  if re.match(shifts, text)), None)
    if not shift:
        raise Failure("no shift by a constant in %s" % symbol)
    blob = bytearray(open(dll, "rb").read())
    pe = struct.unpack_from("<I", blob, 0x3C)[0]
    image_base = struct.unpack_from("<I", blob, pe + 52)[0]
    nsections, = struct.unpack_from("<H", blob, pe + 6)
    opt_size, = struct.unpack_from("<H", blob, pe + 20)
    rva = shift[0] + len(shift[1]) - 1 - image_base  # the count: the instruction's last byte
    for i in range(nsections):
        _, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", blob, pe + 24 + opt_size + 40 * i)
        if vaddr <= rva < vaddr + rawsize:
            offset = rawptr + rva - vaddr
            blob[offset] ^= 1
            with open(out + ".part", "wb") as f:  # whole or not at all
                f.write(blob)
            os.replace(out + ".part", out)
            print("pe32: %s: the shift count at 0x%x in %s now counts %d instead of %d"
                  % (out, image_base + rva, symbol, blob[offset], blob[offset] ^ 1))
            return
    raise Failure("0x%x is in no section" % rva)
