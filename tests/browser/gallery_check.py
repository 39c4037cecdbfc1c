#!/usr/bin/env python3
"""Opens orvplay's gallery page in headless Chromium and checks it as a viewer
would see it: every video loads with the expected duration and size, every
image decodes, and the page logs no error. Saves a screenshot of the whole page.

Chromium is driven through its DevTools protocol on a pipe (--remote-debugging-pipe:
JSON messages ending in a NUL byte, commands on fd 3, replies on fd 4), so no
web socket library and no browser download are needed.

usage: gallery_check.py INDEX_HTML SCREENSHOT_PNG --width W --height H --duration MS --fps N
                        --videos N
"""
import argparse
import base64
import fcntl
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

CHROMIUM = "/usr/bin/chromium"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--mute-audio", "--hide-scrollbars", "--remote-debugging-pipe"]

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


class Browser:
    def __init__(self, profile, log):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        # The child finds the pipe ends at fds 3 and 4; they are moved above
        # both first, so that placing one cannot close the other.
        high_r = fcntl.fcntl(to_browser_r, fcntl.F_DUPFD, 10)
        high_w = fcntl.fcntl(from_browser_w, fcntl.F_DUPFD, 10)
        for fd in (to_browser_r, from_browser_w):
            os.close(fd)

        def place():
            os.dup2(high_r, 3)
            os.dup2(high_w, 4)

        self.log = open(log, "wb")
        self.process = subprocess.Popen(
            [CHROMIUM, *FLAGS, "--user-data-dir=" + profile, "about:blank"],
            stdout=self.log, stderr=self.log, pass_fds=(3, 4), preexec_fn=place)
        os.close(high_r)
        os.close(high_w)
        self.next_id = 0
        self.buffer = b""
        self.events = []

    def close(self):
        try:
            self.send("Browser.close", timeout=5)
        except Exception:
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)
        self.log.close()

    def _read_message(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.from_browser], [], [], left)[0]:
                raise TimeoutError("Chromium did not answer in time")
            chunk = os.read(self.from_browser, 1 << 20)
            if not chunk:
                raise RuntimeError("Chromium closed the DevTools pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, params=None, session=None, timeout=60):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._read_message(deadline)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def wait_for(self, method, timeout=60):
        deadline = time.monotonic() + timeout
        for i, event in enumerate(self.events):
            if event.get("method") == method:
                return self.events.pop(i)
        while True:
            event = self._read_message(deadline)
            if event.get("method") == method:
                return event
            self.events.append(event)


def problems_logged(events):
    """Console errors, uncaught exceptions and failed loads the page reported."""
    found = []
    for e in events:
        method, params = e.get("method"), e.get("params", {})
        if method == "Runtime.exceptionThrown":
            found.append("exception: " + params["exceptionDetails"].get("text", ""))
        elif method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            found.append("console: " + " ".join(str(a.get("value", a.get("description")))
                                                for a in params.get("args", [])))
        elif method == "Log.entryAdded" and params["entry"].get("level") == "error":
            entry = params["entry"]
            found.append(f"log: {entry.get('text')} {entry.get('url', '')}")
    return found


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

    profile = tempfile.mkdtemp(prefix="orv-chromium-")
    browser = Browser(profile, os.path.splitext(args.screenshot)[0] + "-chromium.log")
    failures = []
    try:
        target = browser.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = browser.send("Target.attachToTarget",
                               {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Log"):
            browser.send(domain + ".enable", session=session)
        browser.send("Emulation.setDeviceMetricsOverride",
                     {"width": 1800, "height": 1000, "deviceScaleFactor": 1, "mobile": False},
                     session=session)
        browser.send("Page.navigate", {"url": "file://" + os.path.abspath(args.page)},
                     session=session)
        browser.wait_for("Page.loadEventFired")
        seen = browser.send("Runtime.evaluate",
                            {"expression": PROBE, "awaitPromise": True, "returnByValue": True},
                            session=session, timeout=90)
        if "exceptionDetails" in seen:
            raise RuntimeError("the probe failed: " + json.dumps(seen["exceptionDetails"]))
        report = seen["result"]["value"]

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

        metrics = browser.send("Page.getLayoutMetrics", session=session)["cssContentSize"]
        shot = browser.send("Page.captureScreenshot",
                            {"format": "png", "captureBeyondViewport": True,
                             "clip": {"x": 0, "y": 0, "width": metrics["width"],
                                      "height": metrics["height"], "scale": 1}},
                            session=session)
        with open(args.screenshot, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        print(f"screenshot {args.screenshot}: {int(metrics['width'])} x {int(metrics['height'])}")
        failures += problems_logged(browser.events)
    finally:
        browser.close()
        shutil.rmtree(profile, ignore_errors=True)

    for f in failures:
        print("FAIL " + f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
