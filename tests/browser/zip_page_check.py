#!/usr/bin/env python3
"""Opens the release zip's preview.html as a Windows user does: its bytes from
the zip, alone in an empty folder, opened from disk (file://) in headless
Chromium. Once with the SIMD128 build (the default) and once with ?simd=c (the
portable one): the page starts and names the build's kernels, then the
transition it cues at the start on the built-in pictures is stepped through
with the Step button to its end. The last frame must differ from the first and
not be all one colour; the page must show no error and log none (a file it
tried to load beside it would fail, as the folder holds no other, and be
logged). A screenshot of each is kept in WORK_DIR.

usage: zip_page_check.py ZIP WORK_DIR
"""
import json
import os
import shutil
import sys
import zipfile

from devtools import Tab

PREVIEW = "preview.html"

# Runs in the page once it has started: Step to the end, as a user clicks it.
STEP_THROUGH = """
(async () => {
  const page = await window.orvPage;
  const $ = id => document.getElementById(id);
  const canvas = $('canvas');
  const pixels = () => new Uint32Array(canvas.getContext('2d')
      .getImageData(0, 0, canvas.width, canvas.height).data.buffer);
  const first = pixels();
  let clicks = 0;
  while (!page.finished && clicks < 10000) {
    $('step').click();
    ++clicks;
  }
  const last = pixels();
  let changed = 0;
  for (let i = 0; i < last.length; ++i) changed += first[i] !== last[i];
  return {
    transition: $('transition').value,
    kernels: $('kernels').textContent,
    size: [canvas.width, canvas.height],
    clicks, step: page.step, elapsed: page.elapsed, finished: page.finished,
    colours: new Set(last).size,
    changed,
    readout: $('readout').textContent,
    error: $('error').textContent,
    // Anything fetched that resource timing records (not file: loads).
    loaded: performance.getEntriesByType('resource').map(e => e.name),
  };
})()
"""


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    archive, work = argv
    unpacked = os.path.join(work, "unpacked")
    shutil.rmtree(unpacked, ignore_errors=True)
    os.makedirs(unpacked)
    with zipfile.ZipFile(archive) as z:
        data = z.read(PREVIEW)
    path = os.path.join(unpacked, PREVIEW)
    with open(path, "wb") as f:
        f.write(data)
    url = "file://" + os.path.abspath(path)

    failures = []
    for query, kernels in (("", "SIMD128"), ("?simd=c", "portable")):
        name = "simd-c" if query else "default"
        tab = Tab(url + query, os.path.join(work, "chromium-%s.log" % name),
                  width=1100, height=740)
        where = PREVIEW + query
        try:
            try:
                seen = tab.evaluate(STEP_THROUGH)
            except RuntimeError as e:
                failures.append("%s did not play: %s" % (where, e))
                failures += ["%s: %s" % (where, p) for p in tab.problems()]
                continue
            print("   %s%s: %s" % (PREVIEW, query, json.dumps(
                {k: seen[k] for k in ("kernels", "transition", "size", "clicks", "step",
                                      "elapsed", "colours", "changed")}, ensure_ascii=False)))
            if seen["kernels"] != "· %s kernels" % kernels:
                failures.append("%s: the kernels readout says %r, not the %s build" % (
                    where, seen["kernels"], kernels))
            if not seen["finished"]:
                failures.append("%s: %d steps did not end the playback" % (where, seen["clicks"]))
            if seen["colours"] < 2:
                failures.append("%s: the last frame is all one colour" % where)
            if seen["changed"] == 0:
                failures.append("%s: the last frame is the first one" % where)
            if seen["error"]:
                failures.append("%s: the page shows %r" % (where, seen["error"]))
            if seen["loaded"]:
                failures.append("%s: loaded other files: %s" % (where, seen["loaded"]))
            tab.screenshot(os.path.join(work, "preview-%s.png" % name))
            failures += ["%s: %s" % (where, p) for p in tab.problems()]
        finally:
            tab.close()
    # The folder still holds the one file: the page wrote nothing beside it.
    if os.listdir(unpacked) != [PREVIEW]:
        failures.append("%s holds %s" % (unpacked, os.listdir(unpacked)))
    for f in failures:
        print("FAIL " + f, file=sys.stderr)
    if not failures:
        print("   %s from %s: opened from disk alone, both builds played a transition to "
              "its end" % (PREVIEW, archive))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
