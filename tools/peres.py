#!/usr/bin/env python3
"""Reads the resources of a Windows module file (PE32 or PE32+).

  peres.py list FILE               one line per resource: type, name, language, size
  peres.py get FILE TYPE NAME      the resource's bytes on standard output
  peres.py dialog FILE NAME        a dialog template: its header, then one line per control
  peres.py bitmap FILE NAME        a bitmap's header: width, height, bits, compression,
                                   palette entries and the resource's size
  peres.py version FILE            the version resource: the fixed numbers, every
                                   string of every string table, the translations
  peres.py checksum FILE           the PE checksum in the header and the one the
                                   file's bytes give; exits with 1 when they differ

TYPE is a standard type name (BITMAP, DIALOG, ...) or a number; NAME a number or
a string name, matched without regard to case as the resource functions do.
Exits with 1 when the resource is not there, 2 when the file is not a module.
Python's standard library only, so that every machine can run the checks.
"""

import struct
import sys

TYPE_NAMES = {
    1: "CURSOR", 2: "BITMAP", 3: "ICON", 4: "MENU", 5: "DIALOG", 6: "STRING",
    7: "FONTDIR", 8: "FONT", 9: "ACCELERATOR", 10: "RCDATA", 11: "MESSAGETABLE",
    12: "GROUP_CURSOR", 14: "GROUP_ICON", 16: "VERSION", 24: "MANIFEST",
}
TYPE_IDS = {name: number for number, name in TYPE_NAMES.items()}

# Class atoms of the predefined control classes in a dialog template.
CONTROL_CLASSES = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox",
                   0x84: "ScrollBar", 0x85: "ComboBox"}

DS_SETFONT = 0x40
DS_SHELLFONT = 0x48


class NotAModule(Exception):
    pass


class Resource:
    def __init__(self, type_, name, lang, data):
        self.type = type_  # int or str
        self.name = name   # int or str
        self.lang = lang
        self.data = data

    def type_text(self):
        return TYPE_NAMES.get(self.type, str(self.type))


