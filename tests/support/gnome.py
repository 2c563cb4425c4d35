# A private, headless GNOME Shell (Wayland, Xwayland on demand) with Debian's AppIndicator
# extension, which hosts StatusNotifierItems in the top bar.
#
#     with Gnome() as desktop:                  # a Desktop without X of its own
#         program = desktop.start("perchlight")
#         icon = desktop.tray_icon()            # the item's button in the top bar, a Rect
#         desktop.click(*icon.center, count=2)  # a virtual pointer in the shell: real clicks
#
# gnome-shell runs as "nobody" (as root; it wants no root), in a mount namespace of its own
# where /run/systemd is empty, so that it looks for no logind; a stand-in system bus and a
# session bus that admits every user. Settings live in a key file (GSETTINGS_BACKEND=keyfile).
# A test extension turns on the shell's unsafe mode, which opens org.gnome.Shell.Eval: the
# tests read the shell's actors and windows through it and click with its virtual pointer.

import json
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from Xlib import display as xdisplay

from harness import Desktop, Rect, scratch_env, settled, wait_until
from sway import BUS_CONFIG

INDICATORS = "ubuntu-appindicators@ubuntu.com"
SYSTEM_BUS = ('<busconfig><type>system</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>'
              '<policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/>'
              '<allow user="*"/></policy>'
              '</busconfig>')
UNSAFE_MODE = "function init() { return { enable() { global.context.unsafe_mode = true; }, disable() {} }; }"
# The item's button among the top bar's, as the extension names its class.
BUTTON = ("Main.panel._rightBox.get_children().map(c => c.get_first_child())"
          ".find(b => b && b.constructor.name == 'AppIndicatorsIndicatorStatusIcon')")


