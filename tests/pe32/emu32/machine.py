"""One emulated 32-bit x86 process (Unicorn): memory, the stubs, the heap, one thread,
and what every part of the run shares."""

import inspect
import struct

from unicorn import UC_ARCH_X86, UC_HOOK_CODE, UC_HOOK_INSN, UC_HOOK_MEM_INVALID, UC_MODE_32, Uc, UcError
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
