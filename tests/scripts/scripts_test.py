#!/usr/bin/env python3
"""scripts/release and scripts/packages.sh as a user runs them. The release
runs in a small checkout of its own whose scripts/build-windows stands in for
the Windows build: it writes a module, or waits to be stopped; its
scripts/build-site writes the page's preview.html. The package
manager's lock is held by the test itself, on a lists folder of its own."""

import fcntl
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

STAND_IN_BUILD = r"""#!/usr/bin/env bash
set -e
cd "$(dirname "$0")/.."
touch build-ran
mkdir -p build-win32/bin
echo "CMAKE_PROJECT_VERSION:STATIC=1.2.3" > build-win32/CMakeCache.txt
printf 'MZ module' > build-win32/bin/ORVPACK1.x32
if [ -n "${BUILD_READY:-}" ]; then
  # A long build: a child of its own, then word that it is running.
  exec 3>"$BUILD_READY"
  sleep 1000 &
  echo ready >&3
  wait
fi
"""

STAND_IN_SITE = r"""#!/usr/bin/env bash
set -e
cd "$(dirname "$0")/.."
mkdir -p build-wasm/site
printf '<!doctype html>\n<title>preview</title>\n' > build-wasm/site/preview.html
"""
PREVIEW = b"<!doctype html>\n<title>preview</title>\n"

RELEASE = "orvpack1-1.2.3-win32.zip"
# The user's own file, named as the zip's temporary once was.
USERS = RELEASE + ".part"


def default_signals():
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, signal.SIG_DFL)


