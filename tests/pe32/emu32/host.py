"""The host's part in emulated memory: its call log, the dialog a dialog procedure
is given, its objects, and the commands as tests/pe32/oracle.cpp plays them."""

import struct
import zlib

from .machine import (ACTOR_IF, ASSET, ASSET_IF, HOST_FAULT, INIT_FROM_DICT_IF, REGISTRAR, REGISTRATION_IF,
                      UTILITIES_IF, Failure, guid_text, signed)


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
