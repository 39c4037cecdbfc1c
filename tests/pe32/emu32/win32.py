"""The Win32 shim: the module's imports from KERNEL32, USER32, GDI32 and msvcrt,
with memory DCs and bitmaps whose pixels are in emulated memory."""

import inspect
import re
import struct
import sys

from unicorn import UC_PROT_ALL, UC_PROT_EXEC, UC_PROT_READ, UC_PROT_WRITE

from .machine import TEB, Failure, signed


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
