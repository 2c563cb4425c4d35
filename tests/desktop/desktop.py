"""A private, headless desktop for end-to-end tests of the tray program.

    with Desktop(tray="panel") as desktop:        # or tray="trayer", or tray=None
        program = desktop.start_program("perchlight")
        icon = desktop.find_tray_icon(program)
        desktop.click(*icon.center)
        popover = desktop.wait_for_window(program, lambda w: w.size == (250, 300))

`Desktop` starts, on a display of its own: Xvfb, a session bus, xfwm4, dunst and a tray
host (xfce4-panel with its systray, or trayer), all with HOME and XDG_* in a fresh
temporary folder; it waits until each is really up and stops every process it started,
by process group, when the block ends (also on failure). See README.md next to this file.
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

from xscreen import DEFAULT_TIMEOUT, DesktopError, Rect, Window, XScreen, changed_box, wait_until  # noqa: F401 (re-exported)

HERE = Path(__file__).resolve().parent
PANEL_CONFIG = HERE / "xfce4-panel.xml"
class Program:
    """A process started on the desktop; its output goes to files in the scratch folder."""

    def __init__(self, args, env, log_dir):
        self.name = Path(args[0]).name
        stamp = f"{self.name}-{time.monotonic_ns()}"
        self.stdout_path = log_dir / f"{stamp}.out"
        self.stderr_path = log_dir / f"{stamp}.err"
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen(args, env=env, stdout=out, stderr=err,
                                            stdin=subprocess.DEVNULL, start_new_session=True)

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process.poll() is None

    def wait(self, timeout=DEFAULT_TIMEOUT):
        return self.process.wait(timeout=timeout)

    def stdout(self):
        return self.stdout_path.read_text(errors="replace")

    def stderr(self):
        return self.stderr_path.read_text(errors="replace")

    def stop(self):
        _stop_group(self.process)


def _stop_group(process, grace=2.0):
    """Ends the process and everything it started in its own process group."""
    # SIGKILL second: whatever of the group outlived its leader (a plugin, a bus-started
    # service) ends then.
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            pass
        try:
            process.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            pass


class Desktop:
    """A context manager; `tray` is "panel" (xfce4-panel: StatusNotifierItem and XEmbed),
    "trayer" (XEmbed only) or None (no tray; start one later with `start_tray`)."""

    def __init__(self, tray="panel", width=1280, height=800):
        self.tray_kind = tray
        self.width, self.height = width, height
        self.display = None
        self.env = None
        self.root_dir = None
        self._services = []  # (name, Popen), stopped in reverse order
        self._programs = []
        self.x = None  # XScreen, once the server is up
        self.empty_tray = None
        self.bus_address = None

    # -- life cycle ---------------------------------------------------------------------------

    def __enter__(self):
        try:
            self._make_folders()
            self._start_x()
            self._start_bus()
            self._start_service("xfwm4", ["xfwm4", "--compositor=off", "--sm-client-disable"])
            wait_until(lambda: self.x.root_property("_NET_SUPPORTING_WM_CHECK"), "the window manager")
            self._start_service("dunst", ["dunst"])
            wait_until(lambda: self.bus_name_owned("org.freedesktop.Notifications"), "the notification daemon")
            if self.tray_kind:
                self.start_tray(self.tray_kind)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        for program in self._programs:
            program.stop()
        self._programs.clear()
        if self.x is not None:
            self.x.close()
            self.x = None
        for name, process in reversed(self._services):
            started = time.monotonic()
            _stop_group(process)
            if os.environ.get("PERCH_DESKTOP_DEBUG"):
                print(f"stopped {name} in {time.monotonic() - started:.2f} s")
        self._services.clear()
        if self.root_dir and not os.environ.get("PERCH_KEEP_DESKTOP"):
            shutil.rmtree(self.root_dir, ignore_errors=True)
        return False

    def _make_folders(self):
        self.root_dir = Path(tempfile.mkdtemp(prefix="perch-desktop."))
        self.home = self.root_dir / "home"
        self.config_home = self.root_dir / "config"
        self.data_home = self.root_dir / "data"
        self.cache_home = self.root_dir / "cache"
        self.runtime_dir = self.root_dir / "runtime"
        self.log_dir = self.root_dir / "logs"
        for folder in (self.home, self.config_home, self.data_home, self.cache_home, self.runtime_dir, self.log_dir):
            folder.mkdir(mode=0o700)
        channel = self.config_home / "xfce4" / "xfconf" / "xfce-perchannel-xml"
        channel.mkdir(parents=True)
        shutil.copy(PANEL_CONFIG, channel / "xfce4-panel.xml")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("XDG_", "DBUS_", "QT_", "WAYLAND_", "DESKTOP_SESSION", "SESSION_MANAGER"))}
        env.update(HOME=str(self.home), XDG_CONFIG_HOME=str(self.config_home), XDG_DATA_HOME=str(self.data_home),
                   XDG_CACHE_HOME=str(self.cache_home), XDG_RUNTIME_DIR=str(self.runtime_dir),
                   QT_QPA_PLATFORM="xcb", NO_AT_BRIDGE="1", LC_ALL="C.UTF-8")
        env.pop("DISPLAY", None)
        self.env = env

    def _spawn(self, name, args, **kwargs):
        """Starts a service in a process group of its own, its stderr in logs/<name>.err."""
        with open(self.log_dir / f"{name}.err", "wb") as log:
            process = subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, stderr=log,
                                       start_new_session=True, **kwargs)
        self._services.append((name, process))
        return process

    def _start_x(self):
        # Xvfb picks the first free display number itself (it honours the lock files), so
        # parallel desktops never race for one.
        read_end, write_end = os.pipe()
        self._spawn("Xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{self.width}x{self.height}x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,), stdout=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise DesktopError("Xvfb did not start: " + (self.log_dir / "Xvfb.err").read_text())
        self.display = f":{number}"
        self.env["DISPLAY"] = self.display
        self.x = XScreen(self.display, self.width, self.height)

    def _start_bus(self):
        # Services the bus starts on demand (the panel's settings store) inherit its
        # environment, so it is started with HOME and XDG_* already in place.
        process = self._spawn("dbus-daemon", ["dbus-daemon", "--session", "--nofork", "--nosyslog",
                                              "--print-address=1"], stdout=subprocess.PIPE)
        with process.stdout:
            self.bus_address = process.stdout.readline().decode().strip()
        if not self.bus_address:
            raise DesktopError("dbus-daemon did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address

    def _start_service(self, name, args):
        return self._spawn(name, args, stdout=subprocess.DEVNULL)

    def start_tray(self, kind="panel"):
        """Starts a tray host and waits until it hosts icons and has reserved its strip."""
        if kind == "panel":
            self._start_service("xfce4-panel", ["xfce4-panel", "--disable-wm-check"])
            wait_until(lambda: self.bus_name_owned("org.kde.StatusNotifierWatcher"), "the StatusNotifierWatcher")
        elif kind == "trayer":
            self._start_service("trayer", ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                                           "--height", "26", "--iconspacing", "2", "--SetDockType", "true",
                                           "--SetPartialStrut", "true", "--transparent", "false", "--tint", "0xdddddd",
                                           "--expand", "true", "--padding", "4"])
        else:
            raise ValueError(f"unknown tray host {kind!r}")
        self.tray_kind = kind
        wait_until(self.x.tray_selection_owner, "the _NET_SYSTEM_TRAY_S0 selection")
        wait_until(lambda: self.workarea().y > 0, "a work area below the tray's panel")
        # The panel draws its background once mapped; a snapshot before that would show
        # every later pixel as changed.
        wait_until(self._tray_strip_settled, "the tray's panel to be drawn")
        self.empty_tray = self.tray_snapshot()

    # -- programs -----------------------------------------------------------------------------

    def start_program(self, name_or_path, *args, env=None):
        """Starts a program (a name in the build's app/ folder, or a path) on this desktop.
        `env` adds to the desktop's environment; a value of None removes that variable."""
        path = Path(name_or_path)
        if not path.is_absolute() and "/" not in name_or_path:
            path = build_dir() / "app" / name_or_path
        program_env = dict(self.env)
        for key, value in (env or {}).items():
            if value is None:
                program_env.pop(key, None)  # None: not in the program's environment
            else:
                program_env[key] = value
        program = Program([str(path), *args], program_env, self.log_dir)
        self._programs.append(program)
        return program

    def run(self, args, timeout=DEFAULT_TIMEOUT, env=None, **kwargs):
        """Runs a command on this desktop to its end (subprocess.run)."""
        run_env = dict(self.env)
        if env:
            run_env.update(env)
        return subprocess.run(args, env=run_env, timeout=timeout, capture_output=True, text=True, **kwargs)

    # -- D-Bus --------------------------------------------------------------------------------

    def _bus_call(self, *args):
        result = self.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                           "/org/freedesktop/DBus", *args])
        return result.stdout if result.returncode == 0 else ""

    def bus_name_owned(self, name):
        return "boolean true" in self._bus_call("org.freedesktop.DBus.NameHasOwner", f"string:{name}")

    def status_notifier_items(self):
        """The items registered with the panel's StatusNotifierWatcher (service names)."""
        result = self.run(["dbus-send", "--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher",
                           "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
                           "string:org.kde.StatusNotifierWatcher", "string:RegisteredStatusNotifierItems"])
        return [line.split('"')[1] for line in result.stdout.splitlines() if line.strip().startswith('string "')]

    def notifications(self):
        """The notifications dunst has shown, newest first, as dicts of summary, body, appname..."""
        self.run(["dunstctl", "close-all"])  # closed ones move into the history
        result = self.run(["dunstctl", "history"])
        if result.returncode != 0:
            raise DesktopError("dunstctl history failed: " + result.stderr)
        entries = json.loads(result.stdout)["data"][0]
        return [{key: value["data"] for key, value in entry.items()} for entry in entries]

    # -- X (see xscreen.py) ---------------------------------------------------------------------

    def workarea(self):
        return self.x.workarea()

    def pointer(self):
        return self.x.pointer()

    def pointer_grabbed(self):
        return self.x.pointer_grabbed()

    def active_window(self):
        return self.x.active_window()

    def open_other_window(self, *args, **kwargs):
        return self.x.open_other_window(*args, **kwargs)

    def pixels(self, rect):
        return self.x.pixels(rect)

    def windows_of(self, pid):
        return self.x.windows_of(pid)

    def tray_strip(self):
        """The screen strip above the work area: the panel that holds the tray."""
        return Rect(0, 0, self.width, self.workarea().y)

    def click(self, x, y, button=1):
        """Moves the pointer to (x, y) and clicks there, as a user would."""
        # Not `mousemove --sync`: it waits for a motion, which never comes when the
        # pointer is already there.
        if self.pointer() != (x, y):
            self._xdotool("mousemove", str(x), str(y))
            wait_until(lambda: self.pointer() == (x, y), f"the pointer to reach {x},{y}")
        self._xdotool("click", str(button))

    def _xdotool(self, *args):
        result = self.run(["xdotool", *args])
        if result.returncode != 0:
            raise DesktopError("xdotool failed: " + result.stderr)

    def key(self, keysym):
        self._xdotool("key", keysym)

    def screenshot(self, path, rect=None):
        """Saves the screen (or a part of it) as a PNG."""
        args = ["import", "-display", self.display, "-window", "root"]
        if rect:
            args += ["-crop", f"{rect.width}x{rect.height}+{rect.x}+{rect.y}", "+repage"]
        result = self.run([*args, str(path)], timeout=30)
        if result.returncode != 0:
            raise DesktopError("import failed: " + result.stderr)
        return Path(path)

    def _tray_strip_settled(self):
        strip = self.tray_strip()
        first = self.pixels(strip)
        if len(set(first[i] for i in range(0, len(first), 97))) < 2 and self.tray_kind == "panel":
            return False  # still the plain black of the X server
        time.sleep(0.05)
        return self.pixels(strip) == first

    def tray_snapshot(self):
        """The tray strip as it is now; `find_tray_icon` looks for what changed since."""
        return (self.tray_strip(), self.pixels(self.tray_strip()))

    def visible_windows_of(self, program):
        return [w for w in self.windows_of(program.pid) if w.viewable]

    def wait_for_window(self, program, predicate=lambda w: True, what="a window", timeout=DEFAULT_TIMEOUT):
        """Waits for a viewable window of the program that satisfies `predicate`."""
        def look():
            matches = [w for w in self.visible_windows_of(program) if predicate(w)]
            return matches[0] if matches else None
        return wait_until(look, f"{what} of {program.name}", timeout)

    def wait_for_no_window(self, program, predicate=lambda w: True, what="windows", timeout=DEFAULT_TIMEOUT):
        wait_until(lambda: not [w for w in self.visible_windows_of(program) if predicate(w)],
                   f"{what} of {program.name} to close", timeout)

    def find_tray_icon(self, program, baseline=None, timeout=DEFAULT_TIMEOUT):
        """Where the program's tray icon is on screen.

        An XEmbed tray (trayer) embeds a window of the program itself. A StatusNotifierItem
        host (the panel) draws the icon in its own window, so the icon is found as the
        region of the tray strip that changed since `baseline` (a `tray_snapshot()` taken
        before the program started; by default the empty tray)."""
        if baseline is None:
            baseline = self.empty_tray or self.tray_snapshot()

        def embedded():
            for window in self.windows_of(program.pid):
                if window.viewable and self.tray_strip().contains(window.rect) and window.rect.height > 1:
                    return window.rect
            return None

        def drawn():
            strip, before = baseline
            changed = changed_box(before, self.pixels(strip), strip.width)
            if changed is None:
                return None
            # Settled: the same box twice in a row (the host may still be laying out).
            time.sleep(0.1)
            again = changed_box(before, self.pixels(strip), strip.width)
            if again != changed:
                return None
            x0, y0, x1, y1 = changed
            return Rect(strip.x + x0, strip.y + y0, x1 - x0 + 1, y1 - y0 + 1)

        return wait_until(lambda: embedded() or drawn(), f"the tray icon of {program.name}", timeout)


def build_dir():
    """The build folder holding app/perchlight: PERCH_BUILD_DIR, else <repo>/build."""
    return Path(os.environ.get("PERCH_BUILD_DIR", HERE.parent.parent / "build"))
