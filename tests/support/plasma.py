# A private, headless KDE Plasma 5.27 on Wayland: kwin_wayland (with Xwayland) and plasmashell,
# whose panel along the bottom holds the system tray, a host of StatusNotifierItems.
#
#     with Plasma() as desktop:                  # a Desktop without X of its own
#         program = desktop.start("perchlight")
#         closed = desktop.screenshot()
#         desktop.click(x, y)                    # KWin's fake input: a real pointer
#         above, in_panel = desktop.changed(closed, "the popover", lambda above, in_panel: above)
#
# As root, Plasma, its two buses (a session bus that admits every user, a stand-in system bus)
# and the tools run as "nobody"; the program runs as the caller. The installed kwin_wayland
# carries a file capability that a container may not grant: a plain copy of it runs. KWin lets
# only a program whose desktop entry names the protocol use fake input: the client gets one.
# The clock leaves the panel, so that only what a test does changes the screen.

import subprocess
import tempfile
from pathlib import Path

from harness import BUILD, TIMEOUT, Desktop, Rect, changed_box, scratch_env, settled, wait_until
from gnome import SYSTEM_BUS
from sway import BUS_CONFIG, padded

WIDTH, HEIGHT = 1920, 1080
DROP = ["setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups"]
FAKE_INPUT = BUILD / "tests" / "support" / "perch-fake-input"


class Plasma(Desktop):  # WIDTH × HEIGHT
    def _start(self):
        self.root = Path(tempfile.mkdtemp(prefix="perch-plasma."))
        home, runtime, self.logs, self.tools = (self.root / n for n in ("plasma", "plasma-runtime", "logs", "bin"))
        for folder in (home, runtime, self.logs, self.tools):
            folder.mkdir(mode=0o755 if folder == self.tools else 0o700)
        subprocess.run(["cp", "/usr/bin/kwin_wayland", FAKE_INPUT, self.tools], check=True)  # a copy: no capabilities
        for path, text in {  # KWin's grant of fake input; no screen locker, which would hide the screen
                home / ".local/share/applications/input.desktop": "[Desktop Entry]\nType=Application\nName=input\n"
                f"Exec={self.tools}/perch-fake-input\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n",
                home / ".config/kscreenlockerrc": "[Daemon]\nAutolock=false\nLockOnResume=false\n",
                self.root / "session.conf": BUS_CONFIG, self.root / "system.conf": SYSTEM_BUS}.items():
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        self.root.chmod(0o755)
        subprocess.run(["chown", "-R", "nobody:nogroup", home, runtime], check=True)
        subprocess.run(["install", "-d", "-m", "1777", "/tmp/.X11-unix"], check=True)  # where Xwayland's sockets go
        # Services that the session bus starts (the activity manager) take its environment.
        self.env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8", "HOME": str(home), "XDG_RUNTIME_DIR": str(runtime),
                    "XDG_CURRENT_DESKTOP": "KDE", "KDE_FULL_SESSION": "true", "KDE_SESSION_VERSION": "5",
                    "XDG_SESSION_TYPE": "wayland", "WAYLAND_DISPLAY": "wayland-0", "QT_QPA_PLATFORM": "wayland"}
        for kind in ("system", "session"):
            bus = self._spawn(f"dbus-{kind}", [*DROP, "dbus-daemon", f"--config-file={self.root}/{kind}.conf",
                                               "--nofork", "--print-address=1"], stdout=subprocess.PIPE)
            with bus.stdout:
                self.env[f"DBUS_{kind.upper()}_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        self._spawn("kwin", [*DROP, f"{self.tools}/kwin_wayland", "--virtual", "--width", str(WIDTH), "--height",
                             str(HEIGHT), "--xwayland", "--socket", "wayland-0", "plasmashell"])
        thickness = wait_until(lambda: self.script("var p = panels()[0]; p && p.widgets('org.kde.plasma.systemtray')"
                                                   ".length && print(p.height)"), "plasmashell's panel with its tray")
        self.panel = Rect(0, HEIGHT - int(thickness), WIDTH, int(thickness))
        # One input device throughout: Plasma reacts to each new one.
        self.shot, self.notify_log = f"{runtime}/shot.ppm", self.logs / "notify.log"
        self.fake_input = self._spawn("fake-input", [*DROP, f"{self.tools}/perch-fake-input"], stdin=subprocess.PIPE,
                                      text=True, bufsize=1)
        self.plasma_env, self.env = self.env, {**scratch_env(self.root), "XDG_CURRENT_DESKTOP": "KDE",
                                               "DBUS_SESSION_BUS_ADDRESS": self.env["DBUS_SESSION_BUS_ADDRESS"],
                                               "XDG_SESSION_TYPE": "wayland", "WAYLAND_DISPLAY": f"{runtime}/wayland-0"}
        self.script("panels()[0].widgets('org.kde.plasma.digitalclock').forEach(function (w) { w.remove(); })")
        # What the program asks of the notification server, plasmashell.
        self._spawn("dbus-monitor", ["sh", "-c", f"exec dbus-monitor --session member=Notify > {self.notify_log}"])
        self._input("move 600 300")
        self.empty = wait_until(lambda: settled(self.screenshot, 1), "the panel to be drawn")

    def __exit__(self, *exc):
        # The document portal (a portal client starts it) mounts a folder that outlives it.
        subprocess.run(["umount", "--lazy", f"{self.root}/plasma-runtime/doc"], capture_output=True)
        super().__exit__(*exc)
        getattr(self, "fake_input", None) and self.fake_input.stdin.close()

    def script(self, script):
        # What a script of plasmashell's prints; "" where the shell does not answer (yet).
        return self.run(["qdbus", "org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript", script]
                        ).stdout.strip()

    def screenshot(self):
        # The screen's pixels, four bytes each, as changed_box() takes them.
        subprocess.run([*DROP, "spectacle", "--background", "--nonotify", "--fullscreen", "--output", self.shot],
                       env=self.plasma_env, check=True, capture_output=True, timeout=TIMEOUT)
        return padded(Path(self.shot).read_bytes().split(b"\n", 3)[3])

    def changed(self, before, what, predicate):
        # Where the screen differs from `before` (a screenshot), above the panel and in it, as two
        # Rects (None: nowhere; the second's y counts from the panel's top), once settled and
        # accepted by predicate(above, in_panel).
        def look():
            now, cut = self.screenshot(), 4 * WIDTH * self.panel.y
            boxes = changed_box(before[:cut], now[:cut], WIDTH), changed_box(before[cut:], now[cut:], WIDTH)
            return predicate(*boxes) and boxes
        return wait_until(lambda: settled(look), what)

    def click(self, x, y, button=272):  # evdev's codes: 272 left, 273 right; None: the pointer only moves
        # Then the pointer rests away from the panel, whose hovering the tray would show, and from
        # the screen's corners, which KWin lights up.
        self._input(f"move {x} {y}", *([f"button {button} 1", f"button {button} 0"] if button else []), "move 600 300")

    def keys(self, *keys):  # evdev's codes, one after another; those of a tuple pressed together
        for chord in (key if isinstance(key, tuple) else (key,) for key in keys):
            self._input(*(f"key {code} 1" for code in chord), *(f"key {code} 0" for code in reversed(chord)))

    def _input(self, *events):  # which the client passes on in turn
        self.fake_input.stdin.write("".join(event + "\n" for event in events))
