"""Headless Chromium driven through its DevTools protocol on a pipe
(--remote-debugging-pipe: JSON messages ending in a NUL byte, commands on fd 3,
replies on fd 4), so no web socket library and no browser download are needed.
"""
import base64
import fcntl
import json
import os
import select
import shutil
import subprocess
import tempfile
import time

CHROMIUM = "/usr/bin/chromium"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--mute-audio", "--hide-scrollbars", "--remote-debugging-pipe"]


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


class Tab:
    """A page open in a fresh browser, its console and errors recorded."""

    def __init__(self, url, log, width=1800, height=1000):
        self.profile = tempfile.mkdtemp(prefix="orv-chromium-")
        self.browser = Browser(self.profile, log)
        try:
            target = self.browser.send("Target.createTarget", {"url": "about:blank"})["targetId"]
            self.session = self.browser.send("Target.attachToTarget",
                                             {"targetId": target, "flatten": True})["sessionId"]
            for domain in ("Page", "Runtime", "Log"):
                self.send(domain + ".enable")
            self.send("Emulation.setDeviceMetricsOverride",
                      {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
            self.send("Page.navigate", {"url": url})
            self.browser.wait_for("Page.loadEventFired")
        except BaseException:
            self.close()
            raise

    def send(self, method, params=None, timeout=60):
        return self.browser.send(method, params, session=self.session, timeout=timeout)

    def evaluate(self, expression, timeout=90):
        """The value of a JavaScript expression (awaited when a promise)."""
        seen = self.send("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                              "returnByValue": True}, timeout=timeout)
        if "exceptionDetails" in seen:
            details = seen["exceptionDetails"]
            thrown = details.get("exception", {}).get("description") or details.get("text")
            raise RuntimeError(f"in the page: {thrown}")
        return seen["result"].get("value")

    def screenshot(self, path):
        """The whole page as a PNG file; returns its size in CSS pixels."""
        metrics = self.send("Page.getLayoutMetrics")["cssContentSize"]
        shot = self.send("Page.captureScreenshot",
                         {"format": "png", "captureBeyondViewport": True,
                          "clip": {"x": 0, "y": 0, "width": metrics["width"],
                                   "height": metrics["height"], "scale": 1}})
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        return int(metrics["width"]), int(metrics["height"])

    def problems(self):
        return problems_logged(self.browser.events)

    def close(self):
        self.browser.close()
        shutil.rmtree(self.profile, ignore_errors=True)
