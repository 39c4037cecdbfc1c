#!/usr/bin/env python3
"""Checks the browser page (scripts/build-site) in headless Chromium against
the native orvplay, frame by frame.

For every transition the page lists, at 16, 24 and 32 bits, on the built-in
pictures (whole) and on two odd-sized pictures handed to the page as a user
drops them (with a rectangle inside), the page's module plays the transition
at orvplay's step times and hashes the window after every step and after
Finish; `orvplay --frames` plays the same and ffmpeg hashes its frames. Both
kernel builds of the page are checked (SIMD128 and ?simd=c). A PNG of every
kind orvplay reads (png_kinds.py) is dropped on the page and played, its
frames against orvplay's on the same file. Then a user's session: bad
pictures are refused with a reason (those past the limits from their headers
alone), small ones are drawn larger, Step shows orvplay's frames, every
control (play, pause, step, scrub, steps per second, depth, swap, colour,
loop) does what it says without an error, a page whose module does not load
says so, and a screenshot is kept.

usage: page_check.py SITE_DIR ORVPLAY WORK_DIR --first A.png --second B.png --rect T,L,B,R
                     [--different C.png]
"""
import argparse
import base64
import json
import os
import re
import shutil
import subprocess
import sys

import png_kinds
from devtools import Tab

DEPTHS = (16, 24, 32)
DURATION, CHUNK, FPS, COLOR = 500, 40, 30, "magenta"
# The same colour as the page lists it: the caption of its button in the
# module's options dialog.
COLOR_CAPTION = "Magenta"

# In the page's scripts below: the SHA-256 of what an ImageData shows (R, G,
# B), as ffmpeg's framehash gives it for orvplay's frames.
HASH = """const hash = async image => {
    const rgba = image.data, rgb = new Uint8Array(rgba.length / 4 * 3);
    for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3)
      rgb[j] = rgba[i], rgb[j + 1] = rgba[i + 1], rgb[j + 2] = rgba[i + 2];
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', rgb));
    return [...digest].map(b => b.toString(16).padStart(2, '0')).join('');
  };"""

# Runs in the page: plays each case at orvplay's step times through the same
# calls the controls make, and hashes what the window shows (R, G, B).
PLAY_CASES = """
(async (cases, fps) => {
  const page = await window.orvPage;
  const player = page.player;
  /*HASH*/
  const results = [];
  for (const c of cases) {
    player.cue({...c, fps});
    const hashes = [];
    for (let k = 0;; ++k) {
      const done = player.continue(Math.floor(k * 1000 / fps));
      hashes.push(await hash(player.frame()));
      if (done) break;
      if (k > 100000) throw new Error('never done');
    }
    player.finish();
    hashes.push(await hash(player.frame()));
    results.push(hashes);
  }
  return results;
})
""".replace("/*HASH*/", HASH)

# Hands files to the page as a drop does; resolves with the error line.
DROP = """
(async files => {
  const page = await window.orvPage;
  await page.choose(files.map(([name, b64, type]) =>
      new File([Uint8Array.from(atob(b64), c => c.charCodeAt(0))], name, {type})));
  return document.getElementById('error').textContent;
})
"""


def call(tab, function, *args):
    return tab.evaluate(f"({function})(...{json.dumps(args)})", timeout=600)


def file_arg(path, type_="image/png"):
    with open(path, "rb") as f:
        return [os.path.basename(path), base64.b64encode(f.read()).decode(), type_]