class ReleaseTest(unittest.TestCase):
    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="release-test-")
        os.makedirs(os.path.join(self.top, "scripts"))
        shutil.copy(os.path.join(ROOT, "scripts", "release"), os.path.join(self.top, "scripts"))
        build = os.path.join(self.top, "scripts", "build-windows")
        with open(build, "w") as f:
            f.write(STAND_IN_BUILD)
        os.chmod(build, 0o755)
        site = os.path.join(self.top, "scripts", "build-site")
        with open(site, "w") as f:
            f.write(STAND_IN_SITE)
        os.chmod(site, 0o755)
        for name, text in (("INSTALL.txt", "install\n"), ("LICENSE", "license\n"),
                           ("CHANGES", "1.2.3 (today)\n- first\n"),
                           (".gitignore", "build-win32/\nbuild-wasm/\nbuild-ran\ndist/\n")):
            with open(os.path.join(self.top, name), "w") as f:
                f.write(text)
        git = ["git", "-C", self.top, "-c", "user.name=t", "-c", "user.email=t@t"]
        subprocess.run(git + ["init", "-q"], check=True)
        subprocess.run(git + ["add", "-A"], check=True)
        subprocess.run(git + ["commit", "-qm", "sources"], check=True)
        self.dist = os.path.join(self.top, "dist")
        os.makedirs(self.dist)
        with open(os.path.join(self.dist, USERS), "w") as f:
            f.write("mine")

    def tearDown(self):
        shutil.rmtree(self.top)

    def start(self, env, args=()):
        return subprocess.Popen([os.path.join(self.top, "scripts", "release"), *args], cwd=self.top,
                                env=dict(os.environ, **env), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, preexec_fn=default_signals)

    def expect_dist(self, names):
        self.assertEqual(sorted(os.listdir(self.dist)), sorted(names + [USERS]))
        with open(os.path.join(self.dist, USERS)) as f:
            self.assertEqual(f.read(), "mine")

    def tree(self):
        """Every file and folder under the checkout but .git, with its bytes."""
        found = {}
        for folder, dirs, files in os.walk(self.top):
            dirs[:] = [d for d in dirs if d != ".git"]
            for d in dirs:
                found[os.path.relpath(os.path.join(folder, d), self.top) + "/"] = None
            for f in files:
                with open(os.path.join(folder, f), "rb") as data:
                    found[os.path.relpath(os.path.join(folder, f), self.top)] = data.read()
        return found

    def test_runs_to_their_end(self):
        uncommitted = "orvpack1-1.2.3-uncommitted-win32.zip"
        cases = [
            # the sources, SOURCE_DATE_EPOCH, --out-dir, exit code, zip, message, build runs
            ("committed", None, None, 0, "dist/" + RELEASE, RELEASE, True),
            ("changed", None, None, 0, "dist/" + uncommitted, "M LICENSE", True),
            # The build finds CMake fragments by pattern: a new one is a change.
            ("untracked", None, None, 0, "dist/" + uncommitted, "?? kernels/zz/kernels.cmake",
             True),
            ("ignored", None, None, 0, "dist/" + RELEASE, RELEASE, True),
            ("without .git", "1700000000", None, 0, "dist/" + uncommitted,
             "git cannot tell what these sources hold", True),
            ("committed", "315532799", None, 1, None, "SOURCE_DATE_EPOCH 315532799 is outside "
             "the times a zip holds", False),
            ("committed", "4354819200", None, 1, None, "SOURCE_DATE_EPOCH 4354819200 is outside",
             False),
            ("committed", "1e9", None, 1, None, "must be whole seconds", False),
            # 1700000000 in Arabic-Indic digits.
            ("committed", "\u0661\u0667\u0660\u0660\u0660\u0660\u0660\u0660\u0660\u0660",
             None, 1, None, "must be whole seconds", False),
            ("committed", "", None, 1, None, "must be whole seconds", False),
            ("committed", None, "new/deeper", 0, "new/deeper/" + RELEASE, RELEASE, True),
            ("committed", None, "dist/" + USERS, 1, None, "dist/%s is not a folder" % USERS,
             False),
            ("committed", None, "dist/%s/sub" % USERS, 1, None, "dist/%s is not a folder" % USERS,
             False),
        ]
        built_files = {"build-ran": b"", "build-win32/": None,
                       "build-win32/CMakeCache.txt": b"CMAKE_PROJECT_VERSION:STATIC=1.2.3\n",
                       "build-win32/bin/": None, "build-win32/bin/ORVPACK1.x32": b"MZ module",
                       "build-wasm/": None, "build-wasm/site/": None,
                       "build-wasm/site/preview.html": PREVIEW}
        for sources, epoch, out_dir, code, zip_name, message, built in cases:
            with self.subTest(sources=sources, epoch=epoch, out_dir=out_dir):
                self.tearDown()
                self.setUp()
                if sources == "changed":
                    with open(os.path.join(self.top, "LICENSE"), "a") as f:
                        f.write("changed\n")
                elif sources in ("untracked", "ignored"):
                    name = "kernels/zz/kernels.cmake" if sources == "untracked" else "dist/old"
                    os.makedirs(os.path.dirname(os.path.join(self.top, name)), exist_ok=True)
                    with open(os.path.join(self.top, name), "w") as f:
                        f.write("# mine\n")
                elif sources == "without .git":
                    shutil.rmtree(os.path.join(self.top, ".git"))
                before = self.tree()
                env = {"SOURCE_DATE_EPOCH": epoch} if epoch is not None else {}
                args = ["--out-dir", os.path.join(self.top, out_dir)] if out_dir else []
                run = self.start(env, args)
                out, err = run.communicate()
                self.assertEqual(run.returncode, code, err)
                self.assertIn(message, out + err)
                after = self.tree()
                if built:
                    before.update(built_files)
                if zip_name:
                    with zipfile.ZipFile(os.path.join(self.top, zip_name)) as z:
                        self.assertEqual(z.namelist(), ["CHANGES", "INSTALL.txt", "LICENSE",
                                                        "ORVPACK1.x32", "SHA256SUMS",
                                                        "preview.html"])
                        self.assertEqual(z.read("preview.html"), PREVIEW)
                    folder = os.path.dirname(zip_name)
                    while folder:
                        before.setdefault(folder + "/", None)
                        folder = os.path.dirname(folder)
                    before[zip_name] = after.get(zip_name)
                self.assertEqual(after, before)

    @unittest.skipUnless(os.geteuid() == 0, "mounting a read-only folder needs root")
    def test_a_zip_that_cannot_be_written_is_named(self):
        folder = os.path.join(self.top, "read-only")
        os.makedirs(folder)
        mount = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k,ro", "tmpfs", folder],
                               capture_output=True)
        if mount.returncode != 0:
            self.skipTest("no tmpfs mounted: %s" % mount.stderr)
        try:
            run = subprocess.run([os.path.join(self.top, "scripts", "release"), "--out-dir",
                                  folder], cwd=self.top, capture_output=True, text=True,
                                 preexec_fn=default_signals)
            self.assertEqual(run.returncode, 1)
            # Found before the build, not after it.
            self.assertIn("--out-dir %s: %s: Read-only file system; no zip written" % (
                folder, folder), run.stderr)
            self.assertFalse(os.path.exists(os.path.join(self.top, "build-ran")))
        finally:
            subprocess.run(["umount", folder], check=True)
        self.expect_dist([])

    def test_a_signal_stops_the_build_too(self):
        cases = [
            # signals sent, ignored at the start, exit code
            ([signal.SIGINT], [], 130),
            ([signal.SIGTERM], [], 143),
            ([signal.SIGHUP], [], 129),
            # Under nohup a hang-up does nothing; a TERM still stops the run.
            ([signal.SIGHUP, signal.SIGTERM], [signal.SIGHUP], 143),
        ]
        for sent, ignored, code in cases:
            with self.subTest(sent=sent, ignored=ignored):
                ready = os.path.join(self.top, "ready")
                os.mkfifo(ready)
                # Open for reading first without waiting; the build's end of the
                # pipe stays open in it and its child until both have gone.
                pipe = os.open(ready, os.O_RDONLY | os.O_NONBLOCK)
                previous = {s: signal.signal(s, signal.SIG_IGN) for s in ignored}
                try:
                    run = subprocess.Popen(
                        [os.path.join(self.top, "scripts", "release")], cwd=self.top,
                        env=dict(os.environ, BUILD_READY=ready), stdout=subprocess.PIPE,
                        stderr=subprocess.PIPE, text=True,
                        preexec_fn=lambda: [signal.signal(s, signal.SIG_DFL)
                                            for s in (signal.SIGINT, signal.SIGTERM,
                                                      signal.SIGHUP) if s not in ignored])
                finally:
                    for s, handler in previous.items():
                        signal.signal(s, handler)
                # Wait for the build's word, however long it takes to start.
                got = b""
                while b"ready\n" not in got:
                    readable, _, _ = select.select([pipe], [], [], 600)
                    self.assertTrue(readable, "the build never started")
                    got += os.read(pipe, 64)
                for s in sent:
                    run.send_signal(s)
                out, err = run.communicate()
                self.assertEqual(run.returncode, code, err)
                # Every process of the build has ended: the pipe's last writer
                # is gone.
                while True:
                    readable, _, _ = select.select([pipe], [], [], 600)
                    self.assertTrue(readable, "a process of the build lives on")
                    if os.read(pipe, 64) == b"":
                        break
                os.close(pipe)
                os.remove(ready)
                self.expect_dist([])


