#!/usr/bin/env python3
"""Turns the dialog description into both forms the builds use.

    scripts/make-dialogs.py            write resources/dialogs.rc and
                                       resources/dialog_<id>.bin
    scripts/make-dialogs.py --check    exit 1 when any of them differs from
                                       what the description gives
    scripts/make-dialogs.py --res F    exit 1 unless the dialogs in the
                                       compiled resource file F (from the
                                       resource compiler) carry exactly the
                                       bytes of the .bin files

resources/dialogs.json is the one place the templates are written down. The
.rc text goes to the resource compiler of the Windows build; each .bin holds
one template as the resource compiler lays it out in memory (DLGTEMPLATE,
then one DLGITEMTEMPLATE per control), compiled into the module elsewhere.
All outputs are committed, so neither build runs this script.
"""

import json
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(HERE, "..", "resources")

STYLES = {
    "WS_POPUP": 0x80000000,
    "WS_CHILD": 0x40000000,
    "WS_VISIBLE": 0x10000000,
    "WS_CAPTION": 0x00C00000,
    "WS_SYSMENU": 0x00080000,
    "WS_GROUP": 0x00020000,
    "WS_TABSTOP": 0x00010000,
    "DS_SETFONT": 0x40,
    "DS_MODALFRAME": 0x80,
    "DS_CENTER": 0x800,
    "BS_PUSHBUTTON": 0x0,
    "BS_DEFPUSHBUTTON": 0x1,
    "BS_GROUPBOX": 0x7,
    "BS_AUTORADIOBUTTON": 0x9,
    "SS_LEFT": 0x0,
    "SS_BITMAP": 0xE,
    "SS_REALSIZEIMAGE": 0x800,
}

# The predefined window classes, stored as ordinals by the resource compiler's
# own control statements.
CLASS_ATOMS = {"Button": 0x80, "Static": 0x82}

# The control statement for each kind of control and the style it gives
# without being told (besides WS_CHILD | WS_VISIBLE); the .rc adds or removes
# (NOT) flags to reach the described style. Bitmap statics have no statement
# of their own: a CONTROL statement stores its class as upper-case text.
STATEMENTS = [
    ("Button", "BS_DEFPUSHBUTTON", "DEFPUSHBUTTON", ["BS_DEFPUSHBUTTON", "WS_TABSTOP"]),
    ("Button", "BS_PUSHBUTTON", "PUSHBUTTON", ["BS_PUSHBUTTON", "WS_TABSTOP"]),
    ("Button", "BS_AUTORADIOBUTTON", "AUTORADIOBUTTON", ["BS_AUTORADIOBUTTON", "WS_TABSTOP"]),
    ("Button", "BS_GROUPBOX", "GROUPBOX", ["BS_GROUPBOX"]),
    ("Static", "SS_LEFT", "LTEXT", ["SS_LEFT", "WS_GROUP"]),
]


def statement_of(control):
    """(statement, its default style names), or None for a CONTROL statement."""
    if "bitmap" in control:
        return None
    for cls, kind, statement, defaults in STATEMENTS:
        if control["class"] == cls and control["style"][0] == kind:
            return statement, defaults
    raise ValueError(f"no statement for control {control['id']}")


def style_value(names):
    value = 0
    for name in names:
        value |= STYLES[name]
    return value


def dialog_style(dialog):
    # The resource compiler adds DS_SETFONT for a FONT statement.
    return style_value(dialog["style"]) | (STYLES["DS_SETFONT"] if "font" in dialog else 0)


def control_style(control):
    # A CONTROL statement is a visible child unless it says NOT WS_VISIBLE.
    value = style_value(control["style"]) | STYLES["WS_CHILD"]
    if not control.get("hidden"):
        value |= STYLES["WS_VISIBLE"]
    return value


def utf16z(text):
    return text.encode("utf-16-le") + b"\0\0"


def template_bytes(dialog):
    """The DLGTEMPLATE of a DIALOG statement, as the resource compiler lays it out."""
    x, y, w, h = dialog["rect"]
    out = bytearray(struct.pack("<IIHhhhh", dialog_style(dialog), 0, len(dialog["controls"]),
                                x, y, w, h))
    out += b"\0\0"  # no menu
    out += b"\0\0"  # the standard dialog class
    out += utf16z(dialog["caption"])
    if "font" in dialog:
        size, face = dialog["font"]
        out += struct.pack("<H", size) + utf16z(face)
    for control in dialog["controls"]:
        out += b"\0" * (-len(out) % 4)  # every item starts on a 4-byte boundary
        cx, cy, cw, ch = control["rect"]
        out += struct.pack("<IIhhhhH", control_style(control), 0, cx, cy, cw, ch,
                           control["id"] & 0xFFFF)
        if statement_of(control):
            out += struct.pack("<HH", 0xFFFF, CLASS_ATOMS[control["class"]])
        else:
            out += utf16z(control["class"].upper())
        if "bitmap" in control:
            out += struct.pack("<HH", 0xFFFF, control["bitmap"])
        else:
            out += utf16z(control["text"])
        out += b"\0\0"  # no creation data
    return bytes(out)


