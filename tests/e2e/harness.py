"""The machinery under the end-to-end scenarios: a virtual X display, a throw-away Wine prefix,
the program started with its sound routed into a capture file, and the means to drive and read
its windows.

Every wait here is bounded; a bound that runs out raises StepTimeout, which the runner counts as
a failure of the scenario. Nothing started here is left running: Session.close() stops the Wine
server of the prefix, the window manager and the X server, and kills by process id whatever of
the prefix survives.
"""

import array
import json
import os
import select
import shutil
import signal
import subprocess
import time

FRAME_BYTES = 4  # 16-bit stereo
RATE = 44100


class StepTimeout(AssertionError):
    """A bounded wait ran out."""


def wait_until(what, predicate, timeout, interval=0.1):
    """Polls predicate() until it returns something true and returns that; raises StepTimeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise StepTimeout(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def run(cmd, env=None, timeout=30, check=True, cwd=None):
    """Runs a command to completion (bounded) and returns its CompletedProcess."""
    try:
        result = subprocess.run(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        raise StepTimeout(f"{cmd[0]} took longer than {timeout} s: {' '.join(map(str, cmd))}") from e
    if check and result.returncode != 0:
        raise AssertionError(f"{' '.join(map(str, cmd))} exited with {result.returncode}: "
                             f"{result.stderr.decode(errors='replace').strip()[-500:]}")
    return result


def processes_with_env(name, value):
    """Process ids whose environment holds name=value (the processes of one Wine prefix)."""
    needle = f"{name}={value}".encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if needle in env:
            found.append(int(entry))
    return found


def command_line(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return ""


def is_zombie(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


class Session:
    """One X display, one window manager and one Wine prefix for the whole run."""

    def __init__(self, repo, exe, render, work, window_manager=True, reuse_prefix=False):
        self.repo = repo
        self.exe = os.path.abspath(exe)
        self.render = os.path.abspath(render)
        self.work = work
        self.prefix = os.path.join(work, "prefix")
        self.window_manager = window_manager
        self.reuse_prefix = reuse_prefix
        self.display = None
        self.xvfb = None
        self.openbox = None
        self.probe_exe = os.path.join(work, "probe.exe")
        self.runtime_dir = os.path.join(work, "runtime")

    # ---- life cycle -----------------------------------------------------------------------
    def start(self):
        os.makedirs(self.work, exist_ok=True)
        self._build_probe()
        self._make_prefix()
        self._start_display()
        # A server that lives for the whole run saves each program start a second or two.
        run(["wineserver", "-p"], env=self.wine_env(), timeout=20)

    def close(self):
        """Stops everything this session started; safe to call more than once."""
        if os.path.isdir(self.prefix):
            try:
                run(["wineserver", "-k"], env=self.wine_env(), timeout=15, check=False)
            except StepTimeout:
                pass
            # Whatever survived the server's end (or a server that would not answer).
            deadline = time.monotonic() + 5
            while True:
                left = [p for p in processes_with_env("WINEPREFIX", self.prefix)
                        if p != os.getpid() and not is_zombie(p)]
                if not left or time.monotonic() > deadline:
                    break
                time.sleep(0.2)
            for pid in left:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        for proc in (self.openbox, self.xvfb):
            if proc and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait(timeout=5)
        self.openbox = self.xvfb = None

    def leftover_processes(self):
        """(pid, command line) of every live process of the prefix."""
        return [(p, command_line(p)) for p in processes_with_env("WINEPREFIX", self.prefix)
                if not is_zombie(p)]

    def _build_probe(self):
        source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "probe.c")
        if (os.path.exists(self.probe_exe)
                and os.path.getmtime(self.probe_exe) >= os.path.getmtime(source)):
            return
        run(["x86_64-w64-mingw32-gcc-posix", "-O2", "-municode", "-static", "-o", self.probe_exe,
             source], timeout=120)

    def _make_prefix(self):
        if not self.reuse_prefix and os.path.isdir(self.prefix):
            shutil.rmtree(self.prefix)
        env = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8",
                   HOME=self._make_home("prefix-home", audio=None))
        run([os.path.join(self.repo, "scripts", "wine-prefix.sh"), self.prefix], env=env,
            timeout=180)

    def _start_display(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.work, "xvfb.log"), "wb"), start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 15
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([read_end], [], [], max(left, 0))
            if not ready:
                os.close(read_end)
                raise StepTimeout("Xvfb did not report its display number within 15 s")
            chunk = os.read(read_end, 64)
            if not chunk:
                os.close(read_end)
                raise AssertionError("Xvfb ended before reporting its display number")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()
        with open(os.path.join(self.work, "xvfb.pid"), "w") as f:
            f.write(f"{self.xvfb.pid}\n")
        if self.window_manager:
            self.openbox = subprocess.Popen(
                ["openbox", "--sm-disable"], env=dict(os.environ, DISPLAY=self.display),
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=open(os.path.join(self.work, "openbox.log"), "wb"),
                start_new_session=True)
            with open(os.path.join(self.work, "openbox.pid"), "w") as f:
                f.write(f"{self.openbox.pid}\n")
            # openbox announces itself on the root window once it manages the screen.
            wait_until("openbox to manage the screen",
                       lambda: b"_NET_SUPPORTING_WM_CHECK(WINDOW)" in run(
                           ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.x_env(),
                           check=False, timeout=5).stdout, 10)
        xdotool(self, "mousemove", "1010", "750")

    # ---- environments ---------------------------------------------------------------------
    def x_env(self):
        return dict(os.environ, DISPLAY=self.display or "")

    def wine_env(self, home=None):
        env = dict(os.environ)
        env.update(WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
                   LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8",
                   # No sound server may take the sound past the capture file.
                   PULSE_SERVER="unix:/nonexistent/tonvarel-e2e", XDG_RUNTIME_DIR=self.runtime_dir)
        os.makedirs(self.runtime_dir, mode=0o700, exist_ok=True)
        if self.display:
            env["DISPLAY"] = self.display
        else:
            env.pop("DISPLAY", None)
        if home:
            env["HOME"] = home
        return env

    def _make_home(self, name, audio):
        home = os.path.join(self.work, "homes", name)
        if os.path.isdir(home):
            shutil.rmtree(home)
        os.makedirs(os.path.join(home, ".config", "pulse"))
        with open(os.path.join(home, ".config", "pulse", "client.conf"), "w") as f:
            f.write("autospawn = no\n")
        if audio:
            with open(os.path.join(home, ".asoundrc"), "w") as f:
                f.write('pcm.!default {\n  type file\n  slave.pcm "null"\n'
                        f'  file "{audio}"\n  format "raw"\n}}\n')
        return home

    # ---- windows --------------------------------------------------------------------------
    def probe(self):
        """Every visible top-level window as a dict (see probe.c)."""
        out = run(["wine", self.probe_exe], env=self.wine_env(), timeout=30).stdout
        return [json.loads(line) for line in out.decode("utf-8").splitlines() if line.strip()]

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        run(["import", "-window", "root", path], env=self.x_env(), timeout=20, check=False)
        return path


def xdotool(session, *args, timeout=20, check=True):
    return run(["xdotool", *args], env=session.x_env(), timeout=timeout, check=check)


class Capture:
    """The raw 44,100 Hz 16-bit stereo stream the ALSA file plugin writes, read as it grows."""

    def __init__(self, path):
        self.path = path
        self._data = bytearray()

    def frames(self):
        """All complete frames captured so far, as one interleaved array of int16."""
        try:
            with open(self.path, "rb") as f:
                f.seek(len(self._data))
                self._data += f.read()
        except FileNotFoundError:
            pass
        usable = len(self._data) - len(self._data) % FRAME_BYTES
        samples = array.array("h")
        samples.frombytes(bytes(self._data[:usable]))
        return samples

    def left(self):
        return self.frames()[0::2]

    def frame_count(self):
        self.frames()
        return len(self._data) // FRAME_BYTES


class App:
    """One run of the program under test, with a fresh HOME and a fresh capture file."""

    def __init__(self, session, scenario_dir, sound=True, name="app"):
        self.session = session
        self.dir = scenario_dir
        os.makedirs(scenario_dir, exist_ok=True)
        self.audio_path = os.path.join(scenario_dir, f"{name}-audio.raw") if sound else None
        if self.audio_path and os.path.exists(self.audio_path):
            os.remove(self.audio_path)
        self.home = session._make_home(f"{os.path.basename(scenario_dir)}-{name}", self.audio_path)
        self.capture = Capture(self.audio_path) if sound else None
        self.proc = None
        self.xid = None
        self.hwnd = None
        self.info = None
        self.name = name

    def env(self):
        return self.session.wine_env(home=self.home)

    def start(self, timeout=40):
        log = open(os.path.join(self.dir, f"{self.name}-wine.log"), "wb")
        self.proc = subprocess.Popen(["wine", self.session.exe], env=self.env(), cwd=self.dir,
                                     stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        log.close()

        def main_window():
            if self.proc.poll() is not None:
                raise AssertionError(f"the program ended at start with code {self.proc.returncode}")
            found = [w for w in self.session.probe()
                     if w["class"] == "QUENTARO" and w["image"].lower().endswith("tonvarel.exe")]
            return found
        found = wait_until("the main window", main_window, timeout, interval=0.3)
        if len(found) != 1:
            raise AssertionError(f"expected one main window, found {len(found)}: {found}")
        self.info = found[0]
        self.hwnd = self.info["hwnd"]
        xids = wait_until("the main window's X window", lambda: self.x_windows("^Tonvarel$"), 10)
        if len(xids) != 1:
            raise AssertionError(f"expected one X window named Tonvarel, found {xids}")
        self.xid = xids[0]
        return self

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired as e:
            raise StepTimeout(f"the program did not end within {timeout} s") from e

    def stop(self):
        """Ends the program by force if it still runs (clean-up, not a test step)."""
        if self.proc is None:
            return
        if self.proc.poll() is None:
            pids = [p for p in processes_with_env("HOME", self.home)]
            for pid in pids:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass

    # ---- X side ---------------------------------------------------------------------------
    def x_windows(self, name_regex=None, classname=None, visible=True):
        args = ["search"]
        if visible:
            args.append("--onlyvisible")
        if classname:
            args += ["--classname", classname]
        else:
            args += ["--name", name_regex]
        out = xdotool(self.session, *args, check=False, timeout=10).stdout.split()
        return [int(x) for x in out]

    def x_geometry(self, xid=None):
        out = run(["xwininfo", "-id", str(xid or self.xid)], env=self.session.x_env(),
                  timeout=10).stdout.decode()
        fields = {}
        for line in out.splitlines():
            if ":" in line:
                key, _, value = line.strip().partition(":")
                fields[key.strip()] = value.strip()
        return (int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"]),
                int(fields["Width"]), int(fields["Height"]))

    def focus(self, xid=None):
        xid = str(xid or self.xid)
        if self.session.window_manager:
            xdotool(self.session, "windowactivate", "--sync", xid, timeout=10, check=False)
        xdotool(self.session, "windowfocus", "--sync", xid, timeout=10, check=False)

    def key(self, *keys, xid=None):
        self.focus(xid)
        xdotool(self.session, "key", "--delay", "60", *keys)

    def client_to_screen(self, x, y):
        left, top = self.info["client"][0], self.info["client"][1]
        return left + x, top + y

    def move(self, x, y):
        """Moves the pointer to client position (x, y) of the main window."""
        sx, sy = self.client_to_screen(x, y)
        xdotool(self.session, "mousemove", str(sx), str(sy))

    def button(self, action, number, x=None, y=None):
        if x is not None:
            self.move(x, y)
        xdotool(self.session, action, str(number))

    # ---- windows of the program -----------------------------------------------------------
    def own_windows(self):
        """Visible top-level windows of this program's process, from the probe."""
        return [w for w in self.session.probe() if w["image"].lower().endswith("tonvarel.exe")]

    def wait_window(self, what, predicate, timeout=20):
        """Waits for a visible window of the program that satisfies predicate; returns it."""
        def look():
            found = [w for w in self.own_windows() if predicate(w)]
            return found[0] if found else None
        return wait_until(what, look, timeout, interval=0.25)

    def wait_window_gone(self, what, predicate, timeout=20):
        wait_until(what + " to close",
                   lambda: not any(predicate(w) for w in self.own_windows()), timeout, interval=0.25)


def window_texts(window):
    return [c["text"] for c in window.get("children", [])]
