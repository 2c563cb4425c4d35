# A private, headless Wayland desktop: sway with waybar's tray.
#
#     with Sway() as desktop:                   # a Desktop without X: start(), run() and the end
#         program = desktop.start("perchlight")
#         item = desktop.item()                 # the program's StatusNotifierItem
#         desktop.call(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate", "0", "0")
#
# sway refuses root: run as root, sway and waybar run as "nobody" on a session bus that admits
# every user; the program and the tools run as the caller. Wayland tells no client where
# anything is, so the tests look at the screen (grim) and ask the bus.

import json
import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

from harness import Desktop, changed_box, scratch_env, settled, wait_until

WIDTH, HEIGHT, BAR_HEIGHT = 1280, 800, 30
BUS_CONFIG = ('<busconfig><include>/usr/share/dbus-1/session.conf</include>'
              '<policy context="default"><allow user="*"/></policy></busconfig>')


class Sway(Desktop):  # of the default size, WIDTH × HEIGHT
    def __init__(self, bar_at_start=True):  # else waybar starts with start_bar()
        super().__init__(tray=None)
        self.bar_at_start = bar_at_start

    def _start(self):
        self.root = Path(tempfile.mkdtemp(prefix="perch-sway."))
        home, runtime, self.logs = self.root / "sway", self.root / "sway-runtime", self.root / "logs"
        for folder in (home, runtime, self.logs):
            folder.mkdir(mode=0o700)
        bar = {"position": "top", "height": BAR_HEIGHT, "modules-right": ["tray"], "tray": {"icon-size": 22}}
        (home / "waybar.json").write_text(json.dumps(bar))
        (home / "sway.conf").write_text(f"xwayland disable\noutput HEADLESS-1 resolution {WIDTH}x{HEIGHT} background"
                                        f" #708090 solid_color\n")
        (self.root / "bus.conf").write_text(BUS_CONFIG)
        self.drop = []
        if os.geteuid() == 0:
            self.root.chmod(0o755)
            for path in (home, runtime, *home.iterdir()):
                shutil.chown(path, "nobody", "nogroup")
            self.drop = ["setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups"]
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8", "NO_AT_BRIDGE": "1"}
        bus = self._spawn("dbus-daemon", ["dbus-daemon", f"--config-file={self.root}/bus.conf", "--nofork",
                                          "--print-address=1"], stdout=subprocess.PIPE)
        with bus.stdout:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        session = self.env
        self.env = {**session, "HOME": str(home), "XDG_RUNTIME_DIR": str(runtime), "WLR_BACKENDS": "headless",
                    "WLR_RENDERER": "pixman", "WLR_LIBINPUT_NO_DEVICES": "1"}
        self._spawn("sway", [*self.drop, "sway", "-c", str(home / "sway.conf")])
        wait_until((runtime / "wayland-1").exists, "sway's Wayland socket")
        # waybar finds sway through its IPC socket, as a program that sway started would.
        ipc = wait_until(lambda: next(runtime.glob("sway-ipc.*.sock"), None), "sway's IPC socket")
        self.bar_env = {**self.env, "WAYLAND_DISPLAY": "wayland-1", "SWAYSOCK": str(ipc)}
        self.env = {**scratch_env(self.root), **session, "WAYLAND_DISPLAY": str(runtime / "wayland-1")}
        if self.bar_at_start:
            self.start_bar()
            self.bar_only = self.wait_for_change(b"", "waybar", lambda box: box.height <= BAR_HEIGHT) and self.screenshot()

    def start_bar(self):
        env, self.env = self.env, self.bar_env
        try:
            self._spawn("waybar", [*self.drop, "waybar", "-c", str(self.root / "sway" / "waybar.json")])
        finally:
            self.env = env
        wait_until(lambda: "StatusNotifierWatcher" in self.call("org.freedesktop.DBus", "/", "org.freedesktop.DBus."
                                                                "ListNames"), "waybar's tray")

    def call(self, destination, path, method, *args):
        return subprocess.run(["gdbus", "call", "--session", "--dest", destination, "--object-path", path, "--method",
                               method, *args], env=self.env, capture_output=True, text=True).stdout

    def item(self):
        # The bus name of the one StatusNotifierItem in waybar's tray.
        def registered():
            reply = self.call("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.freedesktop.DBus."
                              "Properties.Get", "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems")
            return next(iter(re.findall(r"'([^'/]+)/StatusNotifierItem'", reply)), None)
        return wait_until(registered, "a StatusNotifierItem")

    def choose(self, item, label):
        # A click on an entry of the icon's menu, as the bar reads it (dbusmenu).
        layout = self.call(item, "/MenuBar", "com.canonical.dbusmenu.GetLayout", "0", "int32 -1", "@as []")
        entries = dict((name, number) for number, name in re.findall(r"\((\d+), \{[^}]*'label': <'([^']*)'>", layout))
        self.call(item, "/MenuBar", "com.canonical.dbusmenu.Event", entries[label], "clicked", "<0>", "0")

    def screenshot(self):
        # RGB rows, without the PPM header.
        ppm = subprocess.run(["grim", "-t", "ppm", "-"], env=self.env, capture_output=True, check=True).stdout
        return ppm.split(b"\n", 3)[3]

    def wait_for_change(self, before, what, predicate=lambda box: True):
        # The settled box where the screen differs from `before` (b"": the empty background).
        before = before or bytes.fromhex("708090") * (WIDTH * HEIGHT)

        def box():
            found = changed_box(padded(before), padded(self.screenshot()), WIDTH)
            return found if found and predicate(found) else None
        return wait_until(lambda: settled(box, 0.1), what)


def padded(rgb):
    # Four bytes a pixel, as the X server's images and changed_box() have them.
    out = bytearray(len(rgb) // 3 * 4)
    for c in range(3):
        out[c::4] = rgb[c::3]
    return out
