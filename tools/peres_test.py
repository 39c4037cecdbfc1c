#!/usr/bin/env python3
"""Checks peres.py against modules that the mingw-w64 tools build from a known
resource script, 32- and 64-bit, with classic and extended dialog templates."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peres  # noqa: E402

SCRIPT = r'''
#include <windows.h>
LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US
PICTURE_ONE BITMAP "one.bmp"
7 BITMAP "one.bmp"
Blob RCDATA { 1L, 2L, 3L }

200 DIALOG 5, 6, 120, 80
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | DS_SETFONT
CAPTION "Classic ""quoted"""
FONT 8, "MS Sans Serif"
{
  CONTROL "Red", 1001, "Button", BS_AUTORADIOBUTTON | WS_GROUP, 10, 12, 50, 10
  CONTROL "", 1002, "Static", SS_BLACKFRAME, -3, 24, 60, 1
  CONTROL 7, 1003, "Static", SS_BITMAP, 70, 30, 20, 20
  CONTROL "Go", IDOK, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, 60, 60, 40, 14
}

201 DIALOGEX 0, 0, 90, 40
STYLE WS_POPUP | DS_SETFONT
CAPTION "Extended"
FONT 9, "Tahoma", 700, 1, 0
{
  CONTROL "Two\nlines", 77000, "msctls_trackbar32", 0x11, 1, 2, 3, 4, WS_EX_CLIENTEDGE
}

