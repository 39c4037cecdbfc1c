#!/usr/bin/python3
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

Debian's pefile (python3-pefile, for /usr/bin/python3) reads the headers, the
resource directory, the version resource and the checksum, so that the checks
do not read the file with code of the people who build it. What pefile does
not read is here: dialog templates, a bitmap's header, and every translation of
a version resource (pefile keeps the last one only). Where pefile stops before
the last string table of a version resource, "version" exits with 2 rather than
show some of the strings.
"""

import struct
import sys
import traceback

import pefile

# Class atoms of the predefined control classes in a dialog template.
CONTROL_CLASSES = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox",
                   0x84: "ScrollBar", 0x85: "ComboBox"}

DS_SETFONT = 0x40


class Missing(Exception):
    pass


class Resource:
    def __init__(self, type_, name, lang, data):
        self.type = type_  # int or str
        self.name = name   # int or str
        self.lang = lang
        self.data = data

    def type_text(self):
        if isinstance(self.type, str):
            return self.type
        return pefile.RESOURCE_TYPE.get(self.type, "RT_%d" % self.type)[3:]


def load(path):
    """The module with its headers and resource directory (and so its version
    resource) parsed, and nothing else."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    return pe


def resources(pe):
    """Every resource, in directory order: types, then names, then languages."""
    def named(entry):
        return entry.id if entry.name is None else str(entry.name)

    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    return [Resource(named(type_), named(name), lang.id,
                     pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size))
            for type_ in (root.entries if root else [])
            for name in type_.directory.entries
            for lang in name.directory.entries]


def find(pe, type_text, name_text):
    """The resource of that type and name; Missing when there is none."""
    type_ = pefile.RESOURCE_TYPE.get("RT_" + type_text.upper()) or parse_id(type_text)
    name = parse_id(name_text)
    for r in resources(pe):
        if same_name(r.type, type_) and same_name(r.name, name):
            return r
    raise Missing("no %s %s" % (type_text, name_text))


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

    def align4(self):
        self.at = align4(self.at)


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
            r.align4()
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


def version_lines(pe, data):
    """The version resource as text, one field to a line, as pefile reads it;
    the translations are read from data, the resource's bytes."""
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed or fixed[0].Signature != 0xFEEF04BD:
        raise struct.error("no VS_VERSION_INFO with fixed information")
    f = fixed[0]

    def dotted(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    lines = ["fixed FileVersion=%s ProductVersion=%s FileFlags=0x%x FileOS=0x%x FileType=%d "
             "FileSubtype=%d" % (dotted(f.FileVersionMS, f.FileVersionLS),
                                 dotted(f.ProductVersionMS, f.ProductVersionLS),
                                 f.FileFlags, f.FileOS, f.FileType, f.FileSubtype)]
    start = pe.VS_VERSIONINFO[0].get_file_offset()
    for info in pe.FileInfo[0]:
        tables = getattr(info, "StringTable", [])
        for table in tables:
            lines += ["string %s %s=%s" % (table.LangID.decode(), key.decode(),
                                           quoted(value.decode()))
                      for key, value in table.entries.items()]
        # pefile can stop before the last string tables (when they are short):
        # a list with some missing is refused rather than shown.
        if tables and align4(tables[-1].get_file_offset() + tables[-1].Length) < \
                info.get_file_offset() + info.Length:
            raise struct.error("pefile read %d string tables, not all" % len(tables))
        for var in getattr(info, "Var", []):
            if b"Translation" in var.entry:
                # pefile keeps the last pair only; the words follow the block's
                # header and key.
                at = align4(var.get_file_offset() - start + var.sizeof() + 2 * len("Translation\0"))
                pairs = struct.unpack_from("<%dH" % (var.ValueLength // 2), data, at)
                lines += ["translation 0x%04x %d" % pair for pair in zip(pairs[::2], pairs[1::2])]
    return lines


def align4(n):
    return (n + 3) // 4 * 4


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
    commands = {"list": 3, "get": 5, "dialog": 4, "bitmap": 4, "version": 3, "checksum": 3}
    if len(argv) < 3 or commands.get(argv[1]) != len(argv):
        sys.stderr.write(__doc__)
        return 2
    command, path = argv[1], argv[2]
    try:
        pe = load(path)
        if command == "list":
            for r in resources(pe):
                print("%s\t%s\t%d\t%d" % (r.type_text(), r.name, r.lang, len(r.data)))
        elif command == "get":
            data = find(pe, argv[3], argv[4]).data
            sys.stdout.buffer.write(data)
        elif command == "bitmap":
            data = find(pe, "BITMAP", argv[3]).data
            _, width, height, _, bits, compression, _, _, _, used, _ = struct.unpack_from(
                "<IiiHHIIiiII", data)
            palette = used if used or bits > 8 else 1 << bits
            print("bitmap %s width=%d height=%d bits=%d compression=%d palette=%d size=%d" % (
                argv[3], width, height, bits, compression, palette, len(data)))
        elif command == "version":
            print("\n".join(version_lines(pe, find(pe, "VERSION", "1").data)))
        elif command == "checksum":
            stored, computed = pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()
            print("checksum stored=0x%08x computed=0x%08x" % (stored, computed))
            return 0 if stored == computed else 1
        else:
            d = Dialog(find(pe, "DIALOG", argv[3]).data)
            font = "%d %s" % d.font if d.font else "none"
            print("dialog %s caption=%s x=%d y=%d w=%d h=%d style=0x%08x exstyle=0x%08x font=%s "
                  "controls=%d" % (argv[3], quoted(d.caption), d.x, d.y, d.w, d.h, d.style,
                                   d.ex_style, quoted(font), len(d.controls)))
            for c in d.controls:
                print("control id=%d class=%s text=%s x=%d y=%d w=%d h=%d style=0x%08x "
                      "exstyle=0x%08x" % (c["id"], c["cls"], quoted(c["text"]), c["x"], c["y"],
                                          c["w"], c["h"], c["style"], c["ex_style"]))
        return 0
    except Missing as e:
        sys.stderr.write("%s in %s\n" % (e, path))
        return 1
    except (OSError, pefile.PEFormatError, struct.error, UnicodeDecodeError) as e:
        sys.stderr.write("%s: not a readable module file: %s\n" % (path, e))
        return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except Exception:  # noqa: BLE001  a reader's fault is no missing resource (exit 1)
        traceback.print_exc()
        sys.exit(2)