def native_hashes(orvplay, work, symbol, depth, pictures, rect):
    """SHA-256 of orvplay's frames (R, G, B), then of its final frame."""
    frames = os.path.join(work, f"{symbol}-{depth}-{'own' if pictures else 'builtin'}")
    shutil.rmtree(frames, ignore_errors=True)
    command = [orvplay, symbol, "--depth", str(depth), "--duration", str(DURATION),
               "--chunk", str(CHUNK), "--fps", str(FPS), "--frames", frames]
    if pictures:
        command += ["--from", pictures[0], "--to", pictures[1], "--rect", rect]
    if symbol == "OrvColor":
        command += ["--color", COLOR]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    hashes = []
    for pattern in ("frame-%05d.png", "final.png"):
        out = subprocess.run(["ffmpeg", "-v", "error", "-i", os.path.join(frames, pattern),
                              "-f", "framehash", "-hash", "sha256", "-pix_fmt", "rgb24", "-"],
                             check=True, capture_output=True, text=True).stdout
        hashes += re.findall(r", ([0-9a-f]{64})$", out, re.M)
    return hashes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("site")
    parser.add_argument("orvplay")
    parser.add_argument("work")
    parser.add_argument("--first", required=True)
    parser.add_argument("--second", required=True)
    parser.add_argument("--different", required=True, help="a picture of another size")
    parser.add_argument("--rect", required=True, help="T,L,B,R inside the two pictures")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    page = "file://" + os.path.abspath(os.path.join(args.site, "index.html"))
    rect = [int(v) for v in args.rect.split(",")]
    failures = []

    listed = subprocess.run([args.orvplay, "--list"], check=True, capture_output=True,
                            text=True).stdout.splitlines()[1:]
    symbols = [line.split()[0] for line in listed]
    expected = {}
    for symbol in symbols:
        for depth in DEPTHS:
            for own in (False, True):
                pictures = (args.first, args.second) if own else None
                expected[symbol, depth, own] = native_hashes(args.orvplay, args.work, symbol,
                                                             depth, pictures, args.rect)

    compared = 0
    for query, kernels in (("", "SIMD128"), ("?simd=c", "portable")):
        tab = Tab(page + query, os.path.join(args.work, f"chromium{query[1:].replace('=', '-')}.log"))
        try:
            about = tab.evaluate("window.orvPage.then(p => p.player.about)")
            if about["kernels"] != kernels:
                failures.append(f"{page}{query} loaded the {about['kernels']} kernels")
            page_symbols = [t["symbol"] for t in about["transitions"]]
            if page_symbols != symbols:
                failures.append(f"the page lists {page_symbols}, orvplay {symbols}")
            color = about["colors"].index(COLOR_CAPTION)
            builtin = tab.evaluate("window.orvPage.then(p => p.player.size())")
            for own in (False, True):
                if own:
                    error = call(tab, DROP, [file_arg(args.first), file_arg(args.second)])
                    if error:
                        failures.append(f"the page refused the two pictures: {error}")
                        continue
                cases = []
                for index, symbol in enumerate(page_symbols):
                    for depth in DEPTHS:
                        cases.append({"index": index, "depth": depth, "duration": DURATION,
                                      "chunk": CHUNK,
                                      "color": color if symbol == "OrvColor" else -1,
                                      "rect": rect if own else [0, 0, builtin["height"], builtin["width"]]})
                results = call(tab, PLAY_CASES, cases, FPS)
                for case, got in zip(cases, results):
                    key = (page_symbols[case["index"]], case["depth"], own)
                    want = expected[key]
                    compared += len(want)
                    if got != want:
                        first = next((i for i, (g, w) in enumerate(zip(got, want)) if g != w),
                                     min(len(got), len(want)))
                        failures.append(f"{kernels} {key}: {len(got)} frames against orvplay's "
                                        f"{len(want)}, first difference at frame {first}")
            failures += [f"{kernels}: {p}" for p in tab.problems()]
        finally:
            tab.close()
    print(f"page frames compared with orvplay's: {compared} ({len(symbols)} transitions x "
          f"{len(DEPTHS)} depths x 2 sizes x 2 kernel builds)")

    failures += picture_kinds(page, args)
    failures += user_session(page, args, expected)
    failures += failed_start(args.site, args.work)
    for f in failures:
        print("FAIL " + f, file=sys.stderr)
    return 1 if failures else 0


def dialog_colour_captions():
    """The colour buttons' texts in the module's options dialog, in the order
    of their ids (1004 + the colour's number), as the dialog shows them."""
    with open(os.path.join(os.path.dirname(__file__), "../../resources/dialogs.json")) as f:
        dialog = next(d for d in json.load(f)["dialogs"] if d["id"] == 119)
    buttons = sorted((c["id"], c["text"]) for c in dialog["controls"] if 1004 <= c["id"] <= 1010)
    return [text.replace("&&", "&") for _, text in buttons]


# Two 7 x 5 pictures: the canvas shows them 64 times over with square pixels,
# and the first one's thumbnail, at its own size, holds the picture the module
# shows at Cue.
SMALL = """
(async () => {
  const page = await window.orvPage;
  const $ = id => document.getElementById(id);
  const same = (a, b) => a.length === b.length && a.every((v, i) => v === b[i]);
  const thumb = $('thumb0').getContext('2d').getImageData(0, 0, 7, 5).data;
  return {
    size: $('size').textContent, width: $('canvas').getBoundingClientRect().width,
    crisp: getComputedStyle($('canvas')).imageRendering,
    thumbIsFirst: same(thumb, page.player.frame().data),
  };
})()
"""