1 VERSIONINFO
FILEVERSION 1,2,3,4
PRODUCTVERSION 5,6,65000,8
FILEFLAGSMASK 0x3f
FILEFLAGS VS_FF_PRERELEASE
FILEOS VOS__WINDOWS32
FILETYPE VFT_DLL
{
  BLOCK "StringFileInfo"
  {
    BLOCK "040904B0"
    {
      VALUE "CompanyName", "Maker \"M\""
      VALUE "Comments", ""
      VALUE "FileVersion", "1.2.3.4"
    }
    BLOCK "040704E4"
    {
      VALUE "ProductName", "Zwei"
    }
  }
  BLOCK "VarFileInfo"
  {
    VALUE "Translation", 0x409, 1200, 0x407, 1252
  }
}
'''


def tiny_bitmap():
    """A 2x2 24-bit bitmap file: 14-byte file header, 40-byte info header, 2 rows of 8 bytes."""
    pixels = bytes(range(16))
    info = struct.pack("<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def build(triple, folder):
    """The fixture module for one target, or None when its tools are missing."""
    gcc, windres = triple + "-gcc", triple + "-windres"
    if not shutil.which(gcc) or not shutil.which(windres):
        return None
    with open(os.path.join(folder, "fixture.rc"), "w") as f:
        f.write(SCRIPT)
    with open(os.path.join(folder, "one.bmp"), "wb") as f:
        f.write(tiny_bitmap())
    with open(os.path.join(folder, "empty.c"), "w") as f:
        f.write("int fixture_value = 1;\n")
    run = dict(cwd=folder, check=True, capture_output=True)
    subprocess.run([windres, "fixture.rc", "-O", "coff", "-o", "fixture.res.o"], **run)
    subprocess.run([gcc, "-shared", "-o", "fixture.dll", "empty.c", "fixture.res.o"], **run)
    return os.path.join(folder, "fixture.dll")


def peres_main(*args):
    """Runs the command line and returns (exit code, output)."""
    import contextlib
    import io
    out = io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(io.StringIO()):
        code = peres.main(["peres.py", *args])
    return code, out.getvalue()


class PeresTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()
        cls.modules = {}
        for triple in ("i686-w64-mingw32", "x86_64-w64-mingw32"):
            sub = os.path.join(cls.folder, triple)
            os.mkdir(sub)
            path = build(triple, sub)
            if path:
                cls.modules[triple] = path
        if not cls.modules:
            raise unittest.SkipTest("no mingw-w64 tools")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def for_each_module(self, check):
        for triple, path in self.modules.items():
            with self.subTest(triple), open(path, "rb") as f:
                check(triple, peres.Module(f.read()))

    def test_machine_and_listing(self):
        machines = {"i686-w64-mingw32": 0x14C, "x86_64-w64-mingw32": 0x8664}
        def check(triple, module):
            self.assertEqual(module.machine, machines[triple])
            listed = {(r.type_text(), r.name): (r.lang, len(r.data)) for r in module.resources()}
            # The bitmap resource is the file without its 14-byte file header.
            self.assertEqual(listed[("BITMAP", "PICTURE_ONE")], (0x409, 56))
            self.assertEqual(listed[("BITMAP", 7)], (0x409, 56))
            self.assertEqual(listed[("RCDATA", "BLOB")], (0x409, 12))
            self.assertIn(("DIALOG", 200), listed)
            self.assertIn(("DIALOG", 201), listed)
            self.assertIn(("VERSION", 1), listed)
            self.assertEqual(len(listed), 6)

        self.for_each_module(check)

    def test_bytes_and_lookup(self):
        def check(_, module):
            self.assertEqual(module.find(2, "picture_one").data, tiny_bitmap()[14:])
            self.assertEqual(module.find(10, "Blob").data, struct.pack("<3I", 1, 2, 3))
            self.assertIsNone(module.find(2, 8))
            self.assertIsNone(module.find(5, "PICTURE_ONE"))

        self.for_each_module(check)

    def test_classic_dialog(self):
        def check(_, module):
            d = peres.Dialog(module.find(5, 200).data)
            self.assertFalse(d.extended)
            self.assertEqual((d.x, d.y, d.w, d.h), (5, 6, 120, 80))
            self.assertEqual(d.caption, 'Classic "quoted"')
            self.assertEqual(d.font, (8, "MS Sans Serif"))
            # DS_MODALFRAME | WS_POPUP | WS_CAPTION | DS_SETFONT
            self.assertEqual(d.style, 0x80C000C0)
            ws_child_visible = 0x50000000
            self.assertEqual(
                [(c["id"], c["cls"], c["text"], c["x"], c["y"], c["w"], c["h"], c["style"])
                 for c in d.controls],
                [(1001, "Button", "Red", 10, 12, 50, 10, ws_child_visible | 0x00020000 | 0x9),
                 (1002, "Static", "", -3, 24, 60, 1, ws_child_visible | 0x7),
                 (1003, "Static", 7, 70, 30, 20, 20, ws_child_visible | 0xE),
                 (1, "Button", "Go", 60, 60, 40, 14, ws_child_visible | 0x00010000 | 0x1)])

        self.for_each_module(check)

    def test_extended_dialog(self):
        def check(_, module):
            d = peres.Dialog(module.find(5, 201).data)
            self.assertTrue(d.extended)
            self.assertEqual(d.caption, "Extended")
            self.assertEqual(d.font, (9, "Tahoma"))
            self.assertEqual(len(d.controls), 1)
            c = d.controls[0]
            # Names of other classes keep the resource compiler's spelling.
            self.assertEqual((c["id"], c["cls"].upper(), c["text"], c["x"], c["y"], c["w"], c["h"]),
                             (77000, "MSCTLS_TRACKBAR32", "Two\nlines", 1, 2, 3, 4))
            self.assertEqual(c["style"], 0x50000011)
            self.assertEqual(c["ex_style"], 0x200)

        self.for_each_module(check)

    def test_version_and_checksum(self):
        def check(_, module):
            self.assertEqual(peres.version_lines(module.find(16, 1).data), [
                "fixed FileVersion=1.2.3.4 ProductVersion=5.6.65000.8 FileFlags=0x2 FileOS=0x4 "
                "FileType=2 FileSubtype=0",
                'string 040904B0 CompanyName="Maker \\"M\\""',
                'string 040904B0 Comments=""',
                'string 040904B0 FileVersion="1.2.3.4"',
                'string 040704E4 ProductName="Zwei"',
                "translation 0x0409 1200",
                "translation 0x0407 1252"])
            # The linker fills the checksum in; one byte changed shows.
            self.assertEqual(module.checksum(), module.stored_checksum())
            changed = bytearray(module.blob)
            changed[-1] ^= 1
            self.assertNotEqual(peres.Module(bytes(changed)).checksum(), module.stored_checksum())

        self.for_each_module(check)

    def test_command_line(self):
        path = next(iter(self.modules.values()))
        code, out = peres_main("list", path)
        self.assertEqual(code, 0)
        self.assertIn("BITMAP\tPICTURE_ONE\t1033\t56\n", out)
        code, out = peres_main("dialog", path, "200")
        self.assertEqual(code, 0)
        lines = out.splitlines()
        self.assertEqual(len(lines), 5)
        self.assertTrue(lines[0].startswith('dialog 200 caption="Classic \\"quoted\\""'))
        self.assertEqual(lines[1], 'control id=1001 class=Button text="Red" x=10 y=12 w=50 h=10 '
                                   'style=0x50020009 exstyle=0x00000000')
        self.assertIn("text=#7 ", lines[3])
        code, out = peres_main("dialog", path, "201")
        self.assertEqual(out.splitlines()[1].split(" x=")[0],
                         'control id=77000 class=MSCTLS_TRACKBAR32 text="Two\\nlines"')
        self.assertEqual(peres_main("bitmap", path, "picture_one"),
                         (0, "bitmap picture_one width=2 height=2 bits=24 compression=0 "
                             "palette=0 size=56\n"))
        self.assertEqual(peres_main("dialog", path, "119")[0], 1)
        self.assertEqual(peres_main("get", path, "BITMAP", "8")[0], 1)
        self.assertEqual(peres_main("list", __file__)[0], 2)
        self.assertEqual(peres_main("version", path)[1].splitlines()[3],
                         'string 040904B0 FileVersion="1.2.3.4"')
        code, out = peres_main("checksum", path)
        self.assertEqual((code, out[:17]), (0, "checksum stored=0"))


if __name__ == "__main__":
    unittest.main()