def rc_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '""').replace("\n", "\\n") + '"'


def rc_control(control):
    cx, cy, cw, ch = control["rect"]
    rect = f"{cx}, {cy}, {cw}, {ch}"
    found = statement_of(control)
    if found is None:
        style = " | ".join(control["style"] + (["NOT WS_VISIBLE"] if control.get("hidden") else []))
        return (f"CONTROL {control['bitmap']}, {control['id']}, {rc_string(control['class'])}, "
                f"{style}, {rect}")
    statement, defaults = found
    extra = [n for n in control["style"] if n not in defaults and STYLES[n]]
    extra += [f"NOT {n}" for n in defaults if n not in control["style"]]
    if control.get("hidden"):
        extra.append("NOT WS_VISIBLE")
    line = f"{statement} {rc_string(control['text'])}, {control['id']}, {rect}"
    return line + (", " + " | ".join(extra) if extra else "")


def rc_text(description):
    lines = ["// Generated by scripts/make-dialogs.py from dialogs.json; edit that file instead.",
             "// Needs the system's style names (windows.h) included before it.", ""]
    for dialog in description["dialogs"]:
        x, y, w, h = dialog["rect"]
        lines.append(f"{dialog['id']} DIALOG {x}, {y}, {w}, {h}")
        lines.append(f"STYLE {' | '.join(['DS_SETFONT'] + dialog['style'])}")
        lines.append(f"CAPTION {rc_string(dialog['caption'])}")
        size, face = dialog["font"]
        lines.append(f"FONT {size}, {rc_string(face)}")
        lines.append("BEGIN")
        for control in dialog["controls"]:
            lines.append("    " + rc_control(control))
        lines.append("END")
        lines.append("")
    return "\n".join(lines)


def read_description():
    with open(os.path.join(RESOURCES, "dialogs.json"), encoding="utf-8") as f:
        return json.load(f)


def outputs(description):
    files = {"dialogs.rc": rc_text(description).encode()}
    for dialog in description["dialogs"]:
        files[f"dialog_{dialog['id']}.bin"] = template_bytes(dialog)
    return files


def res_dialogs(path):
    """The dialog resources (type 5) of a compiled .res file, by number."""
    with open(path, "rb") as f:
        data = f.read()

    def name_or_ordinal(pos):
        if struct.unpack_from("<H", data, pos)[0] == 0xFFFF:
            return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
        end = pos
        while struct.unpack_from("<H", data, end)[0] != 0:
            end += 2
        return data[pos:end].decode("utf-16-le"), end + 2

    found = {}
    pos = 0
    while pos + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, pos)
        kind, after = name_or_ordinal(pos + 8)
        name, _ = name_or_ordinal(after)
        body = data[pos + header:pos + header + size]
        if kind == 5:
            found[name] = body
        pos += header + size
        pos += -pos % 4
    return found


def main(argv):
    description = read_description()
    if len(argv) > 1 and argv[1] == "--res":
        compiled = res_dialogs(argv[2])
        failed = False
        for dialog in description["dialogs"]:
            with open(os.path.join(RESOURCES, f"dialog_{dialog['id']}.bin"), "rb") as f:
                want = f.read()
            got = compiled.get(dialog["id"])
            if got != want:
                failed = True
                print(f"dialog {dialog['id']}: the resource compiler made "
                      f"{got.hex() if got else 'nothing'}\n  dialog_{dialog['id']}.bin holds "
                      f"{want.hex()}")
        if set(compiled) != {d["id"] for d in description["dialogs"]}:
            failed = True
            print(f"dialogs in {argv[2]}: {sorted(compiled, key=str)}")
        print("dialog templates:", "differ" if failed else "identical")
        return 1 if failed else 0
    check = len(argv) > 1 and argv[1] == "--check"
    stale = []
    for name, data in outputs(description).items():
        path = os.path.join(RESOURCES, name)
        if check:
            if not os.path.exists(path) or open(path, "rb").read() != data:
                stale.append(name)
        else:
            with open(path, "wb") as f:
                f.write(data)
            print(f"wrote resources/{name}")
    if stale:
        print("out of date, run scripts/make-dialogs.py:", ", ".join(stale))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