class PackagesTest(unittest.TestCase):
    """need_packages' apt_get, with the package lists' lock held by the test."""

    @unittest.skipUnless(shutil.which("apt-get"), "no apt-get here")
    def test_a_held_lock_is_waited_for_then_named(self):
        lists = tempfile.mkdtemp(prefix="apt-lists-")
        try:
            os.makedirs(os.path.join(lists, "partial"))
            lock = os.open(os.path.join(lists, "lock"), os.O_RDWR | os.O_CREAT)
            cases = [
                # held by the test, exit code, message
                (True, 1, "another program still holds the package manager's lock after 0 s"),
                (False, 0, ""),
            ]
            for held, code, message in cases:
                with self.subTest(held=held):
                    if held:
                        fcntl.lockf(lock, fcntl.LOCK_EX)
                    script = ('. scripts/packages.sh; apt_lock_wait=0; apt_get -o '
                              'Dir::State::Lists="$1" -o Dir::Etc::sourcelist=/dev/null -o '
                              'Dir::Etc::sourceparts=/nonexistent -o Dir::Cache="$1" update')
                    run = subprocess.run(["bash", "-c", script, "bash", lists], cwd=ROOT,
                                         capture_output=True, text=True)
                    if held:
                        fcntl.lockf(lock, fcntl.LOCK_UN)
                    self.assertEqual(run.returncode, code, run.stderr)
                    self.assertIn(message, run.stderr)
            os.close(lock)
        finally:
            shutil.rmtree(lists)


if __name__ == "__main__":
    unittest.main()