class Module:
    def __init__(self, blob):
        self.blob = blob
        if blob[:2] != b"MZ" or len(blob) < 0x40:
            raise NotAModule("no MZ header")
        pe = struct.unpack_from("<I", blob, 0x3C)[0]
        if blob[pe:pe + 4] != b"PE\0\0":
            raise NotAModule("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from(
            "<HHIIIHH", blob, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", blob, optional)[0]
        if magic == 0x10B:
            directories = optional + 96
        elif magic == 0x20B:
            directories = optional + 112
        else:
            raise NotAModule("unknown optional header 0x%x" % magic)
        # Both optional header forms keep the checksum at the same offset.
        self.checksum_at = optional + 64
        count = struct.unpack_from("<I", blob, directories - 4)[0]
        # Directory 2 holds the resources.
        self.resource_rva, self.resource_size = (
            struct.unpack_from("<II", blob, directories + 16) if count > 2 else (0, 0))
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", blob, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rawsize), rawptr, rawsize))

    def offset(self, rva):
        for vaddr, span, rawptr, rawsize in self.sections:
            if vaddr <= rva < vaddr + span:
                if rva - vaddr >= rawsize:
                    raise NotAModule("RVA 0x%x is not in the file" % rva)
                return rawptr + rva - vaddr
        raise NotAModule("RVA 0x%x is in no section" % rva)

    def resources(self):
        """Every resource, in directory order: types, then names, then languages."""
        if not self.resource_rva:
            return []
        base = self.offset(self.resource_rva)
        out = []

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.blob, base + directory + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.blob, base + directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.blob, at)[0]
                    name = self.blob[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        for type_, types in entries(0):
            for name, names in entries(types & 0x7FFFFFFF):
                for lang, leaf in entries(names & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.blob, base + leaf)
                    start = self.offset(rva)
                    out.append(Resource(type_, name, lang, self.blob[start:start + size]))
        return out

    def checksum(self):
        """The image checksum: the file as 16-bit words, the header's checksum
        field counted as zero, added with end-around carry, plus the length."""
        blob = self.blob[:self.checksum_at] + bytes(4) + self.blob[self.checksum_at + 4:]
        if len(blob) % 2:
            blob += b"\0"
        total = sum(struct.unpack("<%dH" % (len(blob) // 2), blob))
        while total >> 16:
            total = (total & 0xFFFF) + (total >> 16)
        return total + len(self.blob)

    def stored_checksum(self):
        return struct.unpack_from("<I", self.blob, self.checksum_at)[0]

    def find(self, type_, name):
        for r in self.resources():
            if same_name(r.type, type_) and same_name(r.name, name):
                return r
        return None


def parse_id(text):
    """A number or a string name; "#123" is a number too."""
    text = text[1:] if text.startswith("#") else text
    return int(text, 0) if text[:1].isdigit() else text


def same_name(actual, wanted):
    if isinstance(actual, int) or isinstance(wanted, int):
        return actual == wanted
    return actual.upper() == wanted.upper()


class Reader:
    def __init__(self, data):
        self.data = data
        self.at = 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while struct.unpack_from("<H", self.data, end)[0]:
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name_or_ordinal(self):
        """None, an ordinal (int) or a string."""
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0:
            self.at += 2
            return None
        if first == 0xFFFF:
            self.at += 2
            return self.take("H")
        return self.text()

    def align(self, n):
        self.at = (self.at + n - 1) // n * n


class Dialog:
    def __init__(self, data):
        r = Reader(data)
        self.extended = len(data) >= 4 and struct.unpack_from("<HH", data) == (1, 0xFFFF)
        if self.extended:
            r.take("HHI")
            self.ex_style, self.style, count = r.take("IIH")
        else:
            self.style, self.ex_style, count = r.take("IIH")
        self.x, self.y, self.w, self.h = r.take("hhhh")
        self.menu = r.name_or_ordinal()
        self.window_class = r.name_or_ordinal()
        self.caption = r.text()
        self.font = None
        if self.style & DS_SETFONT:
            size = r.take("H")
            if self.extended:
                r.take("HBB")
            self.font = (size, r.text())
        self.controls = []
        for _ in range(count):
            r.align(4)
            if self.extended:
                _, ex_style, style = r.take("III")
                x, y, w, h, id_ = r.take("hhhhI")
            else:
                style, ex_style = r.take("II")
                x, y, w, h, id_ = r.take("hhhhH")
            class_ = control_class(r.name_or_ordinal())
            text = r.name_or_ordinal()
            text = "" if text is None else text  # an empty text is stored as "none"
            extra = r.take("H")
            r.at += extra
            self.controls.append(dict(id=id_, cls=class_, text=text, x=x, y=y, w=w, h=h,
                                      style=style, ex_style=ex_style))


class VersionBlock:
    """One block of a version resource: its key, its value and its children.
    A text value (type 1) is read up to its terminating zero."""

    def __init__(self, data, at=0):
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        if length < 6 or at + length > len(data):
            raise struct.error("version block at %d runs past the resource" % at)
        end = at + length
        r = Reader(data[:end])
        r.at = at + 6
        self.key = r.text()
        r.align(4)
        if kind == 1:
            size = min(2 * value_length, end - r.at)
            self.value = data[r.at:r.at + size].decode("utf-16-le").split("\0")[0]
            size = 2 * value_length
        else:
            size = value_length
            self.value = data[r.at:r.at + size]
        r.at += size
        self.children = []
        while True:
            r.align(4)
            if r.at >= end:
                break
            child = VersionBlock(data, r.at)
            self.children.append(child)
            r.at = child.end
        self.end = end


def version_lines(data):
    """The version resource as text, one field to a line."""
    root = VersionBlock(data)
    if root.key != "VS_VERSION_INFO" or len(root.value) < 52:
        raise struct.error("no VS_VERSION_INFO with fixed information")
    (signature, _, file_ms, file_ls, product_ms, product_ls, _, flags, os_, type_,
     subtype) = struct.unpack_from("<11I", root.value)
    if signature != 0xFEEF04BD:
        raise struct.error("fixed information signature 0x%08x" % signature)

    def dotted(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    lines = ["fixed FileVersion=%s ProductVersion=%s FileFlags=0x%x FileOS=0x%x FileType=%d "
             "FileSubtype=%d" % (dotted(file_ms, file_ls), dotted(product_ms, product_ls),
                                 flags, os_, type_, subtype)]
    for info in root.children:
        for table in info.children:
            if info.key == "StringFileInfo":
                lines += ["string %s %s=%s" % (table.key, s.key, quoted(s.value))
                          for s in table.children]
            elif info.key == "VarFileInfo" and table.key == "Translation":
                pairs = struct.unpack("<%dH" % (len(table.value) // 2), table.value)
                lines += ["translation 0x%04x %d" % pair for pair in zip(pairs[::2], pairs[1::2])]
    return lines


def control_class(value):
    """The predefined classes under one spelling, whether the resource compiler
    wrote an atom or a name (class names are not case-sensitive)."""
    if isinstance(value, int):
        return CONTROL_CLASSES.get(value, "0x%04x" % value)
    for name in CONTROL_CLASSES.values():
        if value.upper() == name.upper():
            return name
    return value


def quoted(value):
    if value is None:
        return '""'
    if isinstance(value, int):
        return "#%d" % value
    escaped = value.replace("\\", "\\\\").replace('"', '\\"')
    # One control per line: line breaks in a text are shown escaped.
    escaped = escaped.replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t")
    return '"%s"' % escaped


def main(argv):
    if len(argv) < 3 or argv[1] not in ("list", "get", "dialog", "bitmap", "version",
                                        "checksum"):
        sys.stderr.write(__doc__)
        return 2
    command, path = argv[1], argv[2]
    try:
        with open(path, "rb") as f:
            module = Module(f.read())
        if command == "list":
            for r in module.resources():
                print("%s\t%s\t%d\t%d" % (r.type_text(), r.name, r.lang, len(r.data)))
            return 0
        if command == "get" and len(argv) == 5:
            type_ = TYPE_IDS.get(argv[3].upper(), None) or parse_id(argv[3])
            resource = module.find(type_, parse_id(argv[4]))
            if resource is None:
                sys.stderr.write("no %s %s in %s\n" % (argv[3], argv[4], path))
                return 1
            sys.stdout.buffer.write(resource.data)
            return 0
        if command == "bitmap" and len(argv) == 4:
            resource = module.find(TYPE_IDS["BITMAP"], parse_id(argv[3]))
            if resource is None:
                sys.stderr.write("no BITMAP %s in %s\n" % (argv[3], path))
                return 1
            _, width, height, _, bits, compression, _, _, _, used, _ = struct.unpack_from(
                "<IiiHHIIiiII", resource.data)
            palette = used if used or bits > 8 else 1 << bits
            print("bitmap %s width=%d height=%d bits=%d compression=%d palette=%d size=%d" % (
                argv[3], width, height, bits, compression, palette, len(resource.data)))
            return 0
        if command == "version" and len(argv) == 3:
            resource = module.find(TYPE_IDS["VERSION"], 1)
            if resource is None:
                sys.stderr.write("no VERSION 1 in %s\n" % path)
                return 1
            print("\n".join(version_lines(resource.data)))
            return 0
        if command == "checksum" and len(argv) == 3:
            stored, computed = module.stored_checksum(), module.checksum()
            print("checksum stored=0x%08x computed=0x%08x" % (stored, computed))
            return 0 if stored == computed else 1
        if command == "dialog" and len(argv) == 4:
            resource = module.find(TYPE_IDS["DIALOG"], parse_id(argv[3]))
            if resource is None:
                sys.stderr.write("no DIALOG %s in %s\n" % (argv[3], path))
                return 1
            d = Dialog(resource.data)
            font = "%d %s" % d.font if d.font else "none"
            print("dialog %s caption=%s x=%d y=%d w=%d h=%d style=0x%08x exstyle=0x%08x font=%s "
                  "controls=%d" % (argv[3], quoted(d.caption), d.x, d.y, d.w, d.h, d.style,
                                   d.ex_style, quoted(font), len(d.controls)))
            for c in d.controls:
                print("control id=%d class=%s text=%s x=%d y=%d w=%d h=%d style=0x%08x "
                      "exstyle=0x%08x" % (c["id"], c["cls"], quoted(c["text"]), c["x"], c["y"],
                                          c["w"], c["h"], c["style"], c["ex_style"]))
            return 0
    except (OSError, NotAModule, struct.error, UnicodeDecodeError) as e:
        sys.stderr.write("%s: not a readable module file: %s\n" % (path, e))
        return 2
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
