"""A private, headless Wayland desktop: sway with waybar's tray (see README.md here).

    with SwayDesktop() as desktop:
        program = desktop.start_program("perchlight")
        item = desktop.wait_for_item()        # the program's StatusNotifierItem
        desktop.activate(item)                # what a click on the icon sends
"""

import json
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from desktop import Desktop, _stop_group
from xscreen import DesktopError, Rect, wait_until

WIDTH, HEIGHT, BAR_HEIGHT = 1280, 800, 30
BACKGROUND = bytes.fromhex("708090")
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><include>/usr/share/dbus-1/session.conf</include>
<policy context="default"><allow user="*"/></policy></busconfig>"""
WAYBAR = {"position": "top", "height": BAR_HEIGHT, "modules-right": ["tray"], "tray": {"icon-size": 22}}


class SwayDesktop(Desktop):
    """sway (and waybar) as "nobody" when run as root, since sway refuses root; the program
    and the tools as the caller, on a session bus that admits every user."""

    def __enter__(self):
        self._services, self._programs = [], []
        self.root_dir = Path(tempfile.mkdtemp(prefix="perch-sway."))
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        for program in self._programs:
            program.stop()
        for _, process in reversed(self._services):
            _stop_group(process)
        if not os.environ.get("PERCH_KEEP_DESKTOP"):
            shutil.rmtree(self.root_dir, ignore_errors=True)
        return False

    def _start(self):
        self.log_dir, sway_home, runtime = (self.root_dir / name for name in ("logs", "sway", "sway-runtime"))
        for folder in (self.log_dir, sway_home, runtime):
            folder.mkdir(mode=0o700)
        (sway_home / "waybar.json").write_text(json.dumps(WAYBAR))
        (sway_home / "sway.conf").write_text(f"xwayland disable\noutput HEADLESS-1 resolution {WIDTH}x{HEIGHT} "
                                             f"background #708090 solid_color\nexec waybar -c {sway_home}/waybar.json\n")
        (self.root_dir / "bus.conf").write_text(BUS_CONFIG)
        drop = []
        if os.geteuid() == 0:
            self.root_dir.chmod(0o755)
            for path in (sway_home, runtime, *sway_home.iterdir()):
                shutil.chown(path, "nobody", "nogroup")
            drop = ["setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups"]
        self.env = dict(os.environ)
        bus = self._spawn("dbus-daemon", ["dbus-daemon", f"--config-file={self.root_dir}/bus.conf", "--nofork",
                                          "--print-address=1"], stdout=subprocess.PIPE)
        with bus.stdout:
            address = bus.stdout.readline().decode().strip()
        base = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8", "NO_AT_BRIDGE": "1",
                "DBUS_SESSION_BUS_ADDRESS": address}
        self.env = {**base, "HOME": str(sway_home), "XDG_RUNTIME_DIR": str(runtime), "WLR_BACKENDS": "headless",
                    "WLR_RENDERER": "pixman", "WLR_LIBINPUT_NO_DEVICES": "1"}
        self._spawn("sway", [*drop, "sway", "-c", str(sway_home / "sway.conf")], stdout=subprocess.DEVNULL)
        wait_until((runtime / "wayland-1").exists, "sway's Wayland socket")
        self.sway_socket = wait_until(lambda: next(runtime.glob("sway-ipc.*.sock"), None), "sway's IPC socket")
        self._make_own_folders(base, runtime / "wayland-1")
        wait_until(lambda: self.bus_name_owned("org.kde.StatusNotifierWatcher"), "waybar's tray")
        self.bar_only = self.wait_for_change(BACKGROUND * (WIDTH * HEIGHT), "waybar on screen") and self.screenshot()

    def _make_own_folders(self, base, socket):
        self.env = {**base, "WAYLAND_DISPLAY": str(socket)}
        for key, name in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                          ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "runtime")):
            (self.root_dir / name).mkdir(mode=0o700)
            self.env[key] = str(self.root_dir / name)
        self.config_home = self.root_dir / "config"

    def _gdbus(self, destination, path, method, *args):
        result = self.run(["gdbus", "call", "--session", "--dest", destination, "--object-path", path,
                           "--method", method, *args])
        if result.returncode != 0:
            raise DesktopError(f"{method} failed: {result.stderr}")
        return result.stdout

    def wait_for_item(self):
        """The bus name of the StatusNotifierItem in waybar's tray."""
        def item():
            reply = self._gdbus("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierWatcher",
                                "RegisteredStatusNotifierItems")
            return next(iter(re.findall(r"'([^'/]+)/StatusNotifierItem'", reply)), None)
        return wait_until(item, "the program's StatusNotifierItem")

    def item_property(self, item, name):
        return self._gdbus(item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                           "org.kde.StatusNotifierItem", name)

    def activate(self, item):
        self._gdbus(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate", str(WIDTH - 20), "10")

    def menu(self, item):
        """The icon's menu as the bar reads it (dbusmenu): label → id."""
        layout = self._gdbus(item, "/MenuBar", "com.canonical.dbusmenu.GetLayout", "0", "int32 -1", "@as []")
        return {label: int(number) for number, label in re.findall(r"\((\d+), \{[^}]*'label': <'([^']*)'>", layout)}

    def choose(self, item, label):
        self._gdbus(item, "/MenuBar", "com.canonical.dbusmenu.Event", str(self.menu(item)[label]), "clicked", "<0>",
                    "0")

    def windows(self):
        """The views sway manages, tiled or floating (layer surfaces are none of them)."""
        tree = self.run(["swaymsg", "-s", str(self.sway_socket), "-t", "get_tree", "-r"]).stdout
        return re.findall(r'"app_id": "([^"]*)"', tree)

    def screenshot(self):
        """The output's pixels, RGB, through sway's screencopy."""
        result = subprocess.run(["grim", "-t", "ppm", "-"], env=self.env, capture_output=True, check=True)
        return result.stdout.split(b"\n", 3)[3]

    def changed_box(self, before, after):
        stride = 3 * WIDTH
        rows = [y for y in range(HEIGHT) if before[y * stride:(y + 1) * stride] != after[y * stride:(y + 1) * stride]]
        columns = [x for x in range(WIDTH) if any(before[y * stride + 3 * x:y * stride + 3 * x + 3]
                                                  != after[y * stride + 3 * x:y * stride + 3 * x + 3] for y in rows[::4])]
        return Rect(columns[0], rows[0], columns[-1] - columns[0] + 1, rows[-1] - rows[0] + 1) if columns else None

    def wait_for_change(self, before, what, predicate=lambda box: True):
        """The settled box in which the screen differs from `before`, once `predicate` holds."""
        def look():
            first = self.changed_box(before, self.screenshot())
            time.sleep(0.1)
            second = self.changed_box(before, self.screenshot())
            return second if second and first == second and predicate(second) else None
        return wait_until(look, what)
