"""A private, headless Wayland desktop: sway with waybar's tray, for the Wayland tests.

    with SwayDesktop() as desktop:
        program = desktop.start_program("perchlight")
        item = desktop.wait_for_item()               # the program's StatusNotifierItem
        desktop.activate(item)                       # what a click on the icon sends
        box = desktop.changed_box(before, desktop.screenshot())

sway runs headless (WLR_BACKENDS=headless, WLR_RENDERER=pixman) on one 1280 × 800 output,
with waybar at the top holding only a tray. sway refuses to run as root, so when the tests
run as root, sway and waybar run as the unprivileged user "nobody" with a home and a runtime
folder of their own; the program under test and the tools run as the caller. They meet on a
session bus that admits every user. `Accessibility(desktop)` works on it as on Desktop.
"""

import json
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from desktop import Program, _stop_group, build_dir
from xscreen import DEFAULT_TIMEOUT, DesktopError, Rect, wait_until

WIDTH, HEIGHT, BAR_HEIGHT = 1280, 800, 30
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <include>/usr/share/dbus-1/session.conf</include>
  <policy context="default"><allow user="*"/></policy>
</busconfig>
"""
WAYBAR_CONFIG = {"layer": "top", "position": "top", "height": BAR_HEIGHT, "modules-left": [], "modules-center": [],
                 "modules-right": ["tray"], "tray": {"icon-size": 22, "spacing": 4}}


class SwayDesktop:
    def __enter__(self):
        self._services = []
        self._programs = []
        self.root_dir = Path(tempfile.mkdtemp(prefix="perch-sway."))
        self.log_dir = self.root_dir / "logs"
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        for program in self._programs:
            program.stop()
        for process in reversed(self._services):
            _stop_group(process)
        if not os.environ.get("PERCH_KEEP_DESKTOP"):
            shutil.rmtree(self.root_dir, ignore_errors=True)
        return False

    def _start(self):
        sway_home, sway_runtime = self.root_dir / "sway-home", self.root_dir / "sway-runtime"
        folders = {name: self.root_dir / name for name in ("home", "config", "data", "cache", "runtime")}
        for folder in [self.log_dir, sway_home, sway_runtime, *folders.values()]:
            folder.mkdir(mode=0o700)
        (sway_home / "waybar.json").write_text(json.dumps(WAYBAR_CONFIG))
        (sway_home / "sway.conf").write_text(
            f"xwayland disable\noutput HEADLESS-1 resolution {WIDTH}x{HEIGHT} background #708090 solid_color\n"
            f"exec waybar -c {sway_home / 'waybar.json'}\n")
        (self.root_dir / "bus.conf").write_text(BUS_CONFIG)
        drop = []
        if os.geteuid() == 0:
            self.root_dir.chmod(0o755)
            for path in (sway_home, sway_runtime, *sway_home.iterdir()):
                shutil.chown(path, "nobody", "nogroup")
            drop = ["setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups"]

        bus = self._spawn("dbus-daemon", ["dbus-daemon", f"--config-file={self.root_dir / 'bus.conf'}", "--nofork",
                                          "--print-address=1"], env=os.environ.copy(), stdout=subprocess.PIPE)
        with bus.stdout:
            self.bus_address = bus.stdout.readline().decode().strip()
        if not self.bus_address:
            raise DesktopError("dbus-daemon did not start")
        base = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8", "NO_AT_BRIDGE": "1",
                "DBUS_SESSION_BUS_ADDRESS": self.bus_address}
        sway_env = {**base, "HOME": str(sway_home), "XDG_RUNTIME_DIR": str(sway_runtime),
                    "WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman", "WLR_LIBINPUT_NO_DEVICES": "1"}
        self._spawn("sway", [*drop, "sway", "-c", str(sway_home / "sway.conf")], env=sway_env,
                    stdout=subprocess.DEVNULL)
        socket = sway_runtime / "wayland-1"
        wait_until(socket.exists, "sway's Wayland socket")
        self.sway_socket = wait_until(lambda: next(iter(sway_runtime.glob("sway-ipc.*.sock")), None), "sway's IPC")
        self.env = {**base, "HOME": str(folders["home"]), "XDG_CONFIG_HOME": str(folders["config"]),
                    "XDG_DATA_HOME": str(folders["data"]), "XDG_CACHE_HOME": str(folders["cache"]),
                    "XDG_RUNTIME_DIR": str(folders["runtime"]), "WAYLAND_DISPLAY": str(socket)}
        self.config_home = folders["config"]
        wait_until(lambda: self.bus_name_owned("org.kde.StatusNotifierWatcher"), "waybar's tray")
        # The bar is drawn once waybar has its layer surface.
        wait_until(lambda: self.changed_box(self.blank(), self.screenshot()), "waybar on screen")

    def _spawn(self, name, args, env, **kwargs):
        with open(self.log_dir / f"{name}.err", "wb") as log:
            process = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stderr=log, start_new_session=True,
                                       **kwargs)
        self._services.append(process)
        return process

    # -- programs and the bus -----------------------------------------------------------------

    def start_program(self, name, *args, env=None):
        program_env = dict(self.env)
        for key, value in (env or {}).items():
            if value is None:
                program_env.pop(key, None)
            else:
                program_env[key] = value
        program = Program([str(build_dir() / "app" / name), *args], program_env, self.log_dir)
        self._programs.append(program)
        return program

    def run(self, args, timeout=DEFAULT_TIMEOUT, env=None, **kwargs):
        return subprocess.run(args, env={**self.env, **(env or {})}, timeout=timeout, capture_output=True,
                              text=kwargs.pop("text", True), **kwargs)

    def bus_name_owned(self, name):
        result = self.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                           "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", f"string:{name}"])
        return "boolean true" in result.stdout

    def _gdbus(self, destination, path, method, *args):
        result = self.run(["gdbus", "call", "--session", "--dest", destination, "--object-path", path,
                           "--method", method, *args])
        if result.returncode != 0:
            raise DesktopError(f"{method} failed: {result.stderr}")
        return result.stdout

    def wait_for_item(self):
        """The bus name of the one StatusNotifierItem waybar's tray holds."""
        def item():
            reply = self._gdbus("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierWatcher",
                                "RegisteredStatusNotifierItems")
            names = re.findall(r"'([^'/]+)/StatusNotifierItem'", reply)
            return names[0] if names else None
        return wait_until(item, "the program's StatusNotifierItem")

    def item_property(self, item, name):
        return self._gdbus(item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                           "org.kde.StatusNotifierItem", name)

    def activate(self, item):
        """What the tray sends for a click on the icon."""
        self._gdbus(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate", str(WIDTH - 20), "10")

    def menu(self, item):
        """The labels of the icon's menu, with their ids."""
        layout = self._gdbus(item, "/MenuBar", "com.canonical.dbusmenu.GetLayout", "0", "int32 -1", "@as []")
        return {label: int(number) for number, label in re.findall(r"\((\d+), \{[^}]*'label': <'([^']*)'>", layout)}

    def choose(self, item, label):
        """A click on that entry of the icon's menu."""
        self._gdbus(item, "/MenuBar", "com.canonical.dbusmenu.Event", str(self.menu(item)[label]), "clicked",
                    "<0>", "0")

    def windows(self):
        """The windows sway manages (tiled or floating); layer surfaces are none of them."""
        tree = json.loads(self.run(["swaymsg", "-s", str(self.sway_socket), "-t", "get_tree", "-r"]).stdout)
        found = []

        def visit(node):
            if node.get("pid"):
                found.append(node)
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                visit(child)
        visit(tree)
        return found

    # -- what is on screen --------------------------------------------------------------------

    def screenshot(self, path=None):
        """The output's pixels as RGB bytes (grim, through sway's screencopy); saved as PNG
        when a path is given."""
        if path:
            self.run(["grim", str(path)], text=False, check=True)
        result = self.run(["grim", "-t", "ppm", "-"], text=False)
        if result.returncode != 0:
            raise DesktopError("grim failed: " + result.stderr.decode(errors="replace"))
        header = result.stdout.split(b"\n", 3)
        return header[3]

    def blank(self):
        return bytes.fromhex("708090") * (WIDTH * HEIGHT)

    def changed_box(self, before, after):
        """The rectangle that differs between two screenshots; None where nothing does."""
        stride = 3 * WIDTH
        rows = [y for y in range(HEIGHT) if before[y * stride:(y + 1) * stride] != after[y * stride:(y + 1) * stride]]
        if not rows:
            return None
        columns = [x for x in range(WIDTH)
                   if any(before[y * stride + 3 * x:y * stride + 3 * x + 3] != after[y * stride + 3 * x:y * stride + 3 * x + 3]
                          for y in rows[::4])]
        if not columns:
            return None
        return Rect(columns[0], rows[0], columns[-1] - columns[0] + 1, rows[-1] - rows[0] + 1)

    def wait_for_change(self, before, what, predicate=lambda box: True):
        """Waits until the screen differs from `before` by a settled box that satisfies
        `predicate`, and returns that box."""
        def look():
            first = self.changed_box(before, self.screenshot())
            time.sleep(0.1)
            second = self.changed_box(before, self.screenshot())
            return second if second and first == second and predicate(second) else None
        return wait_until(look, what)
