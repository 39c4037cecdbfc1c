#!/usr/bin/env python3
"""Opens orvplay's gallery page in headless Chromium and checks it as a viewer
would see it: every video loads with the expected duration and size, every
image decodes, and the page logs no error. Saves a screenshot of the whole page.

usage: gallery_check.py INDEX_HTML SCREENSHOT_PNG --width W --height H --duration MS --fps N
                        --videos N
"""
import argparse
import os
import sys

from devtools import Tab

# Runs in the page: waits for every video to have its first frame (or fail),
# every image to decode, then reports what each has.
PROBE = """
(async () => {
  const limit = (p, ms) => Promise.race([p, new Promise(r => setTimeout(r, ms))]);
  const videos = [...document.querySelectorAll('video')];
  await Promise.all(videos.map(v => limit(new Promise(resolve => {
    if (v.readyState >= 2 || v.error) return resolve();
    v.addEventListener('loadeddata', resolve, {once: true});
    v.addEventListener('error', resolve, {once: true});
  }), 20000)));
  const images = [...document.querySelectorAll('img')];
  await Promise.all(images.map(i => limit(i.decode().catch(() => {}), 20000)));
  // The same moment of every transition for the picture: halfway.
  await Promise.all(videos.map(v => limit(new Promise(resolve => {
    v.pause();
    v.addEventListener('seeked', resolve, {once: true});
    v.currentTime = v.duration / 2;
  }), 5000)));
  return {
    videos: videos.map(v => ({src: v.getAttribute('src'), duration: v.duration,
                              width: v.videoWidth, height: v.videoHeight,
                              ready: v.readyState, error: v.error && v.error.message})),
    images: images.map(i => ({src: i.getAttribute('src'), width: i.naturalWidth,
                              height: i.naturalHeight})),
  };
})()
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("page")
    parser.add_argument("screenshot")
    parser.add_argument("--width", type=int, required=True)
    parser.add_argument("--height", type=int, required=True)
    parser.add_argument("--duration", type=int, required=True, help="the transitions' --duration")
    parser.add_argument("--fps", type=int, required=True, help="the transitions' --fps")
    parser.add_argument("--videos", type=int, required=True, help="how many the page has")
    args = parser.parse_args()
    # Step k comes at k * 1000 / fps ms; a transition ends at the first step
    # past its duration, and the video has one frame per step and one after.
    steps = next(k for k in range(10**7) if k * 1000 // args.fps > args.duration) + 1
    seconds = (steps + 1) / args.fps

    tab = Tab("file://" + os.path.abspath(args.page),
              os.path.splitext(args.screenshot)[0] + "-chromium.log")
    failures = []
    try:
        report = tab.evaluate(PROBE)

        if len(report["videos"]) != args.videos:
            failures.append(f"{len(report['videos'])} videos on the page, expected {args.videos}")
        for v in report["videos"]:
            print(f"video {v['src']}: {v['width']} x {v['height']}, {v['duration']:.3f} s")
            if v["error"] or v["ready"] < 2:
                failures.append(f"{v['src']} did not load: {v['error'] or 'no frame'}")
            if (v["width"], v["height"]) != (args.width, args.height):
                failures.append(f"{v['src']} is {v['width']} x {v['height']}, "
                                f"expected {args.width} x {args.height}")
            if abs(v["duration"] - seconds) > 0.01:
                failures.append(f"{v['src']} lasts {v['duration']} s, expected {seconds}")
        for i in report["images"]:
            print(f"image {i['src']}: {i['width']} x {i['height']}")
            if i["width"] <= 0:
                failures.append(f"{i['src']} did not decode")

        width, height = tab.screenshot(args.screenshot)
        print(f"screenshot {args.screenshot}: {width} x {height}")
        failures += tab.problems()
    finally:
        tab.close()

    for f in failures:
        print("FAIL " + f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