class Gnome(Desktop):  # 1920 × 1080
    def __init__(self, tray_at_start=True):  # else the extension is enabled with start_tray()
        super().__init__(tray=None, width=1920, height=1080)
        self.tray_at_start = tray_at_start
        self.next_click = 0.0

    def _start(self):
        self.root = Path(tempfile.mkdtemp(prefix="perch-gnome."))
        home, runtime, self.logs = self.root / "gnome", self.root / "gnome-runtime", self.root / "logs"
        for folder in (home, runtime, self.logs):
            folder.mkdir(mode=0o700)
        extension = home / ".local/share/gnome-shell/extensions/perch-test@perch"
        extension.mkdir(parents=True)
        (extension / "metadata.json").write_text(json.dumps({"uuid": "perch-test@perch", "name": "perch test",
                                                             "description": "tests", "shell-version": ["43"]}))
        (extension / "extension.js").write_text(UNSAFE_MODE)
        enabled = ["perch-test@perch"] + ([INDICATORS] if self.tray_at_start else [])
        settings = home / ".config/glib-2.0/settings"
        settings.mkdir(parents=True)
        (settings / "keyfile").write_text(f"[org/gnome/shell]\ndisable-user-extensions=false\n"
                                          f"enabled-extensions={enabled!r}\nwelcome-dialog-last-shown-version='999'\n")
        (self.root / "bus.conf").write_text(BUS_CONFIG)
        (self.root / "system.conf").write_text(SYSTEM_BUS)
        self.root.chmod(0o755)
        for path in (home, runtime, *home.rglob("*")):
            shutil.chown(path, "nobody", "nogroup")
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8", "NO_AT_BRIDGE": "1"}
        buses = {}
        for kind in ("session", "system"):
            bus = self._spawn(f"dbus-{kind}", ["dbus-daemon", f"--config-file={self.root}/"
                                              f"{'bus' if kind == 'session' else 'system'}.conf", "--nofork",
                                              "--print-address=1"], stdout=subprocess.PIPE)
            with bus.stdout:
                buses[kind] = bus.stdout.readline().decode().strip()
        session = {**self.env, "DBUS_SESSION_BUS_ADDRESS": buses["session"]}
        self.env = {**session, "DBUS_SYSTEM_BUS_ADDRESS": buses["system"], "HOME": str(home),
                    "XDG_RUNTIME_DIR": str(runtime), "XDG_CURRENT_DESKTOP": "GNOME", "XDG_SESSION_TYPE": "wayland",
                    "GSETTINGS_BACKEND": "keyfile"}
        drop = "setpriv --reuid nobody --regid nogroup --clear-groups"
        self._spawn("gnome-shell", ["unshare", "-m", "--propagation", "private", "sh", "-c",
                                    f"{{ [ ! -d /run/systemd ] || mount -t tmpfs tmpfs /run/systemd; }} && exec {drop} gnome-shell --headless "
                                    f"--wayland --virtual-monitor {self.width}x{self.height}"])
        self.env = {**scratch_env(self.root), **session, "XDG_CURRENT_DESKTOP": "GNOME",
                    "XDG_SESSION_TYPE": "wayland", "WAYLAND_DISPLAY": str(runtime / "wayland-0")}
        wait_until(lambda: self.eval("global.context.unsafe_mode") is True, "GNOME Shell to take Eval")
        # What gnome-session would hand on: the X display that mutter opened for X11 programs.
        for name in ("DISPLAY", "XAUTHORITY"):
            self.env[name] = wait_until(lambda: self.eval(f"imports.gi.GLib.getenv('{name}')"), f"mutter's {name}")
        # The virtual devices come first: a key from a keyboard that has just appeared is lost.
        self.eval("const {Clutter} = imports.gi; let seat = Clutter.get_default_backend()."
                  "get_default_seat(); global.perchPointer = seat.create_virtual_device(Clutter.InputDeviceType."
                  "POINTER_DEVICE); global.perchKeyboard = seat.create_virtual_device(Clutter.InputDeviceType."
                  "KEYBOARD_DEVICE)")
        # The shell opens the overview once it has started, which a busy machine reaches late; a
        # window shown in the overview gets no focus.
        wait_until(lambda: self.eval("Main.layoutManager._startingUp || Main.overview.hide() || Main.overview.visible "
                                     "|| Main.overview.animationInProgress ? null : true"), "the overview to close")
        if self.tray_at_start:
            self._wait_for_tray()

    def eval(self, script):
        # The value of the script in the shell, or None where it fails.
        reply = subprocess.run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                                "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", script],
                               env=self.env, capture_output=True, text=True).stdout.strip()
        if not reply.startswith("(true, '"):
            return None
        value = reply[len("(true, '"):-2]
        return json.loads(value) if value else None

    def start_tray(self):
        self.eval(f"Main.extensionManager.enableExtension('{INDICATORS}')")
        self._wait_for_tray()

    def _wait_for_tray(self):
        wait_until(lambda: self.eval(f"Main.extensionManager.lookup('{INDICATORS}')?.state") == 1,  # enabled
                   "the AppIndicator extension")

    def box(self, actor, what):
        # An actor's place on the stage once it has one: `actor` is a script for it, or for null.
        return Rect(*wait_until(lambda: self.eval(f"let a = {actor}; let r = a && a.visible ? [...a.get_transformed_"
                                                  "position(), a.width, a.height] : []; r.length && r.every(Number."
                                                  "isFinite) && r[2] > 0 ? r.map(Math.round) : null"), what))

    def tray_icon(self):
        # Once it stays put: the bar lays the button out anew as the extension fills it in.
        icon = wait_until(lambda: settled(lambda: self.box(BUTTON, "the item in GNOME's top bar")),
                          "the item's place in the top bar to settle")
        # Until an item has once taken Activate, the extension also opens its menu at the first
        # press of a double click, and the menu then takes the focus from the popover that the
        # second press opens. Every later double click is a clean one: the tests start there.
        self.eval(f"{BUTTON}._indicator.supportsActivation = true")
        return icon

    def top_bar(self):
        return self.box("Main.panel", "the top bar")

    def click(self, x, y, button=1, count=1):
        # Through a virtual pointer of the shell's own seat, as a person's clicks arrive: later than
        # the double-click time after the previous ones, which the shell would otherwise count on
        # (a third click is no double click).
        wait_until(lambda: time.monotonic() >= self.next_click, "the double-click time to pass", interval=0.02)
        self.eval(f"const {{Clutter}} = imports.gi; let p = global.perchPointer, t = imports.gi.GLib.get_monotonic_time(); "
                  f"p.notify_absolute_motion(t, {x}, {y});"
                  f"for (let i = 0; i < {count}; i++) {{ p.notify_button(t + 40 * i + 10, {button}, "
                  "Clutter.ButtonState.PRESSED); p.notify_button(t + 40 * i + 20, "
                  f"{button}, Clutter.ButtonState.RELEASED); }}")
        self.next_click = time.monotonic() + self.eval("imports.gi.Clutter.Settings.get_default().double_click_time") / 1000

    def key(self, combination):
        # A key with the modifiers held, as "Escape" or "Shift_L+Tab": pressed in order, released in reverse.
        names = combination.split("+")
        events = [(name, "PRESSED") for name in names] + [(name, "RELEASED") for name in reversed(names)]
        self.eval("const {Clutter} = imports.gi; let k = global.perchKeyboard, t = imports.gi.GLib.get_monotonic_time();" +
                  "".join(f"k.notify_keyval(t + {10 * i}, Clutter.KEY_{name}, Clutter.KeyState.{state});"
                          for i, (name, state) in enumerate(events)))

    def notification_icons(self, title):
        # The icon names of the notifications with that title in the shell's message tray.
        return self.eval("Main.messageTray.getSources().flatMap(s => s.notifications).filter(n => n.title == "
                         f"{json.dumps(title)}).map(n => n.gicon?.get_names?.() ?? [])")

    def keys_reach(self, program):
        # The X server gives the program's focused window the keys: what mutter focused, Xwayland
        # has taken as its input focus (a key pressed before that is lost, as a person's never is).
        focused = self.eval(f"let w = global.display.focus_window; w?.get_pid() == {program.pid} ? "
                            "w.get_description() : null")
        if not focused:
            return False
        saved = os.environ.get("XAUTHORITY")
        os.environ["XAUTHORITY"] = self.env["XAUTHORITY"]
        try:
            x = xdisplay.Display(self.env["DISPLAY"])
        finally:
            os.environ.pop("XAUTHORITY") if saved is None else os.environ.update(XAUTHORITY=saved)
        try:
            return x.get_input_focus().focus.id == int(focused, 16)
        finally:
            x.close()

    def windows(self, program):
        # The program's windows as the shell has them: title, frame Rect, decorated, focused.
        found = self.eval("global.get_window_actors().map(a => a.meta_window).filter(w => w.get_pid() == "
                          f"{program.pid}).map(w => [w.get_title(), w.get_frame_rect(), w.decorated, w.has_focus()])"
                          ".map(([t, r, d, f]) => [t, [r.x, r.y, r.width, r.height], d, f])") or []
        return [(title, Rect(*rect), decorated, focused) for title, rect, decorated, focused in found]

    def menu_entry(self, label):
        # An entry of the item's menu, once the menu is open and has stopped sliding in.
        return wait_until(lambda: settled(lambda: self.box(
            f"{BUTTON}?.menu; a = a?.isOpen && a._getMenuItems().find(i => i.label?.text == '{label}')",
            f"the menu entry {label}")), f"the menu entry {label} to settle")
