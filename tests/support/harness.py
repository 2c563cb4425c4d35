# A private, headless desktop for the end-to-end tests, and what they need around it:
#
#     with Desktop("panel") as desktop:        # "panel" (xfce4-panel), "trayer", or None
#         program = desktop.start("perchlight")
#         icon = desktop.find_tray_icon(program)
#         desktop.click(*icon.center)
#
# On a display of its own: Xvfb, a session bus, xfwm4, dunst, a tray and, where unshare is
# permitted, the user's service manager, with HOME and XDG_* in a fresh temporary folder. Every wait polls a condition; everything started is stopped,
# by process group, when the block ends (also on failure). See README.md in tests/desktop.

import datetime
import json
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
from collections import namedtuple
from pathlib import Path

from Xlib import X, Xatom, Xutil, display as xdisplay, error as xerror

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("PERCH_BUILD_DIR", ROOT / "build"))
# One factor for every wait, for a slow or busy machine (PERCH_TIME_FACTOR; CI's machine is
# shared, so 2 there). A wait ends as soon as its condition holds.
CI = os.environ.get("CI") == "true"
TIME_FACTOR = float(os.environ.get("PERCH_TIME_FACTOR") or (2 if CI else 1))
TIMEOUT = 60 * TIME_FACTOR
# The defaults database keeps a value's kind beside it.
INTEGER, STRING, DATA = 2, 3, 4
NO_USER_MANAGER = "reminders come only while the program runs"  # said at every start without one


def require(test, present, what):
    # A part of the machine that a test needs: without it the test is skipped on a developer's
    # machine, and fails under CI, whose set-up installs every part.
    if not present:
        (test.fail if CI else test.skipTest)(f"missing: {what}")


def wait_until(condition, what, timeout=TIMEOUT, interval=0.05):
    deadline = time.monotonic() + timeout
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)
    return value


class Rect(namedtuple("Rect", "x y width height")):
    center = property(lambda r: (r.x + r.width // 2, r.y + r.height // 2))
    bottom = property(lambda r: r.y + r.height)  # one past the last row

    def contains(self, o):
        return self.x <= o.x and self.y <= o.y and o.x + o.width <= self.x + self.width and o.bottom <= self.bottom


Started = namedtuple("Started", "pid name")  # a program that the harness did not start
# override_redirect: a Qt popup, not managed by the window manager.
Window = namedtuple("Window", "id rect override_redirect title")


def scratch_env(root):
    # The caller's environment with HOME and the XDG folders in `root`, nothing of its session.
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("XDG_", "DBUS_", "QT_", "WAYLAND_", "DISPLAY", "SESSION_MANAGER"))}
    for var, name in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                      ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "runtime")):
        env[var] = str(Path(root, name))
        Path(env[var]).mkdir(mode=0o700)
    return env


def store_path(env):
    return Path(env["XDG_CONFIG_HOME"], "portraitperch", "defaults.sqlite3")


def read_store(env):
    with sqlite3.connect(f"file:{store_path(env)}?mode=ro", uri=True) as db:
        return dict(db.execute("SELECT key, value FROM defaults"))


def write_store(env, values):
    # As another writer of the database would: {key: (kind, value)}.
    store_path(env).parent.mkdir(mode=0o700, parents=True, exist_ok=True)
    with sqlite3.connect(store_path(env), timeout=10 * TIME_FACTOR) as db:
        db.execute("CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY NOT NULL, kind INTEGER NOT NULL,"
                   " value, revision INTEGER NOT NULL)")
        for key, (kind, value) in values.items():
            db.execute("INSERT OR REPLACE INTO defaults VALUES (?, ?, ?,"
                       " (SELECT coalesce(max(revision), 0) + 1 FROM defaults))", (key, kind, value))


def stop_group(process):
    # SIGKILL second: whatever of the group outlived its leader (a bus-started service) ends then.
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
            process.wait(timeout=5 * TIME_FACTOR)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            pass


class Program(subprocess.Popen):
    # A process in a group of its own; what it prints goes to files of the log folder.
    def __init__(self, args, env, log_dir):
        self.name = Path(args[-1]).name
        self.out, self.err = (Path(log_dir, f"{self.name}-{time.monotonic_ns()}.{s}") for s in ("out", "err"))
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            super().__init__(args, env=env, stdout=out, stderr=err, stdin=subprocess.DEVNULL, start_new_session=True)

    def running(self):
        return self.poll() is None

    def output_text(self):
        return self.out.read_text(errors="replace")

    def error_text(self):
        return self.err.read_text(errors="replace")