def small_pictures(tab, work):
    small = []
    for name, source in (("small-a.png", "testsrc2"), ("small-b.png", "mandelbrot")):
        small.append(os.path.join(work, name))
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        f"{source}=size=7x5,format=rgb24", "-frames:v", "1", small[-1]],
                       check=True)
    error = call(tab, DROP, [file_arg(f) for f in small])
    seen = tab.evaluate(SMALL)
    print("7 x 5 pictures: " + json.dumps(seen))
    want = {"size": "7 × 5 pixels, shown at × 64", "width": 448, "crisp": "pixelated",
            "thumbIsFirst": True}
    return [f"7 x 5 pictures: {error or seen}"] if error or seen != want else []


def failed_start(site, work):
    """The page without its module's script: the page says so, and leaves
    no promise rejected unhandled."""
    broken = os.path.join(work, "site-without-module")
    shutil.rmtree(broken, ignore_errors=True)
    shutil.copytree(site, broken, ignore=shutil.ignore_patterns("orvweb-*"))
    tab = Tab("file://" + os.path.abspath(os.path.join(broken, "index.html")),
              os.path.join(work, "chromium-broken.log"))
    try:
        said = tab.evaluate("window.orvPage.then(p => p === null && "
                            "document.getElementById('error').textContent, "
                            "e => 'rejected: ' + e.message)")
        thrown = [p for p in tab.problems() if p.startswith("exception")]
    finally:
        tab.close()
    print(f"without its module the page said {said!r}")
    if not said or not said.startswith("The module did not start:") or thrown:
        return [f"a page whose module does not load said {said!r}, threw {thrown}"]
    return []


def picture_kinds(page, args):
    """Each PNG kind, dropped as both pictures, played by the page's OrvFade
    at 32 bits, every frame against orvplay's on the same file (libpng's
    reading): the page must see the same R, G, B, byte for byte."""
    failures = []
    work = os.path.join(args.work, "kinds")
    os.makedirs(work, exist_ok=True)
    rect = f"0,0,{png_kinds.H},{png_kinds.W}"
    tab = Tab(page, os.path.join(args.work, "chromium-kinds.log"))
    try:
        about = tab.evaluate("window.orvPage.then(p => p.player.about)")
        index = [t["symbol"] for t in about["transitions"]].index("OrvFade")
        case = {"index": index, "depth": 32, "duration": DURATION, "chunk": CHUNK, "color": -1,
                "rect": [int(v) for v in rect.split(",")]}
        same = 0
        kinds = png_kinds.kinds()
        for name, data in kinds:
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(data)
            frames = os.path.join(work, name[:-4])
            os.makedirs(frames, exist_ok=True)
            want = native_hashes(args.orvplay, frames, "OrvFade", 32, (path, path), rect)
            error = call(tab, DROP, [file_arg(path), file_arg(path)])
            if error:
                failures.append(f"the page refused {name}: {error}")
                continue
            got = call(tab, PLAY_CASES, [case], FPS)[0]
            if got == want:
                same += 1
            else:
                failures.append(f"{name}: the page's frames differ from orvplay's "
                                f"({len(got)} against {len(want)} frames)")
        print(f"PNG kinds the page reads as orvplay does: {same} of {len(kinds)}")
        failures += [f"kinds: {p}" for p in tab.problems()]
    finally:
        tab.close()
    return failures


