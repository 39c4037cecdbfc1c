"""Our own PE loader: the module mapped into a machine, relocated, its imports bound
to the shim's stubs, its TLS callbacks and DllMain run."""

import struct

from unicorn import UC_PROT_EXEC, UC_PROT_READ, UC_PROT_WRITE

from .machine import DATA, TEB, Failure


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
