#!/usr/bin/env python3
"""Writes the browser page as one file that opens from disk with no server and
no other file, preview.html (scripts/build-site; scripts/release puts it in
the zip):

    make-preview.py OUT INDEX_HTML PAGE_JS SCRIPT...

INDEX_HTML's one <script src="page.js"></script> becomes each SCRIPT (the
WebAssembly builds, each -sSINGLE_FILE) in a <script type="text/plain"> whose
id is the script's file name, then PAGE_JS itself inline. page.js's
loadScript runs the inline script of the name it wants when there is one.

A script element's text ends at its first "</script", and an "<!--" in it may
keep the element from ending, so in each SCRIPT every "<" that comes before
"/script" or "!--" (any case), with or without backslashes between, gets one
backslash more after it; loadScript takes one away again, and gets the file
back. PAGE_JS runs inline as it is, so it must hold neither. The same inputs
give the same bytes.
"""
import os
import re
import sys

PAGE_TAG = '<script src="page.js"></script>'
# What would end or unbalance a script element, and its escape.
HAZARD = re.compile(r"<(\\*)(/script|!--)", re.IGNORECASE)


def read(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read()


def main(argv):
    if len(argv) < 4:
        sys.stderr.write("usage: make-preview.py OUT INDEX_HTML PAGE_JS SCRIPT...\n")
        return 2
    out, index, page, scripts = argv[0], argv[1], argv[2], argv[3:]
    html = read(index)
    if html.count(PAGE_TAG) != 1:
        raise SystemExit("make-preview: %s holds %s %d times, not once" % (
            index, PAGE_TAG, html.count(PAGE_TAG)))
    page_js = read(page)
    if re.search(r"</script|<!--", page_js, re.IGNORECASE):
        raise SystemExit("make-preview: %s holds \"</script\" or \"<!--\", which would end "
                         "its inline script early" % page)
    parts = []
    for path in scripts:
        text = read(path)
        # The page's parser turns CR into LF and NUL into U+FFFD: the text
        # would not be the file's.
        if "\r" in text or "\0" in text:
            raise SystemExit("make-preview: %s holds a CR or NUL byte" % path)
        name = os.path.basename(path)
        parts.append('<script type="text/plain" id="%s">%s</script>\n' % (
            name, HAZARD.sub(lambda m: "<\\" + m.group(1) + m.group(2), text)))
    parts.append("<script>\n%s</script>" % page_js)
    with open(out, "w", encoding="utf-8", newline="") as f:
        f.write(html.replace(PAGE_TAG, "".join(parts)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