# A user's session through the controls; returns what the page showed.
SESSION = """
(async () => {
  const page = await window.orvPage;
  const $ = id => document.getElementById(id);
  /*HASH*/
  const wait = ms => new Promise(r => setTimeout(r, ms));
  const seen = {};
  const set = (id, value) => { $(id).value = value; $(id).dispatchEvent(new Event('change')); };
  set('transition', 'OrvWipeRight');
  set('duration', 800);
  $('useRect').checked = true; $('useRect').dispatchEvent(new Event('change'));
  set('right', 100000);
  seen.badRect = $('error').textContent;
  $('useRect').checked = false; $('useRect').dispatchEvent(new Event('change'));
  seen.afterRect = $('error').textContent;
  $('play').click();
  await wait(400);
  $('play').click();  // pause
  seen.paused = {elapsed: page.elapsed, step: page.step, readout: $('readout').textContent};
  $('scrub').value = 3; $('scrub').dispatchEvent(new Event('input'));
  seen.scrubbed = {elapsed: page.elapsed, step: page.step};
  $('step').click();
  seen.stepped = {elapsed: page.elapsed, step: page.step};
  for (let k = 0; k < 100 && !page.finished; ++k) $('step').click();
  seen.last = {elapsed: page.elapsed, step: page.step, finished: page.finished};
  $('step').click();
  seen.again = {elapsed: page.elapsed, step: page.step, finished: page.finished};
  // 800 ms at 10 steps a second: steps 0 to 9, 900 ms the first past the end.
  set('fps', 10);
  seen.fpsSteps = +$('scrub').max + 1;
  set('fps', 30);
  set('depth', 16);
  seen.depthError = $('error').textContent;
  set('depth', 32);
  set('duration', '');
  seen.emptyDuration = $('error').textContent;
  set('duration', 800);
  // Swap: the window ends on what was the first picture.
  const cuedFirst = await hash(page.player.frame());
  const namesBefore = [$('name0').textContent, $('name1').textContent];
  $('swap').click();
  for (let k = 0; k < 100 && !page.finished; ++k) $('step').click();
  seen.swapped = {
    endsOnOldFirst: (await hash(page.player.frame())) === cuedFirst,
    names: [$('name0').textContent, $('name1').textContent], namesBefore,
  };
  $('swap').click();
  // The colour transition: its control, captioned as the module's dialog is.
  set('transition', 'OrvColor');
  seen.color = {
    shown: !$('colorLabel').hidden, captions: [...$('color').options].map(o => o.text),
    chosen: $('color').selectedOptions[0].text,
  };
  set('color', [...$('color').options].findIndex(o => o.text === 'Magenta'));
  $('step').click();
  seen.color.error = $('error').textContent;
  set('transition', 'OrvWipeRight');
  $('loop').checked = true;
  $('play').click();
  await wait(2000);  // past the end and into the next round
  seen.looping = {playing: page.playing, fps: page.fps, error: $('error').textContent};
  $('play').click();
  // For the screenshot: a wipe halfway, on the built-in pictures.
  $('builtin').click();
  set('transition', 'OrvWipeLeft');
  $('scrub').value = 30; $('scrub').dispatchEvent(new Event('input'));  // step 30 of 61
  return seen;
})()
""".replace("/*HASH*/", HASH)


# Steps with the Step button through one case, set through the controls;
# the window's hash after each press.
STEPPED = """
(async (symbol, depth, duration, chunk, fps, rect) => {
  const page = await window.orvPage;
  const $ = id => document.getElementById(id);
  const set = (id, value) => { $(id).value = value; $(id).dispatchEvent(new Event('change')); };
  /*HASH*/
  set('transition', symbol);
  set('depth', depth);
  set('duration', duration);
  set('chunk', chunk);
  set('fps', fps);
  $('useRect').checked = true;
  ['top', 'left', 'bottom', 'right'].forEach((id, i) => $(id).value = rect[i]);
  $('useRect').dispatchEvent(new Event('change'));
  const hashes = [];
  do {
    $('step').click();
    hashes.push(await hash(page.player.frame()));
  } while (!page.finished && hashes.length < 1000);
  $('useRect').checked = false;
  $('useRect').dispatchEvent(new Event('change'));
  return {hashes, error: $('error').textContent};
})
""".replace("/*HASH*/", HASH)


def stepped(tab, args, expected):
    """Step k shows orvplay's frame-k; the last step, after Finish, its final."""
    failures = []
    rect = [int(v) for v in args.rect.split(",")]
    for symbol in ("OrvFade", "OrvWipeRight"):
        got = call(tab, STEPPED, symbol, 32, DURATION, CHUNK, FPS, rect)
        want = expected[symbol, 32, True]
        if got["error"] or got["hashes"][:-1] != want[:len(got["hashes"]) - 1] or \
                got["hashes"][-1] != want[-1] or len(got["hashes"]) != len(want) - 1:
            failures.append(f"Step through {symbol}: {len(got['hashes'])} presses against "
                            f"orvplay's {len(want) - 1} frames, not frame for frame "
                            f"{got['error']}")
    return failures


