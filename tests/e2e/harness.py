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
import shutil
import signal
import subprocess
import time

FRAME_BYTES = 4  # 16-bit stereo


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


def quiet_wine(args, env, timeout=30, check=True):
    """Runs a Windows program to completion (bounded) and returns its exit code.

    Its output goes to /dev/null: a Wine program may start the prefix's background processes,
    which would inherit a pipe and keep it open, so waiting for the pipe's end would hang."""
    try:
        code = subprocess.run(["wine", *args], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired as e:
        raise StepTimeout(f"wine {' '.join(args)} took longer than {timeout} s") from e
    if check and code != 0:
        raise AssertionError(f"wine {' '.join(args)} exited with {code}")
    return code


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
        # Its output must not be a pipe: the server keeps it open for as long as it runs.
        try:
            subprocess.run(["wineserver", "-p"], env=self.wine_env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20)
        except subprocess.TimeoutExpired as e:
            raise StepTimeout("wineserver -p did not return within 20 s") from e

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
        for name in ("openbox.pid", "xvfb.pid"):
            try:
                os.remove(os.path.join(self.work, name))
            except FileNotFoundError:
                pass

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
        if os.path.isdir(self.prefix):
            # A server of an earlier run that was killed before its clean-up.
            run(["wineserver", "-k"], env=self.wine_env(), timeout=15, check=False)
            if not self.reuse_prefix:
                shutil.rmtree(self.prefix)
        env = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8",
                   HOME=self._make_home("prefix-home", audio=None))
        run([os.path.join(self.repo, "scripts", "wine-prefix.sh"), self.prefix], env=env,
            timeout=180)

    def _start_display(self):
        # Display numbers from 40 up, leaving the low ones to desktops and other tools. The
        # X server's own lock file settles a race with another run: the loser exits at once.
        for number in range(40, 140):
            if (os.path.exists(f"/tmp/.X{number}-lock")
                    or os.path.exists(f"/tmp/.X11-unix/X{number}")):
                continue
            self.xvfb = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=open(os.path.join(self.work, "xvfb.log"), "wb"), start_new_session=True)
            socket, lock = f"/tmp/.X11-unix/X{number}", f"/tmp/.X{number}-lock"

            def owner():
                try:
                    with open(lock) as f:
                        return int(f.read().strip() or 0)
                except (OSError, ValueError):
                    return 0
            wait_until("Xvfb to start",
                       lambda: (os.path.exists(socket) and owner()) or self.xvfb.poll() is not None,
                       15, interval=0.05)
            if self.xvfb.poll() is None and owner() == self.xvfb.pid:
                self.display = f":{number}"
                break
            if self.xvfb.poll() is None:  # another server got this number first
                self.xvfb.terminate()
                self.xvfb.wait(timeout=10)
        else:
            raise AssertionError("no free X display number between 40 and 139")
        wait_until("the X server to answer",
                   lambda: run(["xdpyinfo"], env=self.x_env(), check=False, timeout=5).returncode == 0,
                   10, interval=0.1)
        with open(os.path.join(self.work, "xvfb.pid"), "w") as f:
            f.write(f"{self.xvfb.pid}\n")
        if self.window_manager:
            self._start_openbox()
        xdotool(self, "mousemove", "1010", "750")

    def _start_openbox(self):
        # Now and then openbox ends at once with status 1 and no word on a fresh display;
        # a second start has always worked.
        open(os.path.join(self.work, "openbox.log"), "wb").close()
        for attempt in range(3):
            self.openbox = subprocess.Popen(
                # Its cache (a log) in the run's folder, not the user's home.
                ["openbox", "--sm-disable"],
                env=dict(os.environ, DISPLAY=self.display,
                         XDG_CACHE_HOME=os.path.join(self.work, "openbox-cache")),
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=open(os.path.join(self.work, "openbox.log"), "ab"),
                start_new_session=True)
            with open(os.path.join(self.work, "openbox.pid"), "w") as f:
                f.write(f"{self.openbox.pid}\n")

            def managing():
                if self.openbox.poll() is not None:
                    return "ended"
                out = run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.x_env(),
                          check=False, timeout=5).stdout
                return b"window id" in out and "managing"
            state = wait_until("openbox to manage the screen", managing, 10, interval=0.1)
            if state == "managing":
                return
            self.openbox.wait(timeout=5)
        raise AssertionError("openbox would not start (see build/e2e/openbox.log)")

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
    def probe(self, hidden=False):
        """Every visible (with hidden, every) top-level window as a dict (see probe.c)."""
        out_path = os.path.join(self.work, "probe.json")
        if os.path.exists(out_path):
            os.remove(out_path)
        quiet_wine([self.probe_exe, out_path] + (["all"] if hidden else []), env=self.wine_env(),
                   timeout=30)
        with open(out_path, "rb") as f:
            out = f.read()
        return [json.loads(line) for line in out.decode("utf-8").splitlines() if line.strip()]

    def menu_reference(self, menus):
        """Starts the probe's reference window with these menus ("MENU|ITEM|ITEM...") and
        returns (process, X window id); end it with process.kill()."""
        proc = subprocess.Popen(["wine", self.probe_exe, "--menu-window", *menus],
                                env=self.wine_env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def shown():
            if proc.poll() is not None:
                raise AssertionError(f"the menu reference window ended with {proc.returncode}")
            out = xdotool(self, "search", "--onlyvisible", "--name", "^e2e menu reference$",
                          check=False, timeout=10).stdout.split()
            return [int(x) for x in out]
        try:
            xids = wait_until("the menu reference window", shown, 30, interval=0.2)
        except BaseException:
            proc.kill()
            proc.wait(timeout=10)
            raise
        return proc, xids[0]

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        run(["import", "-window", "root", path], env=self.x_env(), timeout=20, check=False)
        return path


def xdotool(session, *args, timeout=20, check=True):
    return run(["xdotool", *args], env=session.x_env(), timeout=timeout, check=check)


class Capture:
    """The raw 44,100 Hz 16-bit stereo stream the ALSA file plugin writes, read as it grows.

    Reading is incremental and cheap, so that polling it does not starve the program of the
    processor time it needs to render its blocks (a late block comes out as inserted silence)."""

    def __init__(self, path):
        self.path = path
        self._offset = 0
        self._pending = b""
        self._frames = array.array("h")
        self._left = array.array("h")

    def _update(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self._offset)
                data = f.read()
        except FileNotFoundError:
            return
        self._offset += len(data)
        data = self._pending + data
        usable = len(data) - len(data) % FRAME_BYTES
        self._pending = data[usable:]
        fresh = array.array("h")
        fresh.frombytes(data[:usable])
        self._frames.extend(fresh)
        self._left.extend(fresh[0::2])

    def frames(self):
        """All complete frames captured so far, interleaved (do not modify)."""
        self._update()
        return self._frames

    def left(self):
        """The left channel captured so far (do not modify)."""
        self._update()
        return self._left

    def frame_count(self):
        self._update()
        return len(self._left)


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
            # The process started is the program itself (Wine's loader becomes it). Background
            # processes of the prefix may carry the same HOME: they are left alone.
            pids = {self.proc.pid} | {p for p in processes_with_env("HOME", self.home)
                                      if "tonvarel.exe" in command_line(p).lower()}
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

    def focus(self, xid=None, click=None):
        """Gives the keyboard focus to an X window (the main window by default). Without a
        window manager Wine may keep another of its windows active although the X focus moved:
        there a click activates the window, at screen point `click` (for the main window, in the
        client area clear of the pad)."""
        xid = int(xid or self.xid)
        if self.session.window_manager:
            # No --sync: activating a window that a modal box has disabled would wait for ever.
            xdotool(self.session, "windowactivate", str(xid), timeout=10, check=False)
        else:
            xdotool(self.session, "windowfocus", str(xid), timeout=10, check=False)
            if click is None and xid == self.xid:
                click = self.client_to_screen(380, 396)
            if click is not None:
                xdotool(self.session, "mousemove", str(click[0]), str(click[1]))
                xdotool(self.session, "click", "1")

        def focused():
            out = xdotool(self.session, "getwindowfocus", check=False, timeout=5).stdout.split()
            return out and int(out[0]) == xid
        wait_until(f"the keyboard focus on X window {xid}", focused, 5, interval=0.05)

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

    # ---- windows of the program -----------------------------------------------------------
    def own_windows(self, hidden=False):
        """Visible (with hidden, all) top-level windows of the program, from the probe."""
        return [w for w in self.session.probe(hidden)
                if w["image"].lower().endswith("tonvarel.exe")]

    def wait_window(self, what, predicate, timeout=20, everyone=False):
        """Waits for a visible window of the program (of any process with everyone) that
        satisfies predicate; returns its probe record."""
        def look():
            windows = self.session.probe() if everyone else self.own_windows()
            found = [w for w in windows if predicate(w)]
            return found[0] if found else None
        return wait_until(what, look, timeout, interval=0.25)

    def wait_window_gone(self, what, predicate, timeout=20, everyone=False, hidden=True):
        """Waits until no window, shown or hidden, satisfies predicate. A closing dialog is
        hidden first and destroyed only when its modal loop ends; until then the command that
        showed it has not returned. A popup menu is only ever hidden: pass hidden=False."""
        def gone():
            windows = self.session.probe(hidden) if everyone else self.own_windows(hidden)
            return not any(predicate(w) for w in windows)
        wait_until(what + " to close", gone, timeout, interval=0.25)


class Image:
    """A screenshot's pixels (read through ImageMagick as a binary PPM)."""

    def __init__(self, path):
        data = run(["convert", path, "ppm:-"], timeout=30).stdout
        fields = []
        pos = 0
        while len(fields) < 4:  # magic, width, height, maximum
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos) + 1
                continue
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise AssertionError(f"unexpected image format from {path}: {fields}")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[pos + 1:pos + 1 + 3 * self.width * self.height]

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i:i + 3])

    def dark(self, x, y, limit=96):
        return max(self.pixel(x, y)) < limit

    def count(self, left, top, right, bottom, predicate):
        return sum(1 for y in range(top, bottom) for x in range(left, right)
                   if predicate(self.pixel(x, y)))

    def crop(self, left, top, right, bottom):
        """The pixels of a rectangle as one bytes object (rows one after another)."""
        return b"".join(self.region(left, top, right, bottom))

    def save_crop(self, path, left, top, right, bottom):
        with open(path, "wb") as f:
            f.write(b"P6 %d %d 255\n" % (right - left, bottom - top))
            f.write(self.crop(left, top, right, bottom))

    def region(self, left, top, right, bottom):
        return [self.pixels[3 * (y * self.width + left):3 * (y * self.width + right)]
                for y in range(top, bottom)]
