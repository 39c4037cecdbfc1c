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

import inspect
import os
import re
import struct
import subprocess
import sys
import zlib

from unicorn import (UC_ARCH_X86, UC_HOOK_CODE, UC_HOOK_INSN, UC_HOOK_MEM_INVALID, UC_MODE_32,
                     UC_PROT_ALL, UC_PROT_EXEC, UC_PROT_READ, UC_PROT_WRITE, Uc, UcError)
from unicorn.x86_const import (UC_X86_INS_CPUID, UC_X86_REG_EAX, UC_X86_REG_EBP, UC_X86_REG_EBX,
                               UC_X86_REG_ECX, UC_X86_REG_EDI, UC_X86_REG_EDX, UC_X86_REG_EIP,
                               UC_X86_REG_ESI, UC_X86_REG_ESP, UC_X86_REG_FS, UC_X86_REG_GDTR,
                               UC_X86_REG_SS)

GDT, STUBS, PROCESS, STACK, HEAP = 0x1000, 0x100000, 0x200000, 0x300000, 0x1000000
TEB, PEB, DATA = PROCESS, PROCESS + 0x2000, PROCESS + 0x3000
STACK_TOP, HEAP_END = 0x3FF000, 0x9000000
EXIT, CONT = STUBS, STUBS + 1  # the return address of top-level and of nested calls
RELOCATED_BASE = 0x10000000
GUARD = 32  # bytes checked on each side of every heap block and surface
CALL_SECONDS = 20  # a module call that runs longer is taken to loop
HOST_FAULT = 0x80040111
CALLEE_SAVED = (UC_X86_REG_EBX, UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EBP)
REGISTERS = {"%eax": UC_X86_REG_EAX, "%ebx": UC_X86_REG_EBX, "%ecx": UC_X86_REG_ECX, "%edx": UC_X86_REG_EDX,
             "%esi": UC_X86_REG_ESI, "%edi": UC_X86_REG_EDI, "%ebp": UC_X86_REG_EBP, "%esp": UC_X86_REG_ESP}
# SSE instructions whose memory operand may sit anywhere; every other one with
# an XMM register and a memory operand wants it at a multiple of 16.
UNALIGNED_SSE = {"movdqu", "movups", "movupd", "movq", "movd", "movss", "movsd", "movlps", "movhps", "movlpd",
                 "movhpd", "lddqu", "pinsrw", "pextrw", "cvtsi2sd", "cvtsi2ss"}

# What the emulated processor reports in CPUID leaf 1 (EDX, ECX) for each
# kernel set. ECX never has OSXSAVE or AVX, so the module never picks AVX2 here.
SSE2_EDX = (1 << 23) | (1 << 25) | (1 << 26)  # MMX, SSE, SSE2
CPU_SETS = {"portable": (0, 0), "mmx": (1 << 23, 0), "sse2": (SSE2_EDX, 0),
            "ssse3": (SSE2_EDX, (1 << 0) | (1 << 9))}  # SSE3, SSSE3
# The kernel files in ladder order, lowest first, as the link map names them.
LADDER = ("c", "mmx", "sse2", "ssse3", "avx2")


class Failure(Exception):
    pass


def guid(d1, d2, d3, d4a, d4b):
    return struct.pack("<IHH", d1, d2, d3) + struct.pack(">H", d4a) + d4b.to_bytes(6, "big")


def guid_text(b):
    d1, d2, d3 = struct.unpack_from("<IHH", b)
    return "{%08X-%04X-%04X-%s-%s}" % (d1, d2, d3, b[8:10].hex().upper(), b[10:16].hex().upper())


REGISTRAR = guid(0x6468CE03, 0xE984, 0x11D1, 0x80B3, 0x00A0C90AAAA7)
ASSET = guid(0x9FCC6708, 0xF009, 0x11D1, 0x80B3, 0x00A0C90AAAA7)
REGISTRATION_IF = guid(0xAC3E7803, 0x0002, 0x8FE5, 0x0000, 0x080007160DC3)
ASSET_IF = guid(0xAC401E5C, 0x0001, 0xA855, 0x0000, 0x0800072C6326)
INIT_FROM_DICT_IF = guid(0xAC416431, 0x000D, 0x7D16, 0x0000, 0x080007160DC3)
ACTOR_IF = guid(0xAC401E9C, 0x0001, 0xB768, 0x0000, 0x0800072C6326)
UTILITIES_IF = guid(0xAC96CF89, 0x0045, 0x5879, 0x0000, 0x0040105023FB)


def signed(v):
    v &= 0xFFFFFFFF
    return v - (1 << 32) if v & 0x80000000 else v


# ---------------------------------------------------------------- the machine