def user_session(page, args, expected):
    failures = []
    tab = Tab(page, os.path.join(args.work, "chromium-session.log"), width=1100, height=740)
    try:
        # Files the page must refuse, each with its reason. Those past the
        # limits hold a header and no pixel data: decoded, they would fail as
        # the small ones of the same make do, so the limit's words show that
        # the header alone was read.
        made = {
            "not-a-picture.png": b"not a picture\n",
            "huge.png": png_kinds.header_only(16384, 16384),
            "wide.png": png_kinds.header_only(16385, 1, color_type=0),
            "huge.jpg": png_kinds.jpeg_header_only(16384, 16384),
            "wide.jpg": png_kinds.jpeg_header_only(20000, 8, sof=0xC2,
                                                   before=b"\xff\xfe\0\5abc"),
            "no-data.png": png_kinds.header_only(64, 64),
            "no-data.jpg": png_kinds.jpeg_header_only(64, 64),
        }
        for name, data in made.items():
            with open(os.path.join(args.work, name), "wb") as f:
                f.write(data)
        pixels = " has 268435456 pixels, more than the limit of 67108864 (8192 x 8192)"
        for files, reason in (
                ([args.first, args.different], "differ in size"),
                (["not-a-picture.png"], "not-a-picture.png: not a PNG or JPEG picture"),
                (["huge.png"], "huge.png: 16384 x 16384" + pixels),
                (["wide.png"], "wide.png: 16385 x 1 is larger than the 16384 x 16384 limit"),
                (["huge.jpg"], "huge.jpg: 16384 x 16384" + pixels),
                (["wide.jpg"], "wide.jpg: 20000 x 8 is larger than the 16384 x 16384 limit"),
                (["no-data.png"], "no-data.png: this browser cannot decode it as a PNG picture"),
                (["no-data.jpg"], "no-data.jpg: this browser cannot decode it as a picture"),
                ([args.first], "Choose two pictures")):
            if len(files) == 1 and files[0] in made:
                files = [args.first, os.path.join(args.work, files[0])]
            error = call(tab, DROP, [file_arg(f) for f in files])
            print(f"refused {[os.path.basename(f) for f in files]}: {error}")
            if reason not in error:
                failures.append(f"dropping {files}: the page said {error!r}, not {reason!r}")
        # JPEG pictures still go to the browser's decoder.
        jpegs = [os.path.join(args.work, n) for n in ("first.jpg", "second.jpg")]
        for source, jpeg in zip((args.first, args.second), jpegs):
            subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", source, jpeg], check=True)
        error = call(tab, DROP, [file_arg(f, "image/jpeg") for f in jpegs])
        if error:
            failures.append(f"the page refused two JPEG pictures: {error}")
        failures += small_pictures(tab, args.work)
        error = call(tab, DROP, [file_arg(args.first), file_arg(args.second)])
        if error:
            failures.append(f"the two pictures were refused after bad ones: {error}")

        failures += stepped(tab, args, expected)
        seen = tab.evaluate(SESSION)
        print("session: " + json.dumps(seen))
        if "rectangle" not in seen["badRect"]:
            failures.append(f"a rectangle outside the picture showed {seen['badRect']!r}")
        if seen["afterRect"]:
            failures.append(f"the whole picture again still showed {seen['afterRect']!r}")
        if seen["paused"]["step"] < 1 or seen["paused"]["elapsed"] <= 0:
            failures.append(f"playing 0.4 s made no steps: {seen['paused']}")
        # orvplay --fps 30 steps at 0, 33, 66, 100, 133 ms ... and, for 800 ms, ends at
        # step 25 (833 ms), the first past the duration.
        if seen["scrubbed"] != {"elapsed": 100, "step": 3}:
            failures.append(f"scrubbing back to step 3 cued again and showed {seen['scrubbed']}")
        if seen["stepped"] != {"elapsed": 133, "step": 4}:
            failures.append(f"one step from step 3 showed {seen['stepped']}")
        if seen["last"] != {"elapsed": 833, "step": 25, "finished": True}:
            failures.append(f"stepping to the end showed {seen['last']}")
        if seen["again"] != {"elapsed": 0, "step": 0, "finished": False}:
            failures.append(f"Step after the end did not start over: {seen['again']}")
        if seen["fpsSteps"] != 10:
            failures.append(f"800 ms at 10 steps a second made {seen['fpsSteps']} steps, not 10")
        if seen["depthError"]:
            failures.append(f"16 bits showed {seen['depthError']!r}")
        if seen["emptyDuration"] != "The duration is empty.":
            failures.append(f"an empty duration showed {seen['emptyDuration']!r}")
        swapped = seen["swapped"]
        if not swapped["endsOnOldFirst"] or swapped["names"] != swapped["namesBefore"][::-1]:
            failures.append(f"Swap did not make the first picture the second: {swapped}")
        if seen["color"] != {"shown": True, "captions": dialog_colour_captions(),
                             "chosen": "Black & White", "error": ""}:
            failures.append(f"the colour control: {seen['color']}, the dialog's captions "
                            f"{dialog_colour_captions()}")
        if not seen["looping"]["playing"] or seen["looping"]["error"]:
            failures.append(f"the loop stopped: {seen['looping']}")
        width, height = tab.screenshot(os.path.join(args.work, "page.png"))
        print(f"screenshot {os.path.join(args.work, 'page.png')}: {width} x {height}")
        failures += [f"session: {p}" for p in tab.problems()]
    finally:
        tab.close()
    return failures


if __name__ == "__main__":
    sys.exit(main())
