#!/usr/bin/python3
"""Checks peres.py against a module that the mingw-w64 tools build from a known
resource script: its own dialog template reader (classic and extended), and
each command's output of what pefile reads."""

import contextlib
import io
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
      VALUE "FileDescription", "Long enough that pefile reads this table"
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


# A second string table this short, pefile does not read.
SHORT_TABLE = r'''
#include <windows.h>
1 VERSIONINFO
FILEVERSION 1,0,0,0
{
  BLOCK "StringFileInfo" { BLOCK "040904B0" { VALUE "A", "1" } BLOCK "040704E4" { VALUE "B", "2" } }
}
'''


def build(folder, script, name):
    """A 32-bit module with the resources of the script, or None when the tools are missing."""
    gcc, windres = "i686-w64-mingw32-gcc", "i686-w64-mingw32-windres"
    if not shutil.which(gcc) or not shutil.which(windres):
        return None
    with open(os.path.join(folder, "fixture.rc"), "w") as f:
        f.write(script)
    with open(os.path.join(folder, "one.bmp"), "wb") as f:
        f.write(tiny_bitmap())
    with open(os.path.join(folder, "empty.c"), "w") as f:
        f.write("int fixture_value = 1;\n")
    run = dict(cwd=folder, check=True, capture_output=True)
    subprocess.run([windres, "fixture.rc", "-O", "coff", "-o", "fixture.res.o"], **run)
    subprocess.run([gcc, "-shared", "-o", name, "empty.c", "fixture.res.o"], **run)
    return os.path.join(folder, name)


def peres_main(*args):
    """Runs the command line and returns (exit code, output)."""
    out = io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(io.StringIO()):
        code = peres.main(["peres.py", *args])
    return code, out.getvalue()


class PeresTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()
        cls.path = build(cls.folder, SCRIPT, "fixture.dll")
        if not cls.path:
            shutil.rmtree(cls.folder)
            raise unittest.SkipTest("no mingw-w64 tools (i686-w64-mingw32-gcc, -windres)")
        cls.short = build(cls.folder, SHORT_TABLE, "short.dll")
        with open(cls.path, "rb") as f:
            changed = bytearray(f.read())
        changed[-1] ^= 1
        cls.changed = os.path.join(cls.folder, "changed.dll")
        with open(cls.changed, "wb") as f:
            f.write(changed)
        cls.pe = peres.load(cls.path)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def test_classic_dialog(self):
        d = peres.Dialog(peres.find(self.pe, "DIALOG", "200").data)
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

    def test_extended_dialog(self):
        d = peres.Dialog(peres.find(self.pe, "DIALOG", "201").data)
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

    def test_command_line(self):
        version = [
            "fixed FileVersion=1.2.3.4 ProductVersion=5.6.65000.8 FileFlags=0x2 FileOS=0x4 "
            "FileType=2 FileSubtype=0",
            'string 040904B0 CompanyName="Maker \\"M\\""',
            'string 040904B0 Comments=""',
            'string 040904B0 FileVersion="1.2.3.4"',
            'string 040704E4 ProductName="Zwei"',
            'string 040704E4 FileDescription="Long enough that pefile reads this table"',
            "translation 0x0409 1200",
            "translation 0x0407 1252"]
        cases = [  # arguments, exit code, the output's lines (None: not checked)
            (["list", self.path], 0, ["BITMAP\tPICTURE_ONE\t1033\t56", "BITMAP\t7\t1033\t56",
                                      "DIALOG\t200\t1033\t248", "DIALOG\t201\t1033\t150",
                                      "RCDATA\tBLOB\t1033\t12", "VERSION\t1\t1033\t544"]),
            (["dialog", self.path, "200"], 0, [
                'dialog 200 caption="Classic \\"quoted\\"" x=5 y=6 w=120 h=80 style=0x80c000c0 '
                'exstyle=0x00000000 font="8 MS Sans Serif" controls=4',
                'control id=1001 class=Button text="Red" x=10 y=12 w=50 h=10 style=0x50020009 '
                'exstyle=0x00000000',
                'control id=1002 class=Static text="" x=-3 y=24 w=60 h=1 style=0x50000007 '
                'exstyle=0x00000000',
                'control id=1003 class=Static text=#7 x=70 y=30 w=20 h=20 style=0x5000000e '
                'exstyle=0x00000000',
                'control id=1 class=Button text="Go" x=60 y=60 w=40 h=14 style=0x50010001 '
                'exstyle=0x00000000']),
            (["bitmap", self.path, "picture_one"], 0,
             ["bitmap picture_one width=2 height=2 bits=24 compression=0 palette=0 size=56"]),
            (["version", self.path], 0, version),
            (["checksum", self.path], 0, None),
            (["checksum", self.changed], 1, None),
            (["dialog", self.path, "119"], 1, []),
            (["get", self.path, "BITMAP", "8"], 1, []),
            (["list", __file__], 2, []),
        ]
        for args, code, lines in cases:
            with self.subTest(args[0], file=os.path.basename(args[1]), rest=args[2:]):
                got, out = peres_main(*args)
                self.assertEqual(got, code)
                if lines is not None:
                    self.assertEqual(out.splitlines(), lines)
        # The stored and computed sums are the linker's and pefile's; one byte
        # changed shows in the second alone.
        ok, changed = peres_main("checksum", self.path)[1], peres_main("checksum", self.changed)[1]
        self.assertRegex(ok, r"^checksum stored=(0x[0-9a-f]{8}) computed=\1\n$")
        self.assertEqual(ok.split()[1], changed.split()[1])
        self.assertNotEqual(ok, changed)

    def test_resource_bytes(self):
        for type_, name, data in [("BITMAP", "picture_one", tiny_bitmap()[14:]),
                                  ("RCDATA", "Blob", struct.pack("<3I", 1, 2, 3))]:
            with self.subTest(type_):
                out = io.BytesIO()
                with contextlib.redirect_stdout(io.TextIOWrapper(out)) as text:
                    self.assertEqual(peres.main(["peres.py", "get", self.path, type_, name]), 0)
                    text.flush()
                self.assertEqual(out.getvalue(), data)

    def test_no_partial_version(self):
        # The strings are all there, or the command says it cannot show them.
        code, out = peres_main("version", self.short)
        if code == 0:
            self.assertEqual(out.splitlines()[1:],
                             ['string 040904B0 A="1"', 'string 040704E4 B="2"'])
        else:
            self.assertEqual((code, out), (2, ""))


if __name__ == "__main__":
    unittest.main()