class Machine:
    """One emulated 32-bit process: memory, the stubs, the heap, one thread."""

    def __init__(self, cpu_leaf1):
        self.uc = uc = Uc(UC_ARCH_X86, UC_MODE_32)
        for start, end in ((GDT, GDT + 0x1000), (STUBS, STUBS + 0x1000), (PROCESS, PROCESS + 0x10000),
                           (STACK, STACK_TOP + 0x1000), (HEAP, HEAP_END)):
            uc.mem_map(start, end - start)
        uc.mem_write(STUBS, b"\xc3" * 0x1000)
        self.stubs = [("exit", 0, False, None), ("return", 0, False, None)]
        self.served, self.pending, self.error = set(), [], None
        self.module_calls = 0  # calls into the module, top-level and nested
        self.cpu_edx, self.cpu_ecx = cpu_leaf1
        self.heap_next, self.blocks = HEAP, {}  # address -> (size, owner)
        self.last_error = 0
        uc.hook_add(UC_HOOK_CODE, self._on_stub, begin=STUBS, end=STUBS + 0xFFF)
        uc.hook_add(UC_HOOK_INSN, self._on_cpuid, None, 1, 0, UC_X86_INS_CPUID)
        uc.hook_add(UC_HOOK_MEM_INVALID, self._on_bad_access)
        self._thread_block()

    # -- memory
    def read(self, a, n):
        return bytes(self.uc.mem_read(a, n))

    def write(self, a, b):
        self.uc.mem_write(a, bytes(b))

    def word(self, a):
        return struct.unpack("<I", self.read(a, 4))[0]

    def words(self, a, n):
        return list(struct.unpack("<%dI" % n, self.read(a, 4 * n))) if n else []

    def put(self, a, *values):
        self.write(a, struct.pack("<%dI" % len(values), *[v & 0xFFFFFFFF for v in values]))

    def cstr(self, a):
        b = b""
        while b"\0" not in b:  # a page at a time, never past a mapped one
            b += self.read(a + len(b), 0x1000 - ((a + len(b)) & 0xFFF))
        return b[:b.index(b"\0")].decode("latin-1")

    def reg(self, r):
        return self.uc.reg_read(r)

    def set(self, r, v):
        self.uc.reg_write(r, v & 0xFFFFFFFF)

    # -- the heap: every block at 8 mod 16 between two guard regions
    def alloc(self, n, owner, fill=0xCD):
        a = ((self.heap_next + GUARD + 15) & ~15) + 8
        if a + n + GUARD > HEAP_END:
            raise Failure("the emulated heap is full")
        self.write(a - GUARD, b"\xfd" * GUARD + bytes([fill]) * n + b"\xfd" * GUARD)
        self.heap_next = a + n + GUARD
        self.blocks[a] = (n, owner)
        return a

    def free(self, a):
        if a not in self.blocks:
            raise Failure("a free of 0x%x, which is no block of the heap" % a)
        n, _ = self.blocks.pop(a)
        self.check_guards(a, n)
        self.write(a, b"\xdd" * n)

    def check_guards(self, a, n):
        if self.read(a - GUARD, GUARD) != b"\xfd" * GUARD or self.read(a + n, GUARD) != b"\xfd" * GUARD:
            owner = self.blocks.get(a, (0, "freed"))[1]
            raise Failure("a write outside the %d-byte block at 0x%x (%s)" % (n, a, owner))

    def check_all_guards(self):
        for a, (n, _) in self.blocks.items():
            self.check_guards(a, n)

    # -- the thread: TEB through FS, PEB, TLS slots
    def _thread_block(self):
        # GDT entry 2: the flat 32-bit stack segment (loading FS from a table
        # makes Unicorn reload SS too); entry 3: a data segment at the TEB.
        def descriptor(base, limit, access, flags):
            return struct.pack("<Q", (limit & 0xFFFF) | (base & 0xFFFFFF) << 16 | access << 40 |
                               (limit >> 16 & 0xF) << 48 | flags << 52 | (base >> 24) << 56)
        self.write(GDT + 2 * 8, descriptor(0, 0xFFFFF, 0x92, 0xC) + descriptor(TEB, 0xFFF, 0xF2, 0x4))
        self.uc.reg_write(UC_X86_REG_GDTR, (0, GDT, 0x1000 - 1, 0))
        self.uc.reg_write(UC_X86_REG_SS, 2 << 3)
        self.uc.reg_write(UC_X86_REG_FS, 3 << 3 | 3)
        self.put(TEB, 0xFFFFFFFF, STACK_TOP, STACK)  # no handler, stack base and limit
        self.put(TEB + 0x18, TEB)
        self.put(TEB + 0x20, 0x100, 0x104)  # process and thread IDs
        self.put(TEB + 0x30, PEB)

    def _on_cpuid(self, uc, _):
        leaf = self.reg(UC_X86_REG_EAX)
        regs = {0: (1, 0x756E6547, 0x6C65746E, 0x49656E69),  # "GenuineIntel"
                1: (0x000306A9, 0, self.cpu_ecx, self.cpu_edx)}.get(leaf, (0, 0, 0, 0))
        for r, v in zip((UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX), regs):
            self.set(r, v)
        return 1  # handled: skip Unicorn's own answer

    def _on_bad_access(self, uc, access, address, size, value, _):
        self.error = self.error or Failure("invalid memory access (%d) of %d bytes at 0x%x, eip 0x%x"
                                           % (access, size, address, self.reg(UC_X86_REG_EIP)))
        return False

    # -- stubs
    def stub(self, name, nargs, fn, stdcall=True):
        self.stubs.append((name, nargs, stdcall, fn))
        return STUBS + len(self.stubs) - 1

    def _on_stub(self, uc, address, size, _):
        try:
            index = address - STUBS
            if index == 0:
                return
            if index == 1:
                return self._resume()
            name, nargs, stdcall, fn = self.stubs[index]
            if fn is None:
                raise Failure("the module called %s, which the shim does not serve" % name)
            self.served.add(name)
            esp = self.reg(UC_X86_REG_ESP)
            result = fn(*self.words(esp + 4, nargs))
            frame = (esp, nargs if stdcall else 0)
            if inspect.isgenerator(result):
                self._advance(result, frame, None)
            else:
                self._return(result, frame)
        except Exception as e:  # noqa: BLE001 - reported after emu_start
            self.error = self.error or e
            uc.emu_stop()

    def _advance(self, gen, frame, value):
        """Runs a host operation on to its next call into the module, or to its end."""
        try:
            target, args = gen.send(value)
        except StopIteration as stop:
            return self._return(stop.value, frame)
        top = (frame[0] - 4 * (len(args) + 2) - 64) & ~15  # the callee starts at 4 mod 16
        self.put(top, target, CONT, *args)
        self.module_calls += 1
        saved = [self.reg(r) for r in CALLEE_SAVED]
        self.pending.append((gen, frame, top + 8 + 4 * len(args), saved, target))
        self.set(UC_X86_REG_ESP, top)

    def _resume(self):
        gen, frame, want, saved, target = self.pending.pop()
        self._check_return(target, want, saved)
        self._advance(gen, frame, self.reg(UC_X86_REG_EAX))

    def _return(self, value, frame):
        esp, pop = frame
        self.set(UC_X86_REG_EAX, value or 0)
        if pop:
            self.put(esp + 4 * pop, self.word(esp))
        self.set(UC_X86_REG_ESP, esp + 4 * pop)

    def _check_return(self, target, want, saved):
        got = self.reg(UC_X86_REG_ESP)
        if got != want:
            raise Failure("the function at 0x%x returned with ESP off by %d bytes (stdcall pop)"
                          % (target, got - want))
        if [self.reg(r) for r in CALLEE_SAVED] != saved:
            raise Failure("the function at 0x%x did not keep EBX, ESI, EDI and EBP" % target)

    def call(self, target, *args):
        """A top-level call: entered with ESP at 4 mod 16, as a host built without
        16-byte stack alignment does."""
        top = STACK_TOP - 0x100 - 4 * len(args) - 12
        top = (top & ~15) + 4
        self.put(top, EXIT, *args)
        self.module_calls += 1
        self.set(UC_X86_REG_ESP, top)
        for i, r in enumerate(CALLEE_SAVED):
            self.set(r, 0x5A5A0000 + i)
        saved = [self.reg(r) for r in CALLEE_SAVED]
        try:
            self.uc.emu_start(target, EXIT, timeout=CALL_SECONDS * 1000000)
        except UcError as e:
            eip = self.reg(UC_X86_REG_EIP)
            self.error = self.error or Failure("emulation stopped: %s, eip 0x%x" % (e, eip))
        if not self.error and self.reg(UC_X86_REG_EIP) != EXIT:
            self.error = Failure("the call of 0x%x did not return within %d s" % (target, CALL_SECONDS))
        if self.error:
            error, self.error = self.error, None
            raise error
        if self.pending:
            raise Failure("a host operation did not return")
        self._check_return(target, top + 4 + 4 * len(args), saved)
        self.check_all_guards()
        return self.reg(UC_X86_REG_EAX)

    def watch(self, ranges):
        """Notes which of the named code ranges ever run (each hook goes at its first hit)."""
        self.ran = set()

        def hit(uc, address, size, name):
            self.ran.add(name)
            uc.hook_del(self.watches.pop(name))

        self.watches = {name: self.uc.hook_add(UC_HOOK_CODE, hit, name, start, start + size - 1)
                        for name, (start, size) in ranges.items()}

    def check_alignment(self, operands, delta):
        """Unicorn runs a misaligned 16-byte SSE operand that a processor faults on:
        checks each given instruction's operand address whenever it runs."""
        self.aligned_checks = 0

        def check(uc, address, size, operand):
            text, disp, base, index, scale = operand
            at = disp + (self.reg(REGISTERS[base]) if base else delta if not index else 0) + \
                (self.reg(REGISTERS[index]) * scale if index else 0)
            self.aligned_checks += 1
            if at & 15:
                self.error = self.error or Failure("a misaligned 16-byte operand (0x%x) at 0x%x: %s"
                                                   % (at & 0xFFFFFFFF, address, text))
                uc.emu_stop()

        for address, operand in operands.items():
            self.uc.hook_add(UC_HOOK_CODE, check, operand, address + delta, address + delta)

    def drive(self, gen):
        """Runs a host generator at top level: each call it makes is a top-level call."""
        value = None
        while True:
            try:
                target, args = gen.send(value)
            except StopIteration as stop:
                return stop.value
            value = self.call(target, *args)


# ---------------------------------------------------------------- the loader