class Desktop:
    # With `panel_monitor` (0 or 1), the screen is two RandR monitors of width × height side
    # by side, the panel on that one, along its top or bottom `edge`.
    def __init__(self, tray="panel", width=1280, height=800, panel_monitor=None, edge="top"):
        self.tray, self.panel_monitor, self.edge = tray, panel_monitor, edge
        self.monitors = [Rect(i * width, 0, width, height) for i in range(1 if panel_monitor is None else 2)]
        self.width, self.height = len(self.monitors) * width, height
        self.services, self.programs, self.x, self.panel = [], [], None, None
        self.enter, self.user_manager, self.manager = [], False, None  # see _start_user_manager

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def _start(self):
        self.root = Path(tempfile.mkdtemp(prefix="perch-desktop."))
        self.env = {**scratch_env(self.root), "QT_QPA_PLATFORM": "xcb", "NO_AT_BRIDGE": "1", "LC_ALL": "C.UTF-8"}
        self.config, self.data, self.runtime, self.logs = (self.root / name for name in
                                                           ("config", "data", "runtime", "logs"))
        panel = self.config / "xfce4" / "xfconf" / "xfce-perchannel-xml"
        panel.mkdir(parents=True)
        self.logs.mkdir()
        config = Path(__file__).with_name("xfce4-panel.xml").read_text()
        (panel / "xfce4-panel.xml").write_text(config.replace("p=6;", "p=8;" if self.edge == "bottom" else "p=6;"))
        self._start_x()
        if self.panel_monitor is not None:
            self._split_screen()
        self._start_bus()
        self._spawn("xfwm4", ["xfwm4", "--compositor=off", "--sm-client-disable"])
        wait_until(lambda: self._root_property("_NET_SUPPORTING_WM_CHECK", None), "the window manager")
        self.user_manager = self._start_user_manager()
        self.start_notifications()
        if self.tray:
            self.start_tray(self.tray)

    def __exit__(self, *exc):
        for program in self.programs:
            stop_group(program)
        if self.x is not None:
            self.x.close()
        for process in reversed(self.services):
            stop_group(process)
        logs = getattr(self, "logs", None)
        if exc and exc[0] is not None and logs and logs.is_dir():
            # A failure's cause is often in what the desktop's own services said meanwhile.
            for log in sorted(logs.glob("*")):
                said = log.read_bytes()[-4000:].decode(errors="replace").strip()
                if said:
                    print(f"--- the end of {log.name}:\n{said}", file=sys.stderr)
        if not os.environ.get("PERCH_KEEP_DESKTOP"):
            shutil.rmtree(self.root, ignore_errors=True)

    def _spawn(self, name, args, **kwargs):
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        with open(self.logs / f"{name}.err", "wb") as log:
            process = subprocess.Popen(args, env=self.env, stderr=log, start_new_session=True, **kwargs)
        self.services.append(process)
        return process

    def _start_x(self):
        # Xvfb picks a free display number itself, honouring the lock files of other servers.
        read_end, write_end = os.pipe()
        self._spawn("Xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{self.width}x{self.height}x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            self.env["DISPLAY"] = ":" + pipe.readline().strip()
        self.x = xdisplay.Display(self.env["DISPLAY"])
        self.screen = self.x.screen()
        # A grey desktop instead of the server's black, so that the panel's drawing shows.
        self.screen.root.change_attributes(background_pixel=self.screen.default_colormap.alloc_color(
            0x7000, 0x8000, 0x9000).pixel)
        self.screen.root.clear_area()

    def _start_bus(self):
        # Services the bus starts on demand (the panel's settings) inherit its environment. The
        # session runs no XDG desktop portal, as an Xfce one without it: an installed portal would
        # be started on demand and open GTK's file chooser in place of Qt's, which the tests drive.
        config = self.root / "session-bus.conf"
        config.write_text('<busconfig><include>/usr/share/dbus-1/session.conf</include><policy context="default">'
                          '<deny send_destination="org.freedesktop.portal.Desktop"/></policy></busconfig>')
        bus = self._spawn("dbus-daemon", ["dbus-daemon", f"--config-file={config}", "--nofork", "--print-address=1"],
                          stdout=subprocess.PIPE)
        with bus.stdout:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()

    def _tell_user_manager(self):
        # The session's bus and display for the services it starts, as a desktop session
        # tells its manager at login (Debian's Xsession through dbus-update-activation-environment).
        self.run(["systemctl", "--user", "import-environment", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY"], check=True)

    def new_session(self):
        # A later login of the same user: another display and bus, with a notification server and
        # no tray; the earlier session's go, while the user manager stays.
        earlier = [process for process in self.services if process is not self.manager]
        self.x.close()
        self._start_x()
        self._start_bus()
        self._tell_user_manager()
        for process in reversed(earlier):
            stop_group(process)
        self.start_notifications()

    def _split_screen(self):
        # Xvfb has one output. The panel's monitor takes it: GTK, and so the panel, sees only
        # monitors with an output, while Qt and the window manager see both.
        for index, monitor in enumerate(self.monitors):
            output = "screen" if index == self.panel_monitor else "none"
            geometry = f"{monitor.width}/338x{monitor.height}/211+{monitor.x}+{monitor.y}"
            self.run(["xrandr", "--setmonitor", f"M{index}", geometry, output], check=True)

    def _start_user_manager(self):
        # The manager refuses to start where the machine did not boot with systemd, but runs in a
        # mount namespace of its own with an empty /run/systemd/system. The programs join that
        # namespace, whose copy of /etc lets a test change the time zone as timedatectl does.
        if not shutil.which("systemctl") or subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode:
            return False
        # What the services it starts say goes to its own log, which a failing test prints.
        user_conf = self.config / "systemd" / "user.conf"
        user_conf.parent.mkdir(parents=True, exist_ok=True)
        user_conf.write_text("[Manager]\nDefaultStandardOutput=inherit\nDefaultStandardError=inherit\n")
        script = (f'cp -a /etc "{self.root}/etc" && mount --bind "{self.root}/etc" /etc && mkdir -p /run/systemd'
                  ' && mount -t tmpfs tmpfs /run/systemd && mkdir /run/systemd/system && exec /lib/systemd/systemd --user')
        manager = self._spawn("systemd", ["unshare", "-m", "sh", "-c", script])
        state = ["systemctl", "--user", "show", "--property=SystemState", "--value"]
        wait_until(lambda: manager.poll() is not None or self.run(state).stdout.strip() == "running", "the user manager")
        if manager.poll() is None:
            self.enter = ["nsenter", f"--mount=/proc/{manager.pid}/ns/mnt", "--"]
            self.manager = manager
            self._tell_user_manager()
        return bool(self.enter)

    def start_notifications(self):
        # The system's settings, and a script that records what only a script sees: the desktop entry.
        script, rc = self.root / "dunst-seen", self.config / "dunst" / "dunstrc"
        if not rc.exists():
            script.write_text('#!/bin/sh\necho "$DUNST_ID $DUNST_DESKTOP_ENTRY" >> "$0.log"\n')
            script.chmod(0o755)
            rc.parent.mkdir(parents=True)
            rc.write_text(Path("/etc/xdg/dunst/dunstrc").read_text() + f'\n[seen]\nsummary = "*"\nscript = {script}\n')
        self._block_notification_activation(False)
        self._spawn("dunst", ["dunst"])
        wait_until(lambda: self.run(["dunstctl", "is-paused"]).returncode == 0, "the notification daemon")

    def stop_notifications(self):
        # No server until start_notifications, not even one that the bus would start on demand.
        self._block_notification_activation(True)
        stop_group(next(process for process in self.services if process.args[0] == "dunst" and process.poll() is None))

    def _block_notification_activation(self, block):
        # The user's own service file comes before the system's of the same name.
        service = Path(self.env["XDG_DATA_HOME"], "dbus-1", "services", "org.knopwob.dunst.service")
        service.parent.mkdir(parents=True, exist_ok=True)
        if block:
            service.write_text("[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/false\n")
        else:
            service.unlink(missing_ok=True)
        self.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                  "org.freedesktop.DBus.ReloadConfig"], check=True)

    def timer_instant(self, name):
        # When the user manager starts the delivery run of program `name` (its timer file, if it runs), or None.
        path = self.config / "systemd" / "user" / f"{name}-reminder.timer"
        active = self.run(["systemctl", "--user", "is-active", path.name]).stdout.strip() == "active"
        found = re.search(r"^OnCalendar=(.*) UTC$", path.read_text(), re.M) if active and path.exists() else None
        return datetime.datetime.fromisoformat(found[1]).replace(tzinfo=datetime.timezone.utc) if found else None

    def started_by_timer(self, name):
        # The program `name` that its delivery run started on a click, in a scope of its own; or None.
        units = self.run(["systemctl", "--user", "list-units", "--plain", "--no-legend", "app-*.scope"]).stdout
        found = re.search(rf"app-{name}-reminder-(\d+)\.scope", units)
        return Started(int(found[1]), name) if found else None

    def set_time_zone(self, zone):
        # As timedatectl does it: /etc/localtime replaced by a link to the zone, for the programs and the manager.
        link = f"ln -sfn /usr/share/zoneinfo/{zone} /etc/.localtime && mv -T /etc/.localtime /etc/localtime"
        self.run([*self.enter, "sh", "-c", link], check=True)

    def errors(self, program):
        # What the program said on standard error, less the line of every start without a user manager.
        return "".join(line for line in program.error_text().splitlines(True)
                       if self.user_manager or NO_USER_MANAGER not in line)

    def start_tray(self, kind):
        if kind == "panel":
            self.panel = self._spawn("xfce4-panel", ["xfce4-panel", "--disable-wm-check"])
        else:
            self._spawn("trayer", ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                                   "--height", "26", "--iconspacing", "2", "--SetDockType", "true", "--SetPartialStrut",
                                   "true", "--transparent", "false", "--tint", "0xdddddd", "--expand", "true",
                                   "--padding", "4"])
        tray = self.x.intern_atom("_NET_SYSTEM_TRAY_S0")
        wait_until(lambda: self.x.get_selection_owner(tray) != X.NONE, "the tray's selection")
        wait_until(lambda: self.tray_strip().height > 0, "the tray's panel in place")
        # The panel draws itself once mapped; a snapshot before would see every later pixel change.
        drawn = wait_until(lambda: len(set(self.tray_snapshot()[::97])) > 1 and settled(self.tray_snapshot),
                           "the tray's panel to be drawn")
        # Empty, each row is of one colour, that of its left end, where no icon goes. (A program that
        # runs already may be in the tray as it is first drawn.)
        stride = 4 * self.tray_strip().width
        self.empty_tray = b"".join(drawn[y:y + 4] * (stride // 4) for y in range(0, len(drawn), stride))

    # -- programs and the session bus ----------------------------------------------------------

    def start(self, name_or_path, env=None, args=()):
        # A name in the build's app/ folder, or a path; `env` adds to the desktop's environment.
        path = name_or_path if "/" in str(name_or_path) else BUILD / "app" / name_or_path
        program = Program([*self.enter, str(path), *args], {**self.env, **(env or {})}, self.logs)
        self.programs.append(program)
        return program

    def run(self, args, **kwargs):
        return subprocess.run(args, env=self.env, timeout=TIMEOUT, capture_output=True, text=True, **kwargs)

    def notifications(self):
        # What dunst has shown, newest first, as dicts (summary, body, appname, icon_path, desktop_entry...).
        self.run(["dunstctl", "close-all"])  # closed ones move into the history
        entries = json.loads(self.run(["dunstctl", "history"], check=True).stdout)["data"][0]
        log = self.root / "dunst-seen.log"
        seen = dict(line.split(" ", 1) for line in log.read_text().splitlines()) if log.exists() else {}
        return [{**{key: value["data"] for key, value in entry.items()},
                 "desktop_entry": seen.get(str(entry["id"]["data"]), "")} for entry in entries]

    # -- the X server ---------------------------------------------------------------------------

    def _root_property(self, name, default):
        reply = self.screen.root.get_full_property(self.x.intern_atom(name), X.AnyPropertyType)
        return list(reply.value) if reply and len(reply.value) else default

    def workarea(self):
        return Rect(*self._root_property("_NET_WORKAREA", [0, 0, 0, 0])[:4])

    def tray_strip(self):
        if self.panel_monitor is None:
            return Rect(0, 0, self.width, self.workarea().y)
        monitor = self.monitors[self.panel_monitor]
        strip = self.window(self.panel, lambda w: w.rect.width > 100 and monitor.contains(w.rect))
        return strip.rect if strip else Rect(0, 0, 0, 0)

    def active_window(self):
        return self._root_property("_NET_ACTIVE_WINDOW", [0])[0]

    def grabs(self):
        # How many of pointer and keyboard a client holds, as an open popup or menu holds both.
        pointer = self.screen.root.grab_pointer(False, 0, X.GrabModeAsync, X.GrabModeAsync, 0, 0, 0)
        keyboard = self.screen.root.grab_keyboard(False, X.GrabModeAsync, X.GrabModeAsync, 0)
        self.x.ungrab_pointer(0)  # a no-op unless the grab is ours
        self.x.ungrab_keyboard(0)
        self.x.sync()
        return (pointer == X.AlreadyGrabbed) + (keyboard == X.AlreadyGrabbed)

    def keyboard_grabbed(self):
        # Whether another client holds the keyboard, while this one may hold the pointer.
        keyboard = self.screen.root.grab_keyboard(False, X.GrabModeAsync, X.GrabModeAsync, 0)
        self.x.ungrab_keyboard(0)
        self.x.sync()
        return keyboard == X.AlreadyGrabbed

    def pixels(self, rect):
        return self.screen.root.get_image(rect.x, rect.y, rect.width, rect.height, X.ZPixmap, 0xFFFFFFFF).data

    def windows(self, program):
        # The program's viewable windows (by _NET_WM_PID), in screen coordinates.
        found, pid_atom = [], self.x.intern_atom("_NET_WM_PID")

        def visit(window):
            try:
                pid = window.get_full_property(pid_atom, Xatom.CARDINAL)
                attributes = window.get_attributes()
                if pid and pid.value[0] == program.pid and attributes.map_state == X.IsViewable:
                    geometry, origin = window.get_geometry(), window.translate_coords(self.screen.root, 0, 0)
                    title = window.get_full_property(self.x.intern_atom("_NET_WM_NAME"), 0)
                    found.append(Window(window.id, Rect(-origin.x, -origin.y, geometry.width, geometry.height),
                                        bool(attributes.override_redirect), title.value.decode() if title else ""))
                children = window.query_tree().children
            except xerror.XError:
                return
            for child in children:
                visit(child)

        visit(self.screen.root)
        return found

    def window(self, program, predicate):
        return next((w for w in self.windows(program) if predicate(w)), None)

    def open_other_window(self, rect=Rect(200, 300, 320, 200)):
        # A plain managed window, standing for another program; returns its id.
        window = self.screen.root.create_window(rect.x, rect.y, rect.width, rect.height, 0, self.screen.root_depth,
                                                background_pixel=self.screen.white_pixel)
        window.set_wm_hints(flags=Xutil.InputHint, input=1)
        window.set_wm_normal_hints(flags=Xutil.USPosition | Xutil.USSize, x=rect.x, y=rect.y,
                                   width=rect.width, height=rect.height)
        window.map()
        wait_until(lambda: window.get_attributes().map_state == X.IsViewable, "the other window")
        return window.id

    def click(self, x, y, button=1):
        self.run(["xdotool", "mousemove", str(x), str(y)], check=True)
        wait_until(lambda: self.screen.root.query_pointer().root_x == x, f"the pointer at {x},{y}")
        self.run(["xdotool", "click", str(button)], check=True)

    def key(self, *keys):
        self.run(["xdotool", "key", *keys], check=True)

    def type(self, text):
        self.run(["xdotool", "type", "--delay", "5", text], check=True)

    # -- the tray icon --------------------------------------------------------------------------

    def tray_snapshot(self):
        return self.pixels(self.tray_strip())

    def find_tray_icon(self, program, baseline=None):
        # An XEmbed tray (trayer) embeds a window of the program. A StatusNotifierItem host (the
        # panel) draws the icon itself: there it is what changed in the tray strip since
        # `baseline` (a tray_snapshot() taken before the program started; the empty tray).
        strip, before = self.tray_strip(), baseline or self.empty_tray

        def look():
            embedded = [w.rect for w in self.windows(program) if strip.contains(w.rect) and w.rect.height > 1]
            box = embedded[0] if embedded else changed_box(before, self.tray_snapshot(), strip.width)
            return box if embedded or not box else box._replace(x=box.x + strip.x, y=box.y + strip.y)
        return wait_until(lambda: settled(look), f"the tray icon of {program.name}")


def settled(look, pause=0.5):
    # What `look` returns once it stays the same for a while: a tray may still be laying out.
    first = look()
    time.sleep(pause * TIME_FACTOR)
    return first == look() and first


def changed_box(before, after, width):
    # The bounding Rect of the pixels that differ, or None.
    stride = 4 * width
    pairs = [(before[y:y + stride], after[y:y + stride]) for y in range(0, len(after), stride)]
    rows = [y for y, (b, a) in enumerate(pairs) if b != a]
    changed = [pairs[y] for y in rows]
    columns = [x for x in range(width) if any(b[4 * x:4 * x + 4] != a[4 * x:4 * x + 4] for b, a in changed)]
    return Rect(columns[0], rows[0], columns[-1] - columns[0] + 1, rows[-1] - rows[0] + 1) if rows else None