class Image:
    """The module mapped into a machine: sections, relocations, imports, TLS."""

    def __init__(self, m, blob, base, shim):
        self.m = m
        pe = struct.unpack_from("<I", blob, 0x3C)[0]
        if blob[pe:pe + 4] != b"PE\0\0" or struct.unpack_from("<H", blob, pe + 4)[0] != 0x14C:
            raise Failure("not a PE32 i386 module")
        nsections, _, _, _, opt_size = struct.unpack_from("<HIIIH", blob, pe + 6)
        opt = pe + 24
        self.entry_rva = struct.unpack_from("<I", blob, opt + 16)[0]
        self.preferred, = struct.unpack_from("<I", blob, opt + 28)
        size, headers = struct.unpack_from("<II", blob, opt + 56)
        dirs = [struct.unpack_from("<II", blob, opt + 96 + 8 * i) for i in range(16)]
        base = self.base = base or self.preferred
        self.relocations = 0
        m.uc.mem_map(base, (size + 0xFFF) & ~0xFFF)
        m.write(base, blob[:headers])
        m.uc.mem_protect(base, (headers + 0xFFF) & ~0xFFF, UC_PROT_READ)
        sections = []
        for i in range(nsections):
            _, vsize, rva, rawsize, rawptr, _, _, _, _, flags = struct.unpack_from(
                "<8sIIIIIIHHI", blob, opt + opt_size + 40 * i)
            m.write(base + rva, blob[rawptr:rawptr + min(rawsize, vsize or rawsize)])
            sections.append((rva, max(vsize, rawsize), flags))
        self.dirs = dirs
        if base != self.preferred:
            self._relocate(*dirs[5])
        self.exports = self._exports(*dirs[0])
        self.imports = self._bind(dirs[1][0], shim)
        for rva, span, flags in sections:  # execute only code, write only data
            prot = UC_PROT_READ | (UC_PROT_EXEC if flags & 0x20000000 else 0) | \
                (UC_PROT_WRITE if flags & 0x80000000 else 0)
            m.uc.mem_protect(base + rva, (span + 0xFFF) & ~0xFFF, prot)
        self.tls_callbacks = self._tls(*dirs[9])

    def _relocate(self, rva, size):
        delta, m, end = self.base - self.preferred, self.m, rva + size
        while rva < end:
            page, block = m.words(self.base + rva, 2)
            if block < 8:
                break
            for entry in struct.unpack("<%dH" % ((block - 8) // 2), m.read(self.base + rva + 8, block - 8)):
                kind, offset = entry >> 12, entry & 0xFFF
                if kind == 3:
                    a = self.base + page + offset
                    m.put(a, m.word(a) + delta)
                    self.relocations += 1
                elif kind != 0:
                    raise Failure("relocation type %d is not handled" % kind)
            rva += block

    def _exports(self, rva, size):
        m, b = self.m, self.base
        _, _, _, _, _, nfunctions, nnames, functions, names, ordinals = m.words(b + rva, 10)
        out = {}
        for i in range(nnames):
            name = m.cstr(b + m.word(b + names + 4 * i))
            ordinal = struct.unpack("<H", m.read(b + ordinals + 2 * i, 2))[0]
            out[name] = b + m.word(b + functions + 4 * ordinal)
        return out

    def _bind(self, rva, shim):
        m, b, names = self.m, self.base, []
        while True:
            lookup, _, _, dll_name, iat = m.words(b + rva, 5)
            if not dll_name:
                return names
            dll = m.cstr(b + dll_name).upper()
            i = 0
            while True:
                thunk = m.word(b + (lookup or iat) + 4 * i)
                if not thunk:
                    break
                name = "#%d" % (thunk & 0xFFFF) if thunk & 0x80000000 else m.cstr(b + thunk + 2)
                m.put(b + iat + 4 * i, shim.bind(dll, name))
                names.append(name)
                i += 1
            rva += 20

    def _tls(self, rva, size):
        if not rva:
            return []
        m = self.m
        start, end, index_at, callbacks, zero_fill, _ = m.words(self.base + rva, 6)
        block = m.alloc(end - start + zero_fill, "TLS block", fill=0)
        m.write(block, m.read(start, end - start))
        m.put(index_at, 0)
        m.put(DATA, block)  # the TLS array: slot 0
        m.put(TEB + 0x2C, DATA)
        out = []
        while callbacks and m.word(callbacks + 4 * len(out)):
            out.append(m.word(callbacks + 4 * len(out)))
        return out

    def notify(self, reason):
        """The TLS callbacks, then DllMain."""
        for fn in self.tls_callbacks:
            self.m.call(fn, self.base, reason, 0)
        return self.m.call(self.base + self.entry_rva, self.base, reason, 0)

    def resource(self, type_id, name):
        """The data entry's address of a resource (IDs or names), or 0."""
        m, b = self.m, self.base
        root = b + self.dirs[2][0]

        def find(directory, key):
            named, numbered = struct.unpack("<HH", m.read(directory + 12, 4))
            for i in range(named + numbered):
                ident, target = m.words(directory + 16 + 8 * i, 2)
                if ident & 0x80000000:
                    at = root + (ident & 0x7FFFFFFF)
                    n = struct.unpack("<H", m.read(at, 2))[0]
                    ident = m.read(at + 2, 2 * n).decode("utf-16-le").upper()
                if key is None or ident == key:
                    return root + (target & 0x7FFFFFFF)
            return 0

        at = root
        for key in (type_id, name, None):  # type, name, the first language
            at = find(at, key)
            if not at:
                return 0
        return at


# ---------------------------------------------------------------- the Win32 shim

class Gdi:
    """Memory DCs and bitmaps whose pixels are in emulated memory, as the
    platform stand-in keeps them: a new DC holds a 1 x 1 stock bitmap, the
    black pen and the white brush."""

    STOCK = 0xF000  # + GetStockObject's number; 6..8 are pens

    def __init__(self, m):
        self.m, self.next = m, 0x1000
        self.stock_bitmap = self._new()
        self.bitmaps = {self.stock_bitmap: dict(width=1, height=1, bits=1, stride=4, pixels=0, stock=True,
                                                dc=None)}
        self.dcs = {}

    def _new(self):
        self.next += 4
        return self.next

    def dib(self, width, height, bits, pixels):
        h = self._new()
        self.bitmaps[h] = dict(width=width, height=height, bits=bits, stride=(width * bits + 31) // 32 * 4,
                               pixels=pixels, stock=False, dc=None)
        return h

    def CreateCompatibleDC(self, dc):
        if dc and dc not in self.dcs:
            return 0
        h = self._new()
        self.dcs[h] = dict(bitmap=self.stock_bitmap, pen=self.STOCK + 7, brush=self.STOCK)
        return h

    def DeleteDC(self, dc):
        d = self.dcs.pop(dc, None)
        if not d:
            return 0
        self.bitmaps[d["bitmap"]]["dc"] = None
        return 1

    def GetStockObject(self, which):
        return self.STOCK + which if 0 <= which <= 8 else 0

    def SelectObject(self, dc, obj):
        d = self.dcs.get(dc)
        if d and self.STOCK <= obj <= self.STOCK + 8:
            slot = "pen" if obj >= self.STOCK + 6 else "brush"
            previous, d[slot] = d[slot], obj
            return previous
        b = self.bitmaps.get(obj)
        if not d or not b or (not b["stock"] and b["dc"] not in (None, dc)):
            return 0
        previous = d["bitmap"]
        self.bitmaps[previous]["dc"] = None
        b["dc"] = dc if not b["stock"] else None
        d["bitmap"] = obj
        return previous

    def DeleteObject(self, obj):
        if self.STOCK <= obj <= self.STOCK + 8:
            return 1
        b = self.bitmaps.get(obj)
        if not b or b["dc"]:
            return 0
        if not b["stock"]:
            self.m.free(b["pixels"])
            del self.bitmaps[obj]
        return 1

    def GetObjectA(self, obj, size, out):
        b = self.bitmaps.get(obj)
        if not b:
            return 0
        if not out:
            return 24
        if signed(size) < 24:
            return 0
        self.m.write(out, struct.pack("<iiiiHHI", 0, b["width"], b["height"], b["stride"], 1, b["bits"],
                                      b["pixels"]))
        return 24

    def _selected(self, dc):
        d = self.dcs.get(dc)
        return self.bitmaps[d["bitmap"]] if d and self.bitmaps[d["bitmap"]]["pixels"] else None

    def BitBlt(self, dst, x, y, w, h, src, sx, sy, rop):
        to, frm = self._selected(dst), self._selected(src)
        x, y, w, h, sx, sy = map(signed, (x, y, w, h, sx, sy))
        if rop != 0xCC0020 or not to or not frm or to["bits"] != frm["bits"]:
            return 0
        bpp = to["bits"] // 8
        # The part of the rectangle inside both bitmaps; rows bottom-up.
        x0, x1 = max(0, -x, -sx), min(w, to["width"] - x, frm["width"] - sx)
        y0, y1 = max(0, -y, -sy), min(h, to["height"] - y, frm["height"] - sy)
        for j in range(y0, y1):
            source = frm["pixels"] + (frm["height"] - 1 - sy - j) * frm["stride"] + (sx + x0) * bpp
            target = to["pixels"] + (to["height"] - 1 - y - j) * to["stride"] + (x + x0) * bpp
            self.m.write(target, self.m.read(source, (x1 - x0) * bpp))
        return 1

    def StretchBlt(self, dst, x, y, w, h, src, sx, sy, sw, sh, rop):
        """Nearest pixel, with the platform stand-in's sampling; 32-bit sources."""
        to, frm = self._selected(dst), self._selected(src)
        x, y, w, h, sx, sy, sw, sh = map(signed, (x, y, w, h, sx, sy, sw, sh))
        if rop != 0xCC0020 or not to or not frm or frm["bits"] != 32:
            return 0
        if not (w and h and sw and sh):
            return 1
        m, bpp = self.m, to["bits"] // 8
        along = lambda start, forward, k: start + k if forward else start - 1 - k  # noqa: E731
        for j in range(abs(h)):
            ty, fy = along(y, h > 0, j), along(sy, sh > 0, (2 * j + 1) * abs(sh) // (2 * abs(h)))
            if not (0 <= ty < to["height"] and 0 <= fy < frm["height"]):
                continue
            for i in range(abs(w)):
                tx, fx = along(x, w > 0, i), along(sx, sw > 0, (2 * i + 1) * abs(sw) // (2 * abs(w)))
                if not (0 <= tx < to["width"] and 0 <= fx < frm["width"]):
                    continue
                b, g, r, _ = m.read(frm["pixels"] + (frm["height"] - 1 - fy) * frm["stride"] + 4 * fx, 4)
                pixel = {4: bytes([b, g, r, 0]), 3: bytes([b, g, r]),
                         2: struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | b >> 3),
                         1: bytes([(r >> 5) << 5 | (g >> 5) << 2 | b >> 6])}[bpp]
                m.write(to["pixels"] + (to["height"] - 1 - ty) * to["stride"] + bpp * tx, pixel)
        return 1


class Shim:
    """Serves the module's imports from KERNEL32, USER32, GDI32 and msvcrt."""

    def __init__(self, m, log):
        self.m, self.log, self.gdi = m, log, Gdi(m)
        self.image = None
        self.tls_slots = 0
        self.errno = m.alloc(4, "errno", fill=0)
        self.strings = {}
        g = self.gdi
        stdcall = {
            "CloseHandle": (1, lambda h: 1),
            "CreateSemaphoreW": (4, lambda *a: 0x5E0),
            "ReleaseSemaphore": (3, lambda *a: 1),
            "WaitForSingleObject": (2, lambda *a: 0),
            "InitializeCriticalSection": (1, lambda c: None),
            "DeleteCriticalSection": (1, lambda c: None),
            "EnterCriticalSection": (1, lambda c: None),
            "LeaveCriticalSection": (1, lambda c: None),
            "GetCurrentThreadId": (0, lambda: 0x104),
            "GetLastError": (0, lambda: self.m.last_error),
            "SetLastError": (1, self.set_last_error),
            "GetModuleHandleA": (1, lambda name: self.module_handle(name and m.cstr(name))),
            "GetModuleHandleW": (1, lambda name: self.module_handle(name and self.wide(name))),
            "GetProcAddress": (2, lambda h, name: 0),
            "LoadLibraryA": (1, lambda name: 0),
            "FreeLibrary": (1, lambda h: 1),
            "IsDBCSLeadByteEx": (2, lambda page, c: 0),
            "MultiByteToWideChar": (6, self.multi_to_wide),
            "WideCharToMultiByte": (8, self.wide_to_multi),
            "Sleep": (1, lambda ms: None),
            "TlsAlloc": (0, self.tls_alloc),
            "TlsFree": (1, lambda i: 1),
            "TlsGetValue": (1, lambda i: m.word(TEB + 0xE10 + 4 * i)),
            "TlsSetValue": (2, lambda i, v: m.put(TEB + 0xE10 + 4 * i, v) or 1),
            "VirtualProtect": (4, self.virtual_protect),
            "VirtualQuery": (3, self.virtual_query),
            "FindResourceA": (3, self.find_resource),
            "LoadResource": (2, lambda h, r: self.resource_data(h, r)),
            "LockResource": (1, lambda loaded: loaded),
            "SizeofResource": (2, lambda h, r: m.word(r + 4) if self.resource_data(h, r) else 0),
            "FreeResource": (1, lambda loaded: 0),
            "BitBlt": (9, g.BitBlt),
            "StretchBlt": (11, self.recorded("StretchBlt", g.StretchBlt)),
            "CreateCompatibleDC": (1, self.recorded("CreateCompatibleDC", g.CreateCompatibleDC)),
            "DeleteDC": (1, self.recorded("DeleteDC", g.DeleteDC)),
            "DeleteObject": (1, self.recorded("DeleteObject", g.DeleteObject)),
            "GetObjectA": (3, self.recorded("GetObjectA", g.GetObjectA)),
            "GetStockObject": (1, self.recorded("GetStockObject", g.GetStockObject)),
            "SelectObject": (2, self.recorded("SelectObject", g.SelectObject)),
            "LoadBitmapA": (2, self.recorded("LoadBitmapA", self.load_bitmap)),
        }
        for name in ("GetWindowRect", "GetParent", "MoveWindow", "CheckRadioButton",
                     "IsDlgButtonChecked", "EndDialog", "GetDlgItem", "ShowWindow"):
            fn = getattr(log.dialog, name)
            stdcall[name] = (len(inspect.signature(fn).parameters), fn)
        cdecl = {
            "_amsg_exit": self.fatal("_amsg_exit"), "abort": self.fatal("abort"),
            "_errno": lambda: self.errno,
            "_initterm": self._initterm,
            "_lock": lambda i: None, "_unlock": lambda i: None,
            "atoi": lambda s: int(re.match(r"\s*([-+]?\d*)", m.cstr(s)).group(1) or 0),
            "malloc": lambda n: m.alloc(n, "malloc"),
            "calloc": lambda n, k: m.alloc(n * k, "malloc", fill=0),
            "realloc": self.realloc,
            "free": lambda a: a and m.free(a),
            "getenv": lambda name: 0,  # an empty environment: no ORV_SIMD
            "setlocale": lambda category, name: self.string("C"),
            "localeconv": lambda: self.string(".\0\0\0"),
            "memcpy": lambda d, s, n: m.write(d, m.read(s, n)) or d,
            "memmove": lambda d, s, n: m.write(d, m.read(s, n)) or d,  # read whole first: overlap is safe
            "memset": lambda d, c, n: m.write(d, bytes([c & 0xFF]) * n) or d,
            "strlen": lambda s: len(m.cstr(s)),
            "wcslen": lambda s: len(self.wide(s)),
            "strchr": self.strchr,
            "strcmp": lambda a, b: (m.cstr(a) > m.cstr(b)) - (m.cstr(a) < m.cstr(b)),
            "strncmp": lambda a, b, n: (m.cstr(a)[:n] > m.cstr(b)[:n]) - (m.cstr(a)[:n] < m.cstr(b)[:n]),
            "strerror": lambda e: self.string("error %d" % e),
            "fputc": lambda c, f: self.output(chr(c & 0xFF)) or c,
            "fputs": lambda s, f: self.output(m.cstr(s)) or 0,
            "fwrite": lambda p, size, n, f: self.output(m.read(p, size * n).decode("latin-1")) or n,
            "vfprintf": lambda f, fmt, args: self.output(m.cstr(fmt)) or 0,
        }
        self.served = {}
        for name, (n, fn) in stdcall.items():
            self.served[name] = (n, True, fn)
        for name, fn in cdecl.items():
            self.served[name] = (len(inspect.signature(fn).parameters), False, fn)
        # Data, not code: the C runtime's stream table and the multibyte limit.
        self.data = {"_iob": m.alloc(3 * 32, "_iob", fill=0),
                     "__mb_cur_max": m.alloc(4, "__mb_cur_max", fill=0)}
        m.put(self.data["__mb_cur_max"], 1)

    def bind(self, dll, name):
        if name in self.data:
            return self.data[name]
        n, stdcall, fn = self.served.get(name, (0, True, None))
        return self.m.stub(name, n, fn, stdcall)

    def recorded(self, name, fn):
        """A graphics call written to the call log, handles by first appearance."""
        def call(*args):
            result = fn(*args)
            shown = self.log.gdi_line(name, args, result)
            if shown:
                self.log.platform(shown)
            return result
        return call

    def fatal(self, name):
        def fn(*args):
            raise Failure("the module called %s" % name)
        return fn

    def output(self, text):
        sys.stderr.write("module output: %s" % text)

    def string(self, text):
        if text not in self.strings:
            a = self.m.alloc(len(text) + 1, "string", fill=0)
            self.m.write(a, text.encode("latin-1"))
            self.strings[text] = a
        return self.strings[text]

    def wide(self, a):
        out = []
        while True:
            c = struct.unpack("<H", self.m.read(a + 2 * len(out), 2))[0]
            if not c:
                return "".join(out)
            out.append(chr(c))

    def set_last_error(self, e):
        self.m.last_error = e

    def module_handle(self, name):
        if name is None or name == 0:
            return 0x400000  # the program
        return self.image.base if name.upper() in ("ORVPACK1.X32",) else 0  # no libgcc DLL here

    def multi_to_wide(self, page, flags, src, n, dst, room):
        text = self.m.read(src, signed(n)) if signed(n) >= 0 else (self.m.cstr(src) + "\0").encode("latin-1")
        if room:
            self.m.write(dst, text.decode("latin-1").encode("utf-16-le")[:2 * room])
        return len(text)

    def wide_to_multi(self, page, flags, src, n, dst, room, default, used):
        text = self.wide(src) + "\0" if signed(n) < 0 else \
            self.m.read(src, 2 * n).decode("utf-16-le")
        data = text.encode("latin-1", "replace")
        if room:
            self.m.write(dst, data[:room])
        return len(data)

    def tls_alloc(self):
        self.tls_slots += 1
        return self.tls_slots  # slot 0 stays unused

    def virtual_protect(self, address, size, new, old_out):
        if old_out:
            self.m.put(old_out, 0x20)  # PAGE_EXECUTE_READ
        start, end = address & ~0xFFF, (address + size + 0xFFF) & ~0xFFF
        prot = {0x02: UC_PROT_READ, 0x04: UC_PROT_READ | UC_PROT_WRITE, 0x20: UC_PROT_READ | UC_PROT_EXEC}
        self.m.uc.mem_protect(start, end - start, prot.get(new, UC_PROT_ALL))
        return 1

    def virtual_query(self, address, out, size):
        page = address & ~0xFFF
        self.m.put(out, page, self.image.base, 0x80, 0x1000, 0x1000, 0x20, 0x1000000)
        return 28

    def _initterm(self, begin, end):
        for fn in self.m.words(begin, (end - begin) // 4):
            if fn:
                yield fn, ()

    def realloc(self, a, n):
        b = self.m.alloc(n, "malloc")
        if a:
            self.m.write(b, self.m.read(a, min(n, self.m.blocks[a][0])))
            self.m.free(a)
        return b

    def strchr(self, s, c):
        text = self.m.cstr(s) + "\0"
        i = text.find(chr(c & 0xFF))
        return s + i if i >= 0 else 0

    # -- resources from the module's own resource section
    def resource_id(self, value):
        if value < 0x10000:
            return value
        text = self.m.cstr(value)
        return int(text[1:]) if text.startswith("#") else text.upper()

    def find_resource(self, module, name, type_):
        if module != self.image.base:
            return 0
        return self.image.resource(self.resource_id(type_), self.resource_id(name))

    def resource_data(self, module, entry):
        return self.image.base + self.m.word(entry) if module == self.image.base and entry else 0

    def load_bitmap(self, module, name):
        """A 32-bit DIB of the BITMAP resource, as the platform stand-in makes."""
        entry = self.find_resource(module, name, 2)
        if not entry:
            return 0
        data = self.m.read(self.resource_data(module, entry), self.m.word(entry + 4))
        _, width, height, _, bits, compression, _, _, _, used, _ = struct.unpack_from("<IiiHHIIiiII", data)
        if bits != 8 or compression != 0:
            return 0
        colours = used or 256
        palette = [data[40 + 4 * i:44 + 4 * i] for i in range(colours)]
        stride = (width + 3) & ~3
        rows = data[40 + 4 * colours:]
        pixels = self.m.alloc(4 * width * height, "bitmap", fill=0)
        self.m.write(pixels, b"".join(palette[rows[y * stride + x]][:3] + b"\0"
                                      for y in range(height) for x in range(width)))
        return self.gdi.dib(width, height, 32, pixels)


# ---------------------------------------------------------------- the call log and the dialog

class Log:
    """The host's call log, with the platform calls of dialogs and thumbnails."""

    def __init__(self):
        self.calls, self.record_platform, self.handles = [], False, {}
        self.dialog = PretendDialog(self)
        self.module_base = None

    def record(self, line):
        self.calls.append(line)

    def platform(self, line):
        if self.record_platform:
            self.calls.append(line)

    def handle(self, h):
        if not h:
            return "0"
        return "h%d" % self.handles.setdefault(h, len(self.handles) + 1)

    def gdi_line(self, name, args, r):
        H = self.handle
        if name == "SelectObject":
            return "SelectObject %s %s -> %s" % (H(args[0]), H(args[1]), H(r))
        if name == "GetStockObject":
            return "GetStockObject %d -> %s" % (args[0], H(r))
        if name == "LoadBitmapA":
            module = "module" if args[0] == self.module_base else "0x%x" % args[0]
            return "LoadBitmapA %s %d -> %s" % (module, args[1], H(r))
        if name == "CreateCompatibleDC":
            return "CreateCompatibleDC %s -> %s" % (H(args[0]), H(r))
        if name == "GetObjectA":
            return "GetObjectA %s %d -> %d %s" % (H(args[0]), signed(args[1]), signed(r),
                                                  "%dx%d" % struct.unpack("<ii", self.m.read(args[2] + 4, 8)))
        if name == "StretchBlt":
            a = [signed(v) for v in args]
            return "StretchBlt %s %d %d %d %d %s %d %d %d %d %d -> %d" % (
                H(args[0]), *a[1:5], H(args[5]), *a[6:10], args[10], r != 0)
        return "%s %s -> %d" % (name, H(args[0]), r != 0)


class PretendDialog:
    """The dialog a dialog procedure is given, as tests/pe32/oracle.cpp keeps it."""

    DIALOG, OWNER = 0xD1A1, 0x0A1E

    def __init__(self, log):
        self.log = log
        self.reset()

    def reset(self):
        self.rect, self.checked, self.ended, self.result = (10, 20, 270, 170), {}, False, -1

    def name(self, w):
        return {self.DIALOG: "dialog", self.OWNER: "owner"}.get(w, "control%d" % (signed(w) - 0x10000))

    def GetWindowRect(self, w, rect):
        r = (192, 144, 832, 624) if w == self.OWNER else self.rect
        self.log.m.put(rect, *r)
        self.log.platform("GetWindowRect %s -> 1 %d,%d,%d,%d" % ((self.name(w),) + r))
        return 1

    def GetParent(self, w):
        self.log.platform("GetParent %s -> owner" % self.name(w))
        return self.OWNER

    def MoveWindow(self, w, x, y, cx, cy, repaint):
        x, y, cx, cy = map(signed, (x, y, cx, cy))
        self.log.platform("MoveWindow %s %d %d %d %d %d -> 1" % (self.name(w), x, y, cx, cy, repaint))
        if w == self.DIALOG:
            self.rect = (x, y, x + cx, y + cy)
        return 1

    def CheckRadioButton(self, w, first, last, id_):
        self.log.platform("CheckRadioButton %s %d %d %d -> 1" % (self.name(w), first, last, id_))
        for i in range(first, last + 1):
            self.checked[i] = i == id_
        return 1

    def IsDlgButtonChecked(self, w, id_):
        r = 1 if self.checked.get(id_) else 0
        self.log.platform("IsDlgButtonChecked %s %d -> %d" % (self.name(w), id_, r))
        return r

    def EndDialog(self, w, result):
        self.log.platform("EndDialog %s %d -> 1" % (self.name(w), signed(result)))
        self.ended, self.result = True, signed(result)
        return 1

    def GetDlgItem(self, w, id_):
        self.log.platform("GetDlgItem %s %d -> control%d" % (self.name(w), id_, id_))
        return 0x10000 + id_

    def ShowWindow(self, w, show):
        self.log.platform("ShowWindow %s %d -> 0" % (self.name(w), show))
        return 0


# ---------------------------------------------------------------- the host, in emulated memory

class Obj:
    """A host object: its record in emulated memory and what the host keeps beside it."""

    def __init__(self, addr, **fields):
        self.addr = addr
        self.__dict__.update(fields)


class Host:
    """The stand-in host of host/stand_in_host.cpp over emulated memory: the same
    operations, the same records in the call log."""

    NO_INTERFACE, NO_CLASS, NOT_FOUND = 0x80040004, 0x80040005, 0x80040110

    def __init__(self, m, image, log):
        self.m, self.image, self.log = m, image, log
        self.record = log.record
        ex = image.exports
        self.get_class_form, self.get_interface, self.get_class_info, self.can_unload_now, \
            self.get_class_object = (ex[n] for n in ("DllGetClassForm", "DllGetInterface", "DllGetClassInfo",
                                                     "DllCanUnloadNow", "DllGetClassObject"))
        S = m.stub
        no_query = S("host QueryInterface", 3, self.no_query)
        fixed = S("host AddRef/Release", 1, lambda this: 1)
        base = [no_query, fixed, fixed]
        self.instance_ops = self.table([S("instance.QueryInterface", 3, self.instance_query),
                                        S("instance.AddRef", 1, self.instance_addref),
                                        S("instance.Release", 1, self.instance_release)])
        self.dict_ops = self.table(base + [0, 0, S("Get", 5, self.dict_get), S("Put", 5, self.dict_put)])
        self.stream_ops = self.table(base + [
            S("Open", 3, self.stream_open), S("Close", 1, self.stream_close),
            S("Read", 4, self.stream_read), 0, S("Write", 4, self.stream_write)])
        self.gc_ops = self.table(base + [
            0, S("GetDepth", 2, self.gc_depth), S("GetNativeInfo", 2, self.gc_info), 0,
            S("Blit", 7, self.gc_blit)])
        self.utilities_ops = self.table([no_query, S("Utilities.AddRef", 1, self.utilities_addref),
                                         S("Utilities.Release", 1, self.utilities_release)] + [0] * 38 +
                                        [S("RunDialog", 4, self.run_dialog)] + [0] * 3 +
                                        [S("RunDialogParam", 5, self.run_dialog)])
        self.allocator = self.object(base + [S("Alloc", 2, self.alloc_op), S("Free", 2, self.free_op)])
        self.callback = self.object([S("callback.QueryInterface", 3, self.callback_query), fixed, fixed,
                                     S("CreateInstance", 4, self.create_instance_op), 0,
                                     S("BeginUsingResources", 3, self.begin_resources),
                                     S("EndUsingResources", 3, self.end_resources)])
        self.cache = self.object(base + [0, 0, 0, 0, S("AddRegistryEntry", 5, self.add_registry_entry)])
        self.blocks, self.alloc_calls, self.fail_alloc_at, self.bad_frees = set(), 0, 0, 0
        self.instances, self.utilities, self.registry, self.objects = {}, {}, [], {}
        self.fail_put_entry, self.fail_put_key, self.fail_create = -1, "", 0
        self.brackets, self.next_token = 0, 100
        self.dialog_runner = None
        self.registration_dict = 0x5EED

    def table(self, slots):
        a = self.m.alloc(4 * len(slots), "host table")
        self.m.put(a, *slots)
        return a

    def object(self, slots, size=8):
        a = self.m.alloc(size, "host object", fill=0)
        self.m.put(a, self.table(slots))
        return a

    def temp(self, data):
        a = self.m.alloc(len(data), "host temporary")
        self.m.write(a, data)
        return a

    def no_query(self, this, iid, out):
        self.record("QueryInterface unsupported " + guid_text(self.m.read(iid, 16)))
        return self.NO_INTERFACE

    # -- allocator: accounting and faults
    def alloc_op(self, this, n):
        self.record("Alloc %d" % signed(n))
        self.alloc_calls += 1
        if self.fail_alloc_at > 0:
            self.fail_alloc_at -= 1
            if self.fail_alloc_at == 0:
                return 0
        if signed(n) < 0:
            return 0
        block = self.m.alloc(n, "host allocator block")
        self.blocks.add(block)
        return block

    def free_op(self, this, block):
        self.record("Free")
        if block not in self.blocks:
            self.bad_frees += 1
            return HOST_FAULT
        self.blocks.remove(block)
        self.m.free(block)
        return 0

    # -- instances: the 24-byte header, then the class's fields
    def new_instance(self, class_id):
        form = self.m.alloc(12, "host temporary", fill=0)
        cid = self.temp(class_id)
        rc = yield self.get_class_form, (cid, form, form + 4, form + 8)
        size, initialize, terminate = self.m.words(form, 3)
        self.m.free(form)
        if rc or signed(size) < 24:
            self.m.free(cid)
            return 0
        instance = self.m.alloc(size, "instance of " + guid_text(class_id), fill=0)
        self.m.put(instance, self.instance_ops, len(self.instances) + 1, self.callback, self.allocator, 0, 0)
        self.instances[instance] = Obj(instance, class_id=class_id, cid=cid, terminate=terminate, refs=1)
        if (yield initialize, (instance,)):
            yield from self.drop_instance(instance)
            return 0
        return instance

    def create_instance(self, class_id, iid, out):
        instance = yield from self.new_instance(class_id)
        if not instance:
            return self.NO_CLASS
        rc = yield self.get_interface, (instance, self.instances[instance].cid, iid, out)
        yield from self.drop_instance(instance)
        return rc

    def drop_instance(self, instance):
        record = self.instance_record(instance)
        record.refs -= 1
        if record.refs == 0:
            self.record("terminate " + guid_text(record.class_id))
            yield record.terminate, (instance,)
            del self.instances[instance]
            self.m.free(instance)
            self.m.free(record.cid)
        return record.refs

    def instance_record(self, instance):
        if instance not in self.instances:
            raise Failure("the module used an unknown instance 0x%x" % instance)
        return self.instances[instance]

    def instance_query(self, this, iid, out):
        record = self.instance_record(this)
        self.record("instance.QueryInterface " + guid_text(self.m.read(iid, 16)))
        return (yield self.get_interface, (this, record.cid, iid, out))

    def instance_addref(self, this):
        record = self.instance_record(this)
        self.record("instance.AddRef")
        record.refs += 1
        return record.refs

    def instance_release(self, this):
        self.record("instance.Release")
        self.instance_record(this)
        return (yield from self.drop_instance(this))

    # -- callback: instances, resources, utilities
    def create_instance_op(self, this, class_id, iid, out):
        class_id = self.m.read(class_id, 16)
        self.record("CreateInstance " + guid_text(class_id))
        if self.fail_create:
            return self.fail_create
        return (yield from self.create_instance(class_id, iid, out))

    def begin_resources(self, this, module, token):
        self.record("BeginUsingResources")
        self.brackets += 1
        self.m.put(token, self.next_token)
        self.next_token += 1
        return module

    def end_resources(self, this, module, token):
        self.record("EndUsingResources %d" % signed(token))
        self.brackets -= 1
        return 0

    def callback_query(self, this, iid, out):
        iid = self.m.read(iid, 16)
        if iid != UTILITIES_IF:
            self.record("callback.QueryInterface unsupported " + guid_text(iid))
            return self.NO_INTERFACE
        self.record("callback.QueryInterface HostUtilities")
        u = self.m.alloc(8, "utilities", fill=0)
        self.m.put(u, self.utilities_ops)
        self.utilities[u] = 1
        self.m.put(out, u)
        return 0

    def utilities_addref(self, this):
        self.utilities[this] += 1
        return self.utilities[this]

    def utilities_release(self, this):
        self.record("Utilities.Release")
        self.utilities[this] -= 1
        refs = self.utilities[this]
        if refs == 0:
            del self.utilities[this]
            self.m.free(this)
        return refs

    def run_dialog(self, this, module, id_, proc, param=None):
        self.record("%s %d" % ("RunDialog" if param is None else "RunDialogParam", id_))
        if not self.dialog_runner:
            return 0
        return (yield from self.dialog_runner(module, id_, proc, param or 0))

    # -- registry entries and dictionaries
    def new_dict(self, index=-1):
        d = Obj(self.m.alloc(8, "dict", fill=0), index=index, values=[])
        self.m.put(d.addr, self.dict_ops)
        self.objects[d.addr] = d
        return d

    def drop_object(self, o):
        del self.objects[o.addr]
        self.m.free(o.addr)

    def add_registry_entry(self, this, registration, class_id, iid, out):
        class_id, iid = self.m.read(class_id, 16), self.m.read(iid, 16)
        self.record("AddRegistryEntry %s %s" % (guid_text(class_id), guid_text(iid)))
        if registration != self.registration_dict:
            return HOST_FAULT
        d = self.new_dict(len(self.registry))
        d.class_id, d.iid = class_id, iid
        self.m.put(out, d.addr)
        self.registry.append(d)
        return 0

    def dict_get(self, this, type_, buffer, size, key):
        d, key = self.objects[this], self.m.cstr(key)
        self.record("Get " + key)
        value = next((v for k, t, v in d.values if k == key), None)
        if value is None:
            return self.NOT_FOUND
        n = 4 if type_ == 3 else len(value)
        if type_ in (6, 8) and signed(size) >= 0:
            n = min(n, size)
        self.m.write(buffer, (value + bytes(n))[:n])
        if type_ == 9:
            self.m.write(buffer + n, b"\0")
        return 0

    def dict_put(self, this, type_, data, size, key):
        d, key = self.objects[this], self.m.cstr(key)
        self.record("Put %s %d %d" % (key, type_, signed(size)))
        if d.index == self.fail_put_entry and key == self.fail_put_key:
            return HOST_FAULT
        value = self.m.read(data, 4) if type_ == 3 else \
            self.m.cstr(data).encode("latin-1") if type_ == 9 else self.m.read(data, size)
        for i, (k, _, _) in enumerate(d.values):
            if k == key:
                d.values[i] = (key, type_, value)
                break
        else:
            d.values.append((key, type_, value))
        return 0

    # -- streams with faults on request
    def new_stream(self, data=b"", fail_open=0, fail_read=0, fail_write=0):
        s = Obj(self.m.alloc(8, "stream", fill=0), bytes=data, position=0, fail_open=fail_open,
                fail_read=fail_read, fail_write=fail_write)
        self.m.put(s.addr, self.stream_ops)
        self.objects[s.addr] = s
        return s

    def stream_open(self, this, mode, zero):
        s = self.objects[this]
        self.record("Open %d" % signed(mode))
        if s.fail_open:
            return s.fail_open
        s.position = 0
        if mode == 2:
            s.bytes = b""
        return 0

    def stream_close(self, this):
        self.record("Close")
        return 0

    def stream_read(self, this, buffer, want, zero):
        s = self.objects[this]
        self.record("Read %d" % signed(want))
        n = min(want, len(s.bytes) - s.position)
        if s.fail_read:
            n = min(n, 1)  # a short read, then the fault
        self.m.write(buffer, s.bytes[s.position:s.position + n])
        s.position += n
        if s.fail_read:
            return s.fail_read
        return 0 if n == want else HOST_FAULT

    def stream_write(self, this, buffer, n, zero):
        s = self.objects[this]
        self.record("Write %d" % signed(n))
        if s.fail_write:
            return s.fail_write
        s.bytes += self.m.read(buffer, n)
        return 0

    # -- drawing surfaces: bottom-up DIBs selected into memory DCs
    def new_surface(self, name, width, height, depth):
        bits = 8 if depth <= 8 else 24 if depth == 24 else 32 if depth == 32 else 16
        row = (width * bits + 31) // 32 * 4
        s = Obj(self.m.alloc(8, "surface", fill=0), name=name, width=width, height=height, depth=depth,
                row=row, bits=bits)
        self.m.put(s.addr, self.gc_ops)
        s.header = self.temp(struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, 0, 0, 0, 0, 0))
        s.pixels = self.m.alloc(row * height, "pixels of " + name)
        gdi = self.image_gdi
        s.bitmap = gdi.dib(width, height, bits, s.pixels)
        s.dc = gdi.CreateCompatibleDC(0)
        gdi.SelectObject(s.dc, s.bitmap)
        self.objects[s.addr] = s
        return s

    def drop_surface(self, s):
        gdi = self.image_gdi
        gdi.SelectObject(s.dc, gdi.stock_bitmap)
        gdi.DeleteDC(s.dc)
        gdi.DeleteObject(s.bitmap)  # frees the pixels
        self.m.free(s.header)
        self.drop_object(s)

    def gc_depth(self, this, out):
        s = self.objects[this]
        self.record("GetDepth " + s.name)
        self.m.put(out, s.depth)
        return 0

    def gc_info(self, this, out):
        s = self.objects[this]
        self.record("GetNativeInfo " + s.name)
        self.m.put(out, 1, s.dc, s.header, s.pixels, 0)
        return 0

    def gc_blit(self, this, target, source, source_rect, a, b, c):
        dst, src = self.objects[this], self.objects[source]
        self.record("Blit %s -> %s" % (src.name, dst.name))
        if dst.depth != src.depth:
            return HOST_FAULT
        bpp = dst.bits // 8
        t = [signed(v) for v in self.m.words(target, 4)]  # top, left, bottom, right
        r = [signed(v) for v in self.m.words(source_rect, 4)]

        def span(t0, s0, extent, t_limit, s_limit):
            return max(0, -t0, -s0), min(extent, t_limit - t0, s_limit - s0)

        x0, x1 = span(t[1], r[1], t[3] - t[1], dst.width, src.width)
        y0, y1 = span(t[0], r[0], t[2] - t[0], dst.height, src.height)
        for y in range(y0, y1 if x0 < x1 else y0):
            source = src.pixels + (src.height - 1 - (r[0] + y)) * src.row + (r[1] + x0) * bpp
            target = dst.pixels + (dst.height - 1 - (t[0] + y)) * dst.row + (t[1] + x0) * bpp
            self.m.write(target, self.m.read(source, (x1 - x0) * bpp))
        return 0


# ---------------------------------------------------------------- the commands, as the oracle plays them

def pattern(n, index):
    """The bytes a surface starts with (oracle.cpp's Fill)."""
    return bytes((i * 31 + index * 101 + (i // 7) * 3) & 0xFF for i in range(n))


class Session:
    OBJECT_SIZE = 12  # an interface object on the 32-bit target

    def __init__(self, m, image, shim, log):
        self.m, self.image, self.log = m, image, log
        self.host = Host(m, image, log)
        self.host.image_gdi = shim.gdi
        self.out = []
        self.bytes_compared = 0
        self.patterns = {}

    def say(self, line):
        self.out.append(line)

    def op(self, obj, slot, *args):
        return self.m.call(self.m.word(self.m.word(obj) + 4 * slot), obj, *args)

    def run(self, command):
        self.out, self.log.calls, self.log.handles = [], [], {}
        words = command.split()
        getattr(self, "do_" + words[0])(*words[1:])
        h = self.host
        object_alloc = "Alloc %d" % self.OBJECT_SIZE
        self.out += ["call " + ("Alloc object" if c == object_alloc else c) for c in self.log.calls]
        self.say("live %d %d %d %d" % (len(h.blocks), len(h.instances), len(h.utilities), h.brackets))
        self.say("end")
        return self.out

    # -- members and actors through their operations tables
    def place(self, entry):
        """(rc, asset, initFromDict) of a member placed from a registry entry (-1: none)."""
        h, m = self.host, self.m
        out = m.alloc(4, "host temporary", fill=0)
        iid = h.temp(ASSET_IF)
        rc = m.drive(h.create_instance(ASSET, iid, out))
        asset = m.word(out) if rc == 0 else 0
        init = 0
        if asset:
            h.m.write(iid, INIT_FROM_DICT_IF)
            m.put(out, 0)
            rc = self.op(asset, 0, iid, out)
            init = m.word(out) if rc == 0 else 0
            if rc:
                self.release(asset)
                asset = 0
        if asset and entry >= 0:
            rc = self.op(init, 3, h.registry[entry].addr)
        m.free(out)
        m.free(iid)
        return rc, asset, init

    def release(self, *objects):
        for o in objects:
            if o:
                self.op(o, 2)

    def save(self, asset, stream):
        rc = self.op(asset, 15, stream.addr)
        self.say("save %d %s" % (signed(rc), stream.bytes.hex() or "-"))
        self.bytes_compared += len(stream.bytes)

    @staticmethod
    def media(text):
        return b"" if text == "-" else bytes.fromhex(text)

    def crc(self, s):
        data = self.m.read(s.pixels, s.row * s.height)
        self.bytes_compared += len(data)
        return "%08x" % zlib.crc32(data)

    # -- the commands
    def do_classes(self):
        h, m = self.host, self.m
        out = m.alloc(12, "host temporary", fill=0)
        self.say("info %d" % signed(m.call(h.get_class_info, h.allocator, out)))
        records, classes = m.word(out), []
        at = records
        while records:
            class_id, version = m.read(at, 16), m.word(at + 16)
            iid, iid_version = m.read(at + 20, 16), m.word(at + 36)
            if class_id == bytes(16) and iid == bytes(16):
                break
            self.say("record %s %d %s %d" % (guid_text(class_id), version, guid_text(iid), iid_version))
            if not classes or classes[-1] != class_id:
                classes.append(class_id)
            at += 40
        if records:
            h.free_op(0, records)
        for class_id in classes + [ACTOR_IF]:
            cid = h.temp(class_id)
            m.put(out, 0, 0, 0)
            rc = m.call(h.get_class_form, cid, out, out + 4, out + 8)
            size, init, term = m.words(out, 3)
            if rc == 0 and signed(size) < 24:
                raise Failure("class %s has an instance of %d bytes" % (guid_text(class_id), size))
            self.say("form %s %d %d%d" % (guid_text(class_id), signed(rc), init != 0, term != 0))
            m.free(cid)
        self.say("unload %d object %d" % (signed(m.call(h.can_unload_now)),
                                          signed(m.call(h.get_class_object, 0, 0, 0))))
        m.free(out)

    def do_register(self, entry, key):
        h, m = self.host, self.m
        for d in h.registry:
            h.drop_object(d)
        h.registry, h.fail_put_entry, h.fail_put_key = [], int(entry), key
        out, iid = m.alloc(4, "host temporary", fill=0), h.temp(REGISTRATION_IF)
        rc = m.drive(h.create_instance(REGISTRAR, iid, out))
        if rc == 0:
            registrar = m.word(out)
            rc = self.op(registrar, 3, h.cache, h.registration_dict)
            self.release(registrar)
        m.free(out)
        m.free(iid)
        self.say("register %d" % signed(rc))
        h.fail_put_entry = -1
        for d in h.registry:
            self.say("entry %d %s %s" % (d.index, guid_text(d.class_id), guid_text(d.iid)))
            for k, t, v in d.values:
                self.say("value %s %d %s" % (k, t, v.hex() or "-"))
                self.bytes_compared += len(v)
                if k in ("colorIcon", "BWIcon"):
                    self.check_icon(k, v)

    def check_icon(self, key, value):
        name = "ORV_FADE_XTRA_PICON" + ("_BW" if key == "BWIcon" else "")
        entry = self.image.resource(2, name)
        if value != self.m.read(self.image.base + self.m.word(entry), self.m.word(entry + 4)):
            raise Failure("%s is not the module's bitmap %s" % (key, name))

    def do_media(self, entry, media, fault):
        h, entry = self.host, int(entry)
        rc, asset, init = self.place(entry)
        size = self.m.alloc(4, "host temporary")
        self.m.put(size, 0xFFFFFFFF)
        self.op(asset, 19, size)
        self.say("place %d size %d" % (signed(rc), signed(self.m.word(size))))
        self.m.free(size)
        s = h.new_stream(fail_open=HOST_FAULT if fault == "open" else 0,
                         fail_write=HOST_FAULT if fault == "write" else 0)
        self.save(asset, s)
        _, asset2, init2 = self.place(entry)
        s2 = h.new_stream(self.media(media), fail_open=HOST_FAULT if fault == "open" else 0,
                          fail_read=HOST_FAULT if fault == "read" else 0)
        self.say("load %d" % signed(self.op(asset2, 16, s2.addr)))
        s3 = h.new_stream()
        self.save(asset2, s3)
        self.release(init2, asset2, init, asset)
        for o in (s, s2, s3):
            h.drop_object(o)

    def do_play(self, entry, depth, w, h_, top, left, bottom, right, chunk, duration, step, media, fail_at):
        h, m = self.host, self.m
        entry, depth, w, h_, chunk, step, fail_at = map(int, (entry, depth, w, h_, chunk, step, fail_at))
        window, offscreen = h.new_surface("window", w, h_, depth), h.new_surface("offscreen", w, h_, depth)
        for s, index in ((window, 0), (offscreen, 1)):
            key = (s.row * s.height, index)
            if key not in self.patterns:
                self.patterns[key] = pattern(*key)
            m.write(s.pixels, self.patterns[key])
        h.fail_alloc_at = fail_at
        rect = h.temp(struct.pack("<4i", *map(int, (top, left, bottom, right))))
        params = h.temp(struct.pack("<4i", chunk, int(duration), 0, 0))
        out = m.alloc(4, "host temporary", fill=0)
        rc, asset, init = self.place(entry)
        stream = h.new_stream(self.media(media))
        if rc == 0:
            rc = self.op(asset, 16, stream.addr)
        actor = 0
        if rc == 0:
            rc = self.op(asset, 20, out)
            actor = m.word(out) if rc == 0 else 0
        self.say("actor %d" % signed(rc))
        if rc == 0:
            rc = self.op(actor, 4, window.addr, offscreen.addr, rect, params)
            self.say("cue %d %s %s" % (signed(rc), self.crc(window), self.crc(offscreen)))
            done, k, elapsed = 0, 0, 0
            while rc == 0 and not done and k < 1000:
                m.put(out, 0)
                rc = self.op(actor, 5, window.addr, offscreen.addr, rect, params, out)
                done = m.word(out)
                self.say("step %d %d %s %s" % (signed(rc), done, self.crc(window), self.crc(offscreen)))
                k, elapsed = k + 1, elapsed + step
                m.put(params + 12, elapsed)
            rc = self.op(actor, 6, window.addr, offscreen.addr, rect, params)
            self.say("finish %d %s %s" % (signed(rc), self.crc(window), self.crc(offscreen)))
        self.release(actor, init, asset)
        h.fail_alloc_at = 0
        h.drop_object(stream)
        for s in (window, offscreen):
            h.drop_surface(s)
        for a in (rect, params, out):
            m.free(a)

    def run_dialog(self, script):
        dialog = self.log.dialog

        def runner(module, id_, proc, param):
            if module != self.image.base:
                raise Failure("the dialog was asked for from module 0x%x" % module)
            dialog.reset()
            self.log.record_platform = True
            r = yield proc, (dialog.DIALOG, 0x110, 0, param)
            self.log.platform("proc init -> %d" % signed(r))
            for action in script:
                if dialog.ended:
                    break
                id_ = {"ok": 1, "cancel": 2}.get(action) or int(action)
                if 1004 <= id_ <= 1010:
                    for i in range(1004, 1011):
                        dialog.checked[i] = i == id_
                r = yield proc, (dialog.DIALOG, 0x111, id_, 0)
                self.log.platform("proc command %d -> %d" % (id_, signed(r)))
            self.log.record_platform = False
            self.say("dialog ended %d result %d" % (dialog.ended, dialog.result))
            return 0
        return runner

    def dialog(self, which, entry, media, *script):
        h = self.host
        _, asset, init = self.place(int(entry))
        s = h.new_stream(self.media(media))
        self.op(asset, 16, s.addr)
        h.dialog_runner = self.run_dialog(script)
        rc = self.op(asset, 22 if which == "options" else 24)
        h.dialog_runner = None
        self.say("%s %d" % (which, signed(rc)))
        out = h.new_stream()
        self.save(asset, out)
        self.release(init, asset)
        h.drop_object(s)
        h.drop_object(out)

    def do_options(self, *args):
        self.dialog("options", *args)

    def do_about(self, *args):
        self.dialog("about", *args)

    def do_thumbnail(self, depth, w, h_, top, left, bottom, right):
        h = self.host
        surface = h.new_surface("thumbnail", int(w), int(h_), int(depth))
        rect = h.temp(struct.pack("<4i", *map(int, (top, left, bottom, right))))
        _, asset, init = self.place(-1)
        self.log.record_platform = True
        rc = self.op(asset, 25, surface.addr, rect)
        self.log.record_platform = False
        self.say("thumbnail %d" % signed(rc))
        self.release(init, asset)
        h.drop_surface(surface)
        self.m.free(rect)


# ---------------------------------------------------------------- the run

# Stage sizes: (width, height, rect top, left, bottom, right, chunk). 1 x 1; odd
# widths; a sub-rectangle at an odd offset; chunk sizes in each of the four bands.
STAGES = [(1, 1, 0, 0, 1, 1, 64), (13, 7, 0, 0, 7, 13, 16), (37, 29, 3, 5, 26, 30, 64),
          (150, 140, 0, 0, 140, 150, 100), (301, 270, 1, 3, 270, 300, 200)]
DEPTHS = (8, 16, 24, 32)
COLOR = "00000003"  # the colour transition's media: cyan
# (kernel set, base: None for the image base, the ORV_SIMD value that gives the native module the same set)
RUNS = [("portable", RELOCATED_BASE, "c"), ("mmx", None, "mmx"), ("sse2", RELOCATED_BASE, "sse2"),
        ("ssse3", None, "ssse3")]


def commands(kernel_set):
    yield "classes"
    yield "register 2 colorIcon"  # a Put that fails half-way
    yield "register -1 -"
    for entry in range(6):
        yield "media %d %s -" % (entry, COLOR)
    for fault in ("open", "read", "write"):
        yield "media 5 %s %s" % (COLOR, fault)
    yield "media 5 0000 -"  # too short
    for entry in range(6):
        for depth in DEPTHS:
            for w, h, top, left, bottom, right, chunk in STAGES:
                stage = "%d %d %d %d %d %d" % (w, h, top, left, bottom, right)
                yield "play %d %d %s %d 1000 100 %s 0" % (entry, depth, stage, chunk, COLOR)
    for entry in (0, 3, 5):  # an allocation that fails at each point of a short playback
        for fail_at in range(1, 5):
            yield "play %d 32 9 5 0 0 5 9 64 200 100 %s %d" % (entry, COLOR, fail_at)
    # The colour transition's options: a click and OK, OK on a colour out of range, a click and Cancel.
    for media, script in (("00000003", "1007 ok"), ("00000009", "ok"), ("00000002", "1005 cancel")):
        yield "options 5 %s %s" % (media, script)
    if kernel_set != "portable":  # the native processor has MMX: the badge shows
        yield "about 0 - ok"
    yield "thumbnail 32 120 80 5 7 72 107"
    yield "thumbnail 16 50 40 30 40 2 1"  # negative extents: mirrored


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
        for command in commands(kernel_set):
            ours = session.run(command)
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


def report_mismatch(kernel_set, command, ours, theirs):
    for i, (a, b) in enumerate(zip(ours + ["(nothing)"] * len(theirs), theirs + ["(nothing)"] * len(ours))):
        if a != b:
            clip = lambda s: s if len(s) < 200 else s[:200] + "..."  # noqa: E731
            raise Failure("mismatch (%s kernels) in '%s', line %d:\n  emulated DLL: %s\n  native:       %s"
                          % (kernel_set, command, i + 1, clip(a), clip(b)))


def damage(dll, map_file, symbol, out):
    """Changes the first shift count in SYMBOL's code (found through the link map)."""
    text = open(map_file).read()
    addresses = sorted(int(a, 16) for a in re.findall(r"^\s+0x([0-9a-f]+)\s+\S", text, re.M))
    found = re.search(r"^\s+0x([0-9a-f]+)\s+(?:\S+::)*%s\(" % re.escape(symbol), text, re.M)
    if not found:
        raise Failure("%s: no symbol %s" % (map_file, symbol))
    start = int(found.group(1), 16)
    end = next(a for a in addresses if a > start)
    shift = next(((a, b) for a, b, text in disassemble(dll, start, end)
                  if re.match(r"(shr|sar|shl)\s+\$0x[0-9a-f]+,", text)), None)
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
